#include "sources.h"

#include <algorithm>
#include <cstdio>
#include <zlib.h>

#include "zip_reader.h"

namespace sfx {

namespace {

const size_t ChunkSize = 1 << 16;

std::string MethodName(uint16_t method)
{
    switch (method) {
    case 1: return "shrink (method 1)";
    case 6: return "implode (method 6)";
    case 9: return "deflate64 (method 9)";
    case 12: return "bzip2 (method 12)";
    case 14: return "LZMA (method 14)";
    case 93: return "Zstandard (method 93)";
    case 95: return "xz (method 95)";
    case 98: return "PPMd (method 98)";
    default: return "method " + std::to_string(method);
    }
}

// Why the extractor cannot read an entry of this form, or "" when it can.
std::string FormatProblem(const CentralRecord& r)
{
    if (r.method == MethodAes || HasExtraBlock(r.extra, ExtraAes))
        return "is AES-encrypted; the extractor knows only traditional ZIP encryption";
    if (r.flags & (FlagStrongEncryption | FlagMaskedHeaders))
        return "uses strong encryption; the extractor knows only traditional ZIP encryption";
    if (r.compressedSize == 0xFFFFFFFF || r.uncompressedSize == 0xFFFFFFFF || r.localOffset == 0xFFFFFFFF
        || r.disk == 0xFFFF)
        return "is a ZIP64 entry; the extractor reads only sizes and offsets below 4 GiB";
    if (r.method != MethodStored && r.method != MethodDeflated)
        return "is compressed with " + MethodName(r.method) + "; the extractor reads only stored and deflated entries";
    return "";
}

// What an entry is besides a file or a folder named with a trailing "/".
// Old MS-DOS writers mark folders by their attributes alone.
enum class Form { Plain, FolderByAttributes, Link };

Form FormOf(const CentralRecord& r)
{
    uint32_t host = r.versionMadeBy >> 8, type = (r.externalAttributes >> 16) & UnixTypeMask;
    if (host == HostUnix && type == UnixLink)
        return Form::Link;
    if (!r.name.empty() && (r.name.back() == '/' || r.name.back() == '\\'))
        return Form::Plain;
    bool dosFolder = (host == HostMsDos || host == HostNtfs || host == HostVfat)
                     && (r.externalAttributes & DosFolderAttribute);
    return dosFolder || (host == HostUnix && type == UnixFolder) ? Form::FolderByAttributes : Form::Plain;
}

// Leading "./" parts name the archive's own top folder.
std::string WithoutLeadingDots(std::string name)
{
    while (name.compare(0, 2, "./") == 0)
        name.erase(0, 2);
    return name;
}

// Checks compressed data as it passes: its decoded length and CRC-32, and
// for deflate that the stream ends exactly with the compressed size.
class DataCheck {
public:
    DataCheck(const Entry& entry, const std::string& label)
        : label_(label), crc_(entry.crc), size_(entry.uncompressedSize)
    {
        inflating_ = entry.method == MethodDeflated && !(entry.flags & FlagEncrypted);
        if (inflating_ && inflateInit2(&z_, -MAX_WBITS) != Z_OK)
            throw Failure("zlib cannot start inflating");
    }
    ~DataCheck()
    {
        if (inflating_)
            inflateEnd(&z_);
    }

    void Feed(const uint8_t* data, size_t count)
    {
        if (!inflating_) {
            Count(data, count);
            return;
        }
        if (ended_)
            Damaged("its deflate data ends before its compressed size");
        z_.next_in = const_cast<uint8_t*>(data);
        z_.avail_in = (uInt)count;
        while (z_.avail_in > 0 && !ended_) {
            uint8_t out[ChunkSize];
            z_.next_out = out;
            z_.avail_out = sizeof out;
            int result = inflate(&z_, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END)
                Damaged("its deflate data does not decode");
            Count(out, sizeof out - z_.avail_out);
            ended_ = result == Z_STREAM_END;
        }
        if (ended_ && z_.avail_in > 0)
            Damaged("its deflate data ends before its compressed size");
    }

