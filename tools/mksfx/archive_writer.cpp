#include "archive_writer.h"

namespace sfx {

namespace {

bool Overflows(uint64_t value)
{
    return value >= Zip64Marker;
}

// ZIP64 records appear only where a value does not fit; such an entry says
// that it needs version 4.5 to be read.
bool UsesZip64(const Entry& e)
{
    return e.zip64 || Overflows(e.compressedSize) || Overflows(e.uncompressedSize) || Overflows(e.localOffset);
}

uint16_t VersionNeeded(const Entry& e)
{
    return UsesZip64(e) && e.versionNeeded < Zip64Version ? Zip64Version : e.versionNeeded;
}

uint16_t VersionMadeBy(const Entry& e)
{
    uint16_t version = e.versionMadeBy & 0xFF;
    if (!UsesZip64(e) || version >= Zip64Version)
        return e.versionMadeBy;
    return (uint16_t)((e.versionMadeBy & 0xFF00) | Zip64Version);
}

uint32_t Field32(uint64_t value)
{
    return Overflows(value) ? (uint32_t)Zip64Marker : (uint32_t)value;
}

std::string ExtraBlock(uint16_t id, const std::string& data)
{
    std::string block;
    Put16(block, id);
    Put16(block, (uint32_t)data.size());
    return block + data;
}

// The fields that local and central headers share, from the version needed
// to the extra field's length. True sizes and CRC even when a descriptor
// follows: the extractor walks the local headers alone.
void PutSharedFields(std::string& out, const Entry& e, uint32_t compressed, uint32_t uncompressed,
                     const std::string& extra)
{
    Put16(out, VersionNeeded(e));
    Put16(out, e.flags);
    Put16(out, e.method);
    Put32(out, e.timeDate);
    Put32(out, e.crc);
    Put32(out, compressed);
    Put32(out, uncompressed);
    Put16(out, (uint32_t)e.name.size());
    Put16(out, (uint32_t)extra.size());
}

}  // namespace

// A local header with ZIP64 sizes holds both of them in its ZIP64 block,
// the uncompressed size first, and all ones in both size fields.
std::string ArchiveWriter::LocalHeader(const Entry& entry)
{
    std::string extra = entry.localExtra;
    if (entry.zip64) {
        std::string sizes;
        Put64(sizes, entry.uncompressedSize);
        Put64(sizes, entry.compressedSize);
        extra = ExtraBlock(ExtraZip64, sizes) + extra;
    }
    uint32_t compressed = entry.zip64 ? (uint32_t)Zip64Marker : (uint32_t)entry.compressedSize;
    uint32_t uncompressed = entry.zip64 ? (uint32_t)Zip64Marker : (uint32_t)entry.uncompressedSize;
    std::string h;
    Put32(h, LocalSignature);
    PutSharedFields(h, entry, compressed, uncompressed, extra);
    if (extra.size() > 0xFFFF)
        throw Failure("entry " + entry.name + ": its extra field would take more than 65535 bytes");
    return h + entry.name + extra;
}

void ArchiveWriter::BeginEntry(Entry& entry)
{
    entry.zip64 = entry.zip64 || Overflows(entry.compressedSize) || Overflows(entry.uncompressedSize);
    entry.localOffset = out_.Position();
    out_.Write(LocalHeader(entry));
    dataStart_ = out_.Position();
}

void ArchiveWriter::WriteData(const void* data, size_t count)
{
    out_.Write(data, count);
}

void ArchiveWriter::RestartData()
{
    out_.Seek(dataStart_);
}

void ArchiveWriter::EndEntry(const Entry& entry)
{
    // The header is rewritten in place, so its length must stay.
    if (!entry.zip64 && (Overflows(entry.compressedSize) || Overflows(entry.uncompressedSize)))
        throw Failure("entry " + entry.name + " grew to 4 GiB or more while it was packed");
    uint64_t end = out_.Position();
    out_.Seek(entry.localOffset);
    out_.Write(LocalHeader(entry));
    out_.Seek(end);
    if (entry.descriptor) {
        std::string d;
        Put32(d, DescriptorSignature);
        Put32(d, entry.crc);
        if (entry.zip64) {
            Put64(d, entry.compressedSize);
            Put64(d, entry.uncompressedSize);
        } else {
            Put32(d, (uint32_t)entry.compressedSize);
            Put32(d, (uint32_t)entry.uncompressedSize);
        }
        out_.Write(d);
    }
    written_.push_back(entry);
}

// A central record's ZIP64 block holds just the values that overflow, in
// the order of the fields they stand for.
static std::string CentralRecord(const Entry& e)
{
    std::string values;
    if (Overflows(e.uncompressedSize))
        Put64(values, e.uncompressedSize);
    if (Overflows(e.compressedSize))
        Put64(values, e.compressedSize);
    if (Overflows(e.localOffset))
        Put64(values, e.localOffset);
    std::string extra = values.empty() ? e.centralExtra : ExtraBlock(ExtraZip64, values) + e.centralExtra;
    if (extra.size() > 0xFFFF)
        throw Failure("entry " + e.name + ": its extra field would take more than 65535 bytes");
    std::string c;
    Put32(c, CentralSignature);
    Put16(c, VersionMadeBy(e));
    PutSharedFields(c, e, Field32(e.compressedSize), Field32(e.uncompressedSize), extra);
    Put16(c, (uint32_t)e.comment.size());
    Put16(c, 0);                            // disk
    Put16(c, e.internalAttributes);
    Put32(c, e.externalAttributes);
    Put32(c, Field32(e.localOffset));
    return c + e.name + extra + e.comment;
}

void ArchiveWriter::Finish(const std::string& comment)
{
    uint64_t start = out_.Position();
    for (const Entry& e : written_)
        out_.Write(CentralRecord(e));
    uint64_t count = written_.size(), size = out_.Position() - start;
    bool countOverflows = count > 0xFFFF;
    if (countOverflows || Overflows(size) || Overflows(start)) {
        uint64_t record = out_.Position();
        std::string z;
        Put32(z, Zip64EndSignature);
        Put64(z, Zip64EndRecordSize - 12);      // what follows this field
        Put16(z, Zip64Version);
        Put16(z, Zip64Version);
        Put32(z, 0);                            // this disk
        Put32(z, 0);                            // the directory's disk
        Put64(z, count);
        Put64(z, count);
        Put64(z, size);
        Put64(z, start);
        Put32(z, Zip64LocatorSignature);
        Put32(z, 0);                            // the ZIP64 end record's disk
        Put64(z, record);
        Put32(z, 1);                            // disks
        out_.Write(z);
    }
    uint32_t count16 = countOverflows ? 0xFFFF : (uint32_t)count;
    std::string end;
    Put32(end, EndSignature);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, count16);
    Put16(end, count16);
    Put32(end, Field32(size));
    Put32(end, Field32(start));
    Put16(end, (uint32_t)comment.size());
    end += comment;
    out_.Write(end);
}

}  // namespace sfx
