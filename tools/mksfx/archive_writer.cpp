#include "archive_writer.h"

namespace sfx {

void ArchiveWriter::Reserve(uint64_t count)
{
    if (out_.Position() + count > MaxFileSize)
        throw Failure("the self-extracting file would be larger than 2 GiB, which the extractor cannot read");
}

// The fields that local and central headers share, from the version needed
// to the extra field's length. True sizes and CRC even when a descriptor
// follows: the extractor walks the local headers alone.
static void PutSharedFields(std::string& out, const Entry& e, const std::string& extra)
{
    Put16(out, e.versionNeeded);
    Put16(out, e.flags);
    Put16(out, e.method);
    Put32(out, e.timeDate);
    Put32(out, e.crc);
    Put32(out, e.compressedSize);
    Put32(out, e.uncompressedSize);
    Put16(out, (uint32_t)e.name.size());
    Put16(out, (uint32_t)extra.size());
}

std::string ArchiveWriter::LocalHeader(const Entry& entry)
{
    std::string h;
    Put32(h, LocalSignature);
    PutSharedFields(h, entry, entry.localExtra);
    return h + entry.name + entry.localExtra;
}

void ArchiveWriter::BeginEntry(Entry& entry)
{
    std::string header = LocalHeader(entry);
    Reserve(header.size());
    entry.localOffset = out_.Position();
    out_.Write(header);
    dataStart_ = out_.Position();
}

void ArchiveWriter::WriteData(const void* data, size_t count)
{
    Reserve(count);
    out_.Write(data, count);
}

void ArchiveWriter::RestartData()
{
    out_.Seek(dataStart_);
}

void ArchiveWriter::EndEntry(const Entry& entry)
{
    uint64_t end = out_.Position();
    out_.Seek(entry.localOffset);
    out_.Write(LocalHeader(entry));
    out_.Seek(end);
    if (entry.descriptor) {
        std::string d;
        Put32(d, DescriptorSignature);
        Put32(d, entry.crc);
        Put32(d, entry.compressedSize);
        Put32(d, entry.uncompressedSize);
        Reserve(d.size());
        out_.Write(d);
    }
    written_.push_back(entry);
}

void ArchiveWriter::Finish(const std::string& comment)
{
    if (written_.size() > 0xFFFF)
        throw Failure("more than 65535 entries, which needs ZIP64");
    uint64_t start = out_.Position();
    for (const Entry& e : written_) {
        std::string c;
        Put32(c, CentralSignature);
        Put16(c, e.versionMadeBy);
        PutSharedFields(c, e, e.centralExtra);
        Put16(c, (uint32_t)e.comment.size());
        Put16(c, 0);                            // disk
        Put16(c, e.internalAttributes);
        Put32(c, e.externalAttributes);
        Put32(c, (uint32_t)e.localOffset);      // below 2 GiB, see Reserve
        c += e.name + e.centralExtra + e.comment;
        Reserve(c.size());
        out_.Write(c);
    }
    std::string end;
    Put32(end, EndSignature);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, (uint32_t)written_.size());
    Put16(end, (uint32_t)written_.size());
    Put32(end, (uint32_t)(out_.Position() - start));
    Put32(end, (uint32_t)start);
    Put16(end, (uint32_t)comment.size());
    end += comment;
    Reserve(end.size());
    out_.Write(end);
}

}  // namespace sfx