    void Finish()
    {
        // Output that inflate still holds back at the end of the input.
        while (inflating_ && !ended_) {
            uint8_t out[ChunkSize];
            z_.next_in = nullptr;
            z_.avail_in = 0;
            z_.next_out = out;
            z_.avail_out = sizeof out;
            int result = inflate(&z_, Z_NO_FLUSH);
            Count(out, sizeof out - z_.avail_out);
            ended_ = result == Z_STREAM_END;
            if (result != Z_OK && !ended_)
                Damaged("its deflate data is cut short");
        }
        if (decodedSize_ != size_ || decodedCrc_ != crc_)
            Damaged("its data does not match its CRC-32 and size");
    }

private:
    void Count(const uint8_t* data, size_t count)
    {
        decodedCrc_ = crc32(decodedCrc_, data, (uInt)count);
        decodedSize_ += count;
    }
    [[noreturn]] void Damaged(const std::string& why)
    {
        throw Failure("entry " + label_ + " is damaged: " + why);
    }

    std::string label_;
    uLong crc_;
    uint64_t size_;
    bool inflating_ = false, ended_ = false;
    z_stream z_{};
    uLong decodedCrc_ = crc32(0, nullptr, 0);
    uint64_t decodedSize_ = 0;
};

}  // namespace

ZipSource::ZipSource(const std::string& path, NameEncoding encoding) : file_(path)
{
    CentralDirectory cd = ReadCentralDirectory(file_);
    comment_ = cd.comment;
    size_t bytesKept = 0;
    std::string firstBytesKept;
    for (const CentralRecord& r : cd.records) {
        if (WithoutLeadingDots(r.name).empty() && !r.name.empty() && r.name.back() == '/')
            continue;                       // "./": the destination folder itself
        std::string label = Quoted(r.name);
        auto refuse = [&](const std::string& why) { throw Failure(path + ": entry " + label + " " + why); };
        std::string problem = FormatProblem(r);
        if (!problem.empty())
            refuse(problem);

        uint8_t local[LocalHeaderSize];
        uint64_t headerOffset = cd.shift + r.localOffset;
        if (headerOffset + LocalHeaderSize > cd.start)
            refuse("is damaged: its local header lies beyond the archive");
        file_.ReadAt(headerOffset, local, sizeof local);
        if (Get32(local) != LocalSignature)
            refuse("is damaged: there is no local header at offset " + std::to_string(headerOffset));
        uint16_t localNameSize = Get16(local + 26), localExtraSize = Get16(local + 28);
        uint64_t dataOffset = headerOffset + LocalHeaderSize + localNameSize + localExtraSize;
        if (dataOffset + r.compressedSize > cd.start)
            refuse("is damaged: its data runs into the central directory");
        bool encrypted = r.flags & FlagEncrypted;
        uint32_t headerBytes = encrypted ? (uint32_t)EncryptionHeaderSize : 0;
        if (r.compressedSize < headerBytes || (r.method == MethodDeflated && r.compressedSize == headerBytes))
            refuse("is damaged: it has no compressed data");
        std::string localExtra(localExtraSize, '\0');
        file_.ReadAt(headerOffset + LocalHeaderSize + localNameSize, &localExtra[0], localExtra.size());

        // A Unicode Path field may be in either header.
        EntryName name = ReadZipName(r.name, r.flags, r.versionMadeBy, r.extra + localExtra, encoding);
        name.text = WithoutLeadingDots(name.text);
        label = Quoted(name);
        Form form = FormOf(r);
        if (form == Form::Link)
            refuse("is a symbolic link, which the extractor would write as a file holding the path it points to");
        if (form == Form::FolderByAttributes) {
            if (r.uncompressedSize != 0)
                refuse("is a folder by its attributes but holds data");
            name.text += '/';
        }
        problem = NameProblem(name);
        if (!problem.empty())
            refuse(problem);
        names_.Add(name);
        if (name.ansi && encoding != NameEncoding::Ansi && bytesKept++ == 0)
            firstBytesKept = label;

        Entry e;
        e.name = name.text;
        e.versionMadeBy = r.versionMadeBy;
        // 4.5 is ZIP64's version, and its extra block goes below.
        e.versionNeeded = std::min<uint16_t>(r.versionNeeded, 20);
        e.method = r.method;
        // The local header's time: it is what extraction stamps, and with
        // flag bit 3 its high byte is what a password is checked against.
        e.timeDate = Get32(local + 10);
        e.crc = r.crc;
        e.compressedSize = r.compressedSize;
        e.uncompressedSize = r.uncompressedSize;
        e.localExtra = ExtraToKeep(localExtra);
        e.centralExtra = ExtraToKeep(r.extra);
        e.comment = r.comment;
        e.internalAttributes = r.internalAttributes;
        e.externalAttributes = r.externalAttributes;
        // Bit 3 makes the password check compare with the time instead of
        // the CRC, so an encrypted entry keeps it, with a descriptor as the
        // bit promises. Every other entry has its sizes in its header only.
        e.flags = encrypted ? r.flags : (uint16_t)(r.flags & ~FlagDescriptor);
        e.descriptor = encrypted && (r.flags & FlagDescriptor);
        if (form == Form::FolderByAttributes) {
            e.method = MethodStored;
            e.flags = 0;
            e.descriptor = false;
            e.crc = e.compressedSize = 0;
        }
        e.flags = (uint16_t)((e.flags & ~FlagUtf8) | NameFlags(name));
        items_.push_back({e, label, dataOffset});
    }
    if (items_.empty())
        throw Failure(path + " has no entries; there is nothing to pack");
    if (bytesKept > 0)
        std::fprintf(stderr, "mksfx: warning: entry %s%s neither UTF-8 nor from an MS-DOS or Windows host; the bytes "
                             "are kept, for the ANSI code page of the Windows that extracts them (--name-encoding "
                             "cp437 or utf8 reads them otherwise)\n",
                     firstBytesKept.c_str(),
                     bytesKept == 1 ? " has a name that is"
                                    : (" and " + std::to_string(bytesKept - 1) + " more have names that are").c_str());
}

uint64_t ZipSource::SizeInAdvance() const
{
    uint64_t size = EndRecordSize + comment_.size();
    for (const Item& item : items_) {
        const Entry& e = item.entry;
        size += LocalHeaderSize + e.name.size() + e.localExtra.size() + e.compressedSize
              + (e.descriptor ? (uint64_t)DescriptorSize : 0);
        size += CentralHeaderSize + e.name.size() + e.centralExtra.size() + e.comment.size();
    }
    return size;
}

void ZipSource::Write(ArchiveWriter& writer)
{
    for (Item& item : items_) {
        writer.BeginEntry(item.entry);
        CopyData(item, writer);
        writer.EndEntry(item.entry);
    }
    writer.Finish(comment_);
}

void ZipSource::CopyData(const Item& item, ArchiveWriter& writer)
{
    const Entry& e = item.entry;
    // Encrypted data cannot be checked without its password.
    bool checked = !(e.flags & FlagEncrypted);
    DataCheck check(e, item.label);
    uint8_t buffer[ChunkSize];
    for (uint64_t done = 0; done < e.compressedSize;) {
        size_t count = (size_t)std::min<uint64_t>(sizeof buffer, e.compressedSize - done);
        file_.ReadAt(item.dataOffset + done, buffer, count);
        writer.WriteData(buffer, count);
        if (checked)
            check.Feed(buffer, count);
        done += count;
    }
    if (checked)
        check.Finish();
}

void RawSource::Write(ArchiveWriter& writer)
{
    uint8_t buffer[ChunkSize];
    while (size_t got = file_.ReadSome(buffer, sizeof buffer))
        writer.WriteData(buffer, got);
}

}  // namespace sfx
