#include "zip_reader.h"

#include <algorithm>

#include "extract/SFXname.h"
#include "zip_format.h"

namespace sfx {

namespace {

// Writers pad archives behind the end record (bsdtar to a block size,
// signing tools to 8 bytes), so the record is looked for this far back
// beyond the longest comment.
const uint64_t TrailingBytesTolerated = 1 << 20;

struct ExtraBlock {
    uint16_t id;
    size_t start, size;    // the whole block, header included
};

// The blocks of an extra field; false when it does not parse.
bool SplitExtra(const std::string& extra, std::vector<ExtraBlock>& blocks)
{
    for (size_t at = 0; at < extra.size();) {
        if (extra.size() - at < 4)
            return false;
        size_t size = 4 + Get16(extra.data() + at + 2);
        if (size > extra.size() - at)
            return false;
        blocks.push_back({Get16(extra.data() + at), at, size});
        at += size;
    }
    return true;
}

// Fills the values that the record's fields mark with all ones from its
// ZIP64 block, which holds them in the fields' order. False when the block
// lacks one of them.
bool TakeZip64Values(CentralRecord& c, bool& used)
{
    bool wantUncompressed = c.uncompressedSize == Zip64Marker, wantCompressed = c.compressedSize == Zip64Marker,
         wantOffset = c.localOffset == Zip64Marker, wantDisk = c.disk == 0xFFFF;
    if (!wantUncompressed && !wantCompressed && !wantOffset && !wantDisk)
        return true;
    std::vector<ExtraBlock> blocks;
    SplitExtra(c.extra, blocks);
    for (const ExtraBlock& b : blocks) {
        if (b.id != ExtraZip64)
            continue;
        const char* p = c.extra.data() + b.start + 4;
        size_t left = b.size - 4;
        auto take = [&](bool wanted, uint64_t& value, size_t width) {
            if (!wanted)
                return true;
            if (left < width)
                return false;
            value = width == 8 ? Get64(p) : Get32(p);
            p += width;
            left -= width;
            return true;
        };
        uint64_t disk = c.disk;
        bool complete = take(wantUncompressed, c.uncompressedSize, 8) && take(wantCompressed, c.compressedSize, 8)
                        && take(wantOffset, c.localOffset, 8) && take(wantDisk, disk, 4);
        c.disk = (uint32_t)disk;
        used = true;
        return complete;
    }
    return false;
}

}  // namespace

std::string ExtraToKeep(const std::string& extra)
{
    std::vector<ExtraBlock> blocks;
    if (!SplitExtra(extra, blocks))
        return extra;
    std::string kept;
    for (const ExtraBlock& b : blocks)
        if (b.id != ExtraZip64 && b.id != UnicodePathFieldId)
            kept += extra.substr(b.start, b.size);
    return kept;
}

bool HasExtraBlock(const std::string& extra, uint16_t id)
{
    std::vector<ExtraBlock> blocks;
    SplitExtra(extra, blocks);
    return std::any_of(blocks.begin(), blocks.end(), [id](const ExtraBlock& b) { return b.id == id; });
}

// The last bytes of the file, where the end record lies.
static std::string Tail(InputFile& file, uint64_t& tailStart)
{
    uint64_t tailSize = std::min<uint64_t>(file.Size(), EndRecordSize + 0xFFFF + TrailingBytesTolerated);
    tailStart = file.Size() - tailSize;
    std::string tail(tailSize, '\0');
    file.ReadAt(tailStart, &tail[0], tail.size());
    return tail;
}

bool HasEndRecord(InputFile& file)
{
    uint64_t tailStart;
    std::string tail = Tail(file, tailStart);
    return tail.find("PK\5\6") != std::string::npos;
}

CentralDirectory ReadCentralDirectory(InputFile& file)
{
    const std::string& path = file.Path();
    uint64_t size = file.Size();
    uint64_t tailStart;
    std::string tail = Tail(file, tailStart);
    uint64_t tailSize = tail.size();

    for (uint64_t i = tailSize < EndRecordSize ? 0 : tailSize - EndRecordSize + 1; i-- > 0;) {
        const char* end = tail.data() + i;
        if (Get32(end) != EndSignature)
            continue;
        uint64_t at = tailStart + i;
        uint32_t disk = Get16(end + 4), directoryDisk = Get16(end + 6);
        uint64_t count = Get16(end + 10), directorySize = Get32(end + 12), directoryOffset = Get32(end + 16);
        uint16_t commentSize = Get16(end + 20);
        if (at + EndRecordSize + commentSize > size)
            continue;

        // A ZIP64 end record and its locator may stand between the records
        // and the end record; they hold the values that did not fit.
        uint64_t recordsEnd = at;
        if (i >= Zip64LocatorSize && Get32(end - Zip64LocatorSize) == Zip64LocatorSignature) {
            recordsEnd -= Zip64LocatorSize;
            const char* end64 = end - Zip64LocatorSize - Zip64EndRecordSize;
            if (i >= Zip64LocatorSize + Zip64EndRecordSize && Get32(end64) == Zip64EndSignature) {
                recordsEnd -= Zip64EndRecordSize;
                disk = Get32(end64 + 16);
                directoryDisk = Get32(end64 + 20);
                count = Get64(end64 + 32);
                directorySize = Get64(end64 + 40);
                directoryOffset = Get64(end64 + 48);
            }
        }
        if (directorySize > recordsEnd || recordsEnd - directorySize < directoryOffset)
            continue;
        uint64_t start = recordsEnd - directorySize;
        if (count > 0) {
            char first[4];
            if (directorySize < sizeof first)
                continue;
            file.ReadAt(start, first, sizeof first);
            if (Get32(first) != CentralSignature)
                continue;
        }
        if (disk != 0 || directoryDisk != 0)
            throw Failure(path + " is part of a split archive, which the extractor cannot read");
        std::string records(directorySize, '\0');
        file.ReadAt(start, &records[0], records.size());

        CentralDirectory cd;
        cd.start = start;
        cd.shift = start - directoryOffset;
        cd.comment.assign(end + EndRecordSize, commentSize);
        cd.zip64End = recordsEnd + Zip64LocatorSize + Zip64EndRecordSize == at;
        size_t pos = 0;
        for (uint64_t n = 0; n < count; n++) {
            const char* r = records.data() + pos;
            if (records.size() - pos < CentralHeaderSize || Get32(r) != CentralSignature)
                throw Failure(path + " has a damaged central directory (record " + std::to_string(n + 1) + ")");
            CentralRecord c;
            c.versionMadeBy = Get16(r + 4);
            c.versionNeeded = Get16(r + 6);
            c.flags = Get16(r + 8);
            c.method = Get16(r + 10);
            c.timeDate = Get32(r + 12);
            c.crc = Get32(r + 16);
            c.compressedSize = Get32(r + 20);
            c.uncompressedSize = Get32(r + 24);
            size_t nameSize = Get16(r + 28), extraSize = Get16(r + 30), commentLength = Get16(r + 32);
            c.disk = Get16(r + 34);
            c.internalAttributes = Get16(r + 36);
            c.externalAttributes = Get32(r + 38);
            c.localOffset = Get32(r + 42);
            pos += CentralHeaderSize;
            if (records.size() - pos < nameSize + extraSize + commentLength)
                throw Failure(path + " has a damaged central directory (record " + std::to_string(n + 1) + ")");
            c.name = records.substr(pos, nameSize);
            c.extra = records.substr(pos + nameSize, extraSize);
            c.comment = records.substr(pos + nameSize + extraSize, commentLength);
            pos += nameSize + extraSize + commentLength;
            bool zip64 = false;
            if (!TakeZip64Values(c, zip64))
                throw Failure(path + " has a damaged central directory (record " + std::to_string(n + 1)
                              + " lacks the ZIP64 values its fields point to)");
            if (c.disk != 0)
                throw Failure(path + " is part of a split archive, which the extractor cannot read");
            cd.zip64Records += zip64;
            cd.records.push_back(c);
        }
        return cd;
    }
    throw Failure(path + " is not a ZIP archive (it has no end of central directory record)");
}

}  // namespace sfx
