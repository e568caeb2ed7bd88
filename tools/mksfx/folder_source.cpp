#include "sources.h"

#include <algorithm>
#include <zlib.h>

namespace sfx {

namespace {

const size_t ChunkSize = 1 << 16;

class Deflater {
public:
    Deflater()
    {
        if (deflateInit2(&z_, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
            throw Failure("zlib cannot start deflating");
    }
    ~Deflater() { deflateEnd(&z_); }

    // Compresses count bytes (the last ones when finish is set) into writer.
    void Feed(const uint8_t* data, size_t count, bool finish, ArchiveWriter& writer)
    {
        z_.next_in = const_cast<uint8_t*>(data);
        z_.avail_in = (uInt)count;
        int result;
        do {
            uint8_t out[ChunkSize];
            z_.next_out = out;
            z_.avail_out = sizeof out;
            result = deflate(&z_, finish ? Z_FINISH : Z_NO_FLUSH);
            if (result == Z_STREAM_ERROR)
                throw Failure("zlib failed while deflating");
            writer.WriteData(out, sizeof out - z_.avail_out);
        } while (z_.avail_out == 0 || (finish && result != Z_STREAM_END));
    }

private:
    z_stream z_{};
};

}  // namespace

FolderSource::FolderSource(const std::string& folder, const std::string& output)
    : output_(IdentityOf(output)), root_(FinalPath(folder))
{
    std::vector<std::string> ancestors = {IdentityOf(folder)};
    Scan(folder, "", ancestors);
    if (items_.empty())
        throw Failure("the folder " + folder + " is empty; there is nothing to pack");
}

void FolderSource::Scan(const std::string& path, const std::string& prefix, std::vector<std::string>& ancestors)
{
    for (const FolderItem& found : ListFolder(path)) {
        if (!output_.empty() && found.identity == output_)
            continue;
        Item item{prefix + found.name, path + "/" + found.name, found.kind == Kind::Folder, found.size,
                  found.timeDate};
        if (found.link) {
            // A link would land as a file holding its target's path; what
            // it leads to is packed instead, if that is part of the folder.
            std::string target = FinalPath(item.path);
            if (found.kind == Kind::Missing || target.empty())
                throw Failure(item.path + " is a symbolic link that leads nowhere (to nothing, or around a loop)");
            if (!PathInside(target, root_))
                throw Failure(item.path + " is a symbolic link to " + target + ", outside the folder being packed");
        }
        if (found.kind != Kind::File && found.kind != Kind::Folder)
            throw Failure(item.path + " is neither a file nor a folder");
        if (item.folder)
            item.name += '/';
        // Not a separator where the file comes from, but one to the extractor.
        if (found.name.find('\\') != std::string::npos)
            throw Failure(item.path + " has '\\' in its name, which Windows reads as a folder separator");
        EntryName name{item.name};
        std::string problem = NameProblem(name);
        if (!problem.empty())
            throw Failure(item.path + ": entry " + Quoted(name) + " " + problem);
        names_.Add(name);
        if (item.size > 0xFFFFFFFF)
            throw Failure(item.path + " is 4 GiB or larger, which needs ZIP64");
        items_.push_back(item);
        if (item.folder) {
            if (!found.identity.empty()
                && std::find(ancestors.begin(), ancestors.end(), found.identity) != ancestors.end())
                throw Failure(item.path + " leads back to a folder that holds it");
            ancestors.push_back(found.identity);
            Scan(item.path, item.name, ancestors);
            ancestors.pop_back();
        }
    }
}

void FolderSource::Write(ArchiveWriter& writer)
{
    for (const Item& item : items_) {
        if (item.folder) {
            Entry e;
            e.name = item.name;
            e.timeDate = item.timeDate;
            e.flags = NameFlags(EntryName{e.name});
            e.externalAttributes = DosFolderAttribute;
            writer.BeginEntry(e);
            writer.EndEntry(e);
        } else {
            WriteFile(item, writer);
        }
    }
    writer.Finish("");
}

void FolderSource::WriteFile(const Item& item, ArchiveWriter& writer)
{
    InputFile in(item.path);
    Entry e;
    e.name = item.name;
    e.timeDate = item.timeDate;
    e.method = MethodDeflated;
    e.flags = FlagMaximumCompression | NameFlags(EntryName{e.name});
    writer.BeginEntry(e);

    Deflater deflater;
    uint8_t buffer[ChunkSize];
    uLong crc = crc32(0, nullptr, 0);
    uint64_t size = 0;
    for (;;) {
        size_t got = in.ReadSome(buffer, sizeof buffer);
        crc = crc32(crc, buffer, (uInt)got);
        size += got;
        deflater.Feed(buffer, got, got < sizeof buffer, writer);
        if (got < sizeof buffer)
            break;
    }
    if (size > 0xFFFFFFFF)
        throw Failure(item.path + " grew to 4 GiB or more while it was packed");

    if (writer.DataWritten() >= size) {
        // Deflating did not help: store the file instead.
        writer.RestartData();
        in.Rewind();
        uLong storedCrc = crc32(0, nullptr, 0);
        uint64_t stored = 0;
        while (size_t got = in.ReadSome(buffer, sizeof buffer)) {
            storedCrc = crc32(storedCrc, buffer, (uInt)got);
            stored += got;
            writer.WriteData(buffer, got);
        }
        if (stored != size || storedCrc != crc)
            throw Failure(item.path + " changed while it was packed");
        e.method = MethodStored;
        e.flags &= ~FlagMaximumCompression;
        e.versionNeeded = 10;
    }
    e.crc = (uint32_t)crc;
    e.compressedSize = (uint32_t)writer.DataWritten();
    e.uncompressedSize = (uint32_t)size;
    writer.EndEntry(e);
}

}  // namespace sfx
