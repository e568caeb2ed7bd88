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

// An entry's content decoded from its compressed data, checked at its end:
// its decoded length and CRC-32, and for deflate that the stream ends
// exactly with the compressed size.
class DecodedData : public EntryData {
public:
    DecodedData(InputFile& file, uint64_t offset, const Entry& entry, const std::string& label)
        : file_(file), offset_(offset), packed_(entry.compressedSize), crc_(entry.crc),
          size_(entry.uncompressedSize), deflated_(entry.method == MethodDeflated), label_(label), input_(ChunkSize)
    {
        if (deflated_ && inflateInit2(&z_, -MAX_WBITS) != Z_OK)
            throw Failure("zlib cannot start inflating");
        Rewind();
    }
    ~DecodedData() override
    {
        if (deflated_)
            inflateEnd(&z_);
    }

    size_t Read(uint8_t* buffer, size_t count) override
    {
        size_t produced = deflated_ ? Inflate(buffer, count) : Copy(buffer, count);
        decodedCrc_ = crc32(decodedCrc_, buffer, (uInt)produced);
        decodedSize_ += produced;
        if (produced < count && (decodedSize_ != size_ || decodedCrc_ != crc_))
            Damaged("its data does not match its CRC-32 and size");
        return produced;
    }

    void Rewind() override
    {
        if (deflated_)
            inflateReset(&z_);
        z_.avail_in = 0;
        consumed_ = 0;
        ended_ = false;
        decodedCrc_ = crc32(0, nullptr, 0);
        decodedSize_ = 0;
    }

    bool KnownCrc(uint32_t& crc) const override
    {
        crc = crc_;
        return true;
    }

private:
    size_t Copy(uint8_t* buffer, size_t count)
    {
        size_t n = (size_t)std::min<uint64_t>(count, packed_ - consumed_);
        file_.ReadAt(offset_ + consumed_, buffer, n);
        consumed_ += n;
        return n;
    }

    size_t Inflate(uint8_t* buffer, size_t count)
    {
        z_.next_out = buffer;
        z_.avail_out = (uInt)count;
        while (z_.avail_out > 0 && !ended_) {
            if (z_.avail_in == 0) {
                if (consumed_ == packed_)
                    Damaged("its deflate data is cut short");
                size_t n = (size_t)std::min<uint64_t>(input_.size(), packed_ - consumed_);
                file_.ReadAt(offset_ + consumed_, input_.data(), n);
                consumed_ += n;
                z_.next_in = input_.data();
                z_.avail_in = (uInt)n;
            }
            int result = inflate(&z_, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END)
                Damaged("its deflate data does not decode");
            ended_ = result == Z_STREAM_END;
        }
        if (ended_ && (z_.avail_in > 0 || consumed_ < packed_))
            Damaged("its deflate data ends before its compressed size");
        return count - z_.avail_out;
    }

    [[noreturn]] void Damaged(const std::string& why)
    {
        throw Failure("entry " + label_ + " is damaged: " + why);
    }

    InputFile& file_;
    uint64_t offset_, packed_;
    uLong crc_;
    uint64_t size_;
    bool deflated_;
    std::string label_;
    std::vector<uint8_t> input_;
    z_stream z_{};
    uint64_t consumed_ = 0;
    bool ended_ = false;
    uLong decodedCrc_ = 0;
    uint64_t decodedSize_ = 0;
};

}  // namespace

ZipSource::ZipSource(const std::string& path, NameEncoding encoding, bool recompress, const std::string& password)
    : file_(path), recompress_(recompress), cipher_(password)
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
        // 4.5 is ZIP64's version, which the writer gives the entries that
        // need it.
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
        // A folder is written with no data, whatever its writer stored for
        // it: jar tools give "META-INF/" an empty deflate stream, which a
        // header of ours without the data behind it would walk into.
        bool folder = form == Form::FolderByAttributes || (name.text.back() == '/' && r.uncompressedSize == 0);
        if (folder) {
            e.method = MethodStored;
            e.flags = 0;
            e.descriptor = false;
            e.crc = 0;
            e.compressedSize = 0;
        }
        e.flags = (uint16_t)((e.flags & ~FlagUtf8) | NameFlags(name));
        // A UTF-8 name from an MS-DOS host reads as OEM bytes to unzip.
        if ((e.versionMadeBy >> 8) == HostMsDos && (e.flags & FlagUtf8))
            e.versionMadeBy = (uint16_t)((HostNtfs << 8) | (e.versionMadeBy & 0xFF));
        items_.push_back({e, label, dataOffset, folder, !password.empty() && !encrypted && !folder});
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

bool ZipSource::EncryptsAny() const
{
    return std::any_of(items_.begin(), items_.end(), [](const Item& item) { return item.encrypt; });
}

uint64_t ZipSource::ContentSize() const
{
    uint64_t size = 0;
    for (const Item& item : items_)
        size += item.entry.uncompressedSize;
    return size;
}

void ZipSource::Write(ArchiveWriter& writer, EntryPacker& packer)
{
    for (Item& item : items_) {
        Entry& e = item.entry;
        if (item.folder) {
            packer.Folder(e);
        } else if (recompress_ && !(e.flags & FlagEncrypted)) {
            // Sizes, CRC, method and flags are the packer's now.
            Entry fresh = e;
            fresh.flags &= FlagUtf8;
            fresh.descriptor = false;
            packer.Compress(fresh, std::make_unique<DecodedData>(file_, item.dataOffset, e, item.label),
                            e.uncompressedSize, "entry " + item.label, item.encrypt);
        } else {
            packer.Write([&] {
                // Encrypted data cannot be checked without its password.
                bool checked = !(e.flags & FlagEncrypted);
                if (item.encrypt) {
                    e.flags |= FlagEncrypted;
                    e.versionNeeded = 20;
                    e.zip64 = e.compressedSize + EncryptionHeaderSize >= Zip64Marker;
                }
                writer.BeginEntry(e);
                CopyData(item, checked, writer);
                if (item.encrypt)
                    e.compressedSize += EncryptionHeaderSize;
                writer.EndEntry(e);
            }, e.uncompressedSize);
        }
    }
    packer.Finish();
    writer.Finish(comment_);
}

void ZipSource::CopyData(const Item& item, bool checked, ArchiveWriter& writer)
{
    const Entry& e = item.entry;
    if (item.encrypt)
        writer.WriteData(cipher_.Begin(e.name, e.crc, e.uncompressedSize));
    uint8_t buffer[ChunkSize];
    for (uint64_t done = 0; done < e.compressedSize;) {
        size_t count = (size_t)std::min<uint64_t>(sizeof buffer, e.compressedSize - done);
        file_.ReadAt(item.dataOffset + done, buffer, count);
        if (item.encrypt)
            cipher_.Encrypt(buffer, count);
        writer.WriteData(buffer, count);
        done += count;
    }
    // Decoded once more from the archive: the same bytes, in the cache.
    if (checked) {
        DecodedData check(file_, item.dataOffset, e, item.label);
        while (check.Read(buffer, sizeof buffer) == sizeof buffer) {
        }
    }
}

void RawSource::Write(ArchiveWriter& writer, EntryPacker&)
{
    uint8_t buffer[ChunkSize];
    while (size_t got = file_.ReadSome(buffer, sizeof buffer))
        writer.WriteData(buffer, got);
}

}  // namespace sfx
