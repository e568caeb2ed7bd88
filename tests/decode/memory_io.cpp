// In-memory outside world for the decoders; see memory_io.h.
#include "memory_io.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include <zlib.h>

#include "decode/SFXcrc.h"
#include "decode/SFXinflt.h"
#include "decode/SFXio.h"
#include "decode/SFXstore.h"
#include "extract/SFXarch.h"
#include "startup/SFXstate.h"

namespace memio {

Io io;

void Reset(const Bytes& data)
{
    io = Io();
    io.archive = data;
}

void EnsureCrcTable()
{
    if (CrcTable == 0) {
        CrcTable = (uint32_t*)calloc(1, 1028);
        BuildCrcTable();
    }
}

static void PrepareEntry(int32_t size, bool encrypted, uint32_t stated = 0)
{
    EnsureCrcTable();
    EntryHeader = LocalHeader();
    EntryHeader.Flags = encrypted ? FlagEncrypted : 0;
    EntryHeader.UncompressedSize = stated;
    EntryUncompressedSize = stated;
    DataRemaining = size >= 0 ? size : (int32_t)(io.archive.size() - io.archivePosition);
    RunningCrc = 0xFFFFFFFFu;
}

uint32_t RunInflate(int32_t size, bool encrypted, uint32_t stated)
{
    PrepareEntry(size, encrypted, stated);
    InflateEntry();
    return RunningCrc ^ 0xFFFFFFFFu;
}

uint32_t RunStored(int32_t size, bool encrypted)
{
    PrepareEntry(size, encrypted);
    CopyStoredEntry();
    return RunningCrc ^ 0xFFFFFFFFu;
}

uint32_t ReferenceCrc(const Bytes& data)
{
    return (uint32_t)crc32(0, data.data(), (uInt)data.size());
}

Bytes ZlibDeflate(const Bytes& data, int level, int strategy)
{
    z_stream z = {};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
    Bytes out(deflateBound(&z, (uLong)data.size()) + 16);
    z.next_in = (Bytef*)data.data();
    z.avail_in = (uInt)data.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

Bytes ZlibInflate(const Bytes& stream, bool& ok)
{
    z_stream z = {};
    inflateInit2(&z, -15);
    Bytes out;
    uint8_t chunk[65536];
    z.next_in = (Bytef*)stream.data();
    z.avail_in = (uInt)stream.size();
    int status;
    do {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        status = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    } while (status == Z_OK && (z.avail_out == 0 || z.avail_in > 0));
    ok = status == Z_STREAM_END;
    inflateEnd(&z);
    return out;
}

Bytes SampleData(size_t size, uint32_t seed)
{
    static const char* const words[] = {"the ", "archive ", "window ", "entry ", "of ", "bits ",
                                        "code ", "length ", "\n", "and ", "distance ", "CRC "};
    Bytes out;
    out.reserve(size);
    uint32_t state = seed * 2654435761u + 1;
    auto next = [&state]() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    while (out.size() < size) {
        uint32_t r = next();
        switch (r % 4) {
        case 0:
        case 1: {                                   // words
            const char* word = words[(r >> 8) % 12];
            out.insert(out.end(), word, word + strlen(word));
            break;
        }
        case 2:                                     // noise
            for (int i = 0; i < 16; i++)
                out.push_back((uint8_t)next());
            break;
        default:                                    // a run
            out.insert(out.end(), 1 + (r >> 8) % 300, (uint8_t)(r >> 20));
            break;
        }
    }
    out.resize(size);
    return out;
}

void BitWriter::Put(uint32_t value, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++) {
        if (used == 0)
            bytes.push_back(0);
        if ((value >> i) & 1)
            bytes.back() |= (uint8_t)(1u << used);
        used = (used + 1) & 7;
    }
}

void BitWriter::PutCode(uint32_t code, uint32_t length)
{
    for (uint32_t i = length; i-- > 0;)
        Put((code >> i) & 1, 1);
}

void BitWriter::AlignToByte()
{
    used = 0;
}

std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths)
{
    int count[17] = {0};
    for (int L : lengths)
        count[L]++;
    count[0] = 0;
    uint32_t next[17] = {0};
    for (int L = 1, code = 0; L <= 16; L++) {
        code = (code + count[L - 1]) << 1;
        next[L] = code;
    }
    std::vector<uint32_t> codes(lengths.size());
    for (size_t i = 0; i < lengths.size(); i++)
        if (lengths[i] != 0)
            codes[i] = next[lengths[i]]++;
    return codes;
}

// Length and distance symbols from the format's rules, not from tables.
static void LengthSymbol(int length, int& symbol, int& extra, int& value)
{
    if (length == 258) {
        symbol = 285, extra = 0, value = 0;
        return;
    }
    for (int s = 257, base = 3; s < 285; s++) {
        int bits = s < 265 ? 0 : (s - 261) / 4;
        if (length < base + (1 << bits)) {
            symbol = s, extra = bits, value = length - base;
            return;
        }
        base += 1 << bits;
    }
}

static void DistanceSymbol(int distance, int& symbol, int& extra, int& value)
{
    for (int s = 0, base = 1; s < 30; s++) {
        int bits = s < 4 ? 0 : (s - 2) / 2;
        if (distance < base + (1 << bits)) {
            symbol = s, extra = bits, value = distance - base;
            return;
        }
        base += 1 << bits;
    }
}

void StreamWriter::Header(bool last, int type)
{
    bits.Put(last ? 1 : 0, 1);
    bits.Put((uint32_t)type, 2);
}

void StreamWriter::FixedBlock(bool last)
{
    Header(last, 1);
    literalLengths.assign(288, 8);
    for (int i = 144; i < 256; i++)
        literalLengths[i] = 9;
    for (int i = 256; i < 280; i++)
        literalLengths[i] = 7;
    distanceLengths.assign(30, 5);
    literalCodes = CanonicalCodes(literalLengths);
    distanceCodes = CanonicalCodes(distanceLengths);
}

void StreamWriter::DynamicBlock(bool last, const std::vector<int>& literal, const std::vector<int>& distance,
                                const std::vector<int>& lengthSymbols)
{
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    Header(last, 2);
    bits.Put((uint32_t)literal.size() - 257, 5);
    bits.Put((uint32_t)distance.size() - 1, 5);
    bits.Put(19 - 4, 4);
    std::vector<int> lengthLengths(19, 5);
    for (int i = 0; i < 13; i++)
        lengthLengths[i] = 4;                       // 13/16 + 6/32: complete
    for (int i = 0; i < 19; i++)
        bits.Put((uint32_t)lengthLengths[order[i]], 3);
    std::vector<uint32_t> lengthCodes = CanonicalCodes(lengthLengths);
    for (size_t i = 0; i < lengthSymbols.size(); i++) {
        int s = lengthSymbols[i];
        bits.PutCode(lengthCodes[s], (uint32_t)lengthLengths[s]);
        if (s == 16)
            bits.Put((uint32_t)lengthSymbols[++i] - 3, 2);
        else if (s == 17)
            bits.Put((uint32_t)lengthSymbols[++i] - 3, 3);
        else if (s == 18)
            bits.Put((uint32_t)lengthSymbols[++i] - 11, 7);
    }
    literalLengths = literal;
    distanceLengths = distance;
    literalCodes = CanonicalCodes(literal);
    distanceCodes = CanonicalCodes(distance);
}

void StreamWriter::StoredBlock(bool last, const Bytes& data)
{
    Header(last, 0);
    bits.AlignToByte();
    bits.Put((uint32_t)data.size(), 16);
    bits.Put((uint32_t)~data.size() & 0xFFFF, 16);
    bits.bytes.insert(bits.bytes.end(), data.begin(), data.end());
    expected.insert(expected.end(), data.begin(), data.end());
}

void StreamWriter::Symbol(int symbol)
{
    bits.PutCode(literalCodes.at(symbol), (uint32_t)literalLengths.at(symbol));
}

void StreamWriter::Literal(uint8_t byte)
{
    Symbol(byte);
    expected.push_back(byte);
}

void StreamWriter::Match(int length, int distance)
{
    int symbol, extra, value;
    LengthSymbol(length, symbol, extra, value);
    Symbol(symbol);
    bits.Put((uint32_t)value, (uint32_t)extra);
    DistanceSymbol(distance, symbol, extra, value);
    bits.PutCode(distanceCodes.at(symbol), (uint32_t)distanceLengths.at(symbol));
    bits.Put((uint32_t)value, (uint32_t)extra);
    for (int i = 0; i < length; i++) {
        long from = (long)expected.size() - distance;
        expected.push_back(from >= 0 ? expected[from] : 0);
    }
}

void StreamWriter::EndOfBlock()
{
    Symbol(256);
}

static uint32_t Little(const Bytes& b, size_t at, int width)
{
    uint32_t v = 0;
    for (int i = width; i-- > 0;)
        v = v << 8 | b.at(at + i);
    return v;
}

std::vector<ZipEntry> ReadZipEntries(const std::string& path)
{
    // Sizes and CRCs come from the central directory, which also covers
    // entries whose local header leaves them to a data descriptor.
    Bytes zip = ReadFileBytes(path);
    std::vector<ZipEntry> entries;
    size_t end = zip.size() >= 22 ? zip.size() - 22 : 0;
    while (end > 0 && Little(zip, end, 4) != 0x06054B50u)
        end--;
    if (zip.size() < 22 || Little(zip, end, 4) != 0x06054B50u)
        return entries;
    size_t at = Little(zip, end + 16, 4);
    for (uint32_t n = Little(zip, end + 10, 2); n > 0; n--) {
        ZipEntry e;
        e.flags = (uint16_t)Little(zip, at + 8, 2);
        e.method = (uint16_t)Little(zip, at + 10, 2);
        e.timeDate = Little(zip, at + 12, 4);
        e.crc = Little(zip, at + 16, 4);
        uint32_t compressed = Little(zip, at + 20, 4);
        uint32_t nameLength = Little(zip, at + 28, 2);
        uint32_t skip = nameLength + Little(zip, at + 30, 2) + Little(zip, at + 32, 2);
        size_t local = Little(zip, at + 42, 4);
        e.name.assign(zip.begin() + at + 46, zip.begin() + at + 46 + nameLength);
        size_t data = local + 30 + Little(zip, local + 26, 2) + Little(zip, local + 28, 2);
        e.data.assign(zip.begin() + data, zip.begin() + data + compressed);
        entries.push_back(e);
        at += 46 + skip;
    }
    return entries;
}

bool Run(const std::string& command)
{
    return system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ScratchFolder(const std::string& tag)
{
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/sfx-" + tag + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    return mkdtemp(buffer.data()) ? std::string(buffer.data()) : std::string();
}

void WriteFileBytes(const std::string& path, const Bytes& data)
{
    std::ofstream(path, std::ios::binary).write((const char*)data.data(), (std::streamsize)data.size());
}

Bytes ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace memio

using memio::io;

// SetFilePointerEx from the start of the file: any position at or past the
// archive's start is reached, also beyond the end, where reads deliver
// nothing; a negative one fails and leaves the position where it was.
void SeekArchive(int64_t distance, uint32_t origin)
{
    if (origin != ArchiveFromStart || (distance >= 0 && distance < io.fileBase))
        io.strangeSeeks++;
    if (distance < 0) {
        LastSeekPosition = -1;
        return;
    }
    LastSeekPosition = distance;
    uint64_t index = distance > io.fileBase ? (uint64_t)(distance - io.fileBase) : 0;
    io.archivePosition = index < io.archive.size() ? (size_t)index : io.archive.size();
}

int32_t ReadArchive(void* buffer, int32_t count)
{
    io.readRequests.push_back(count);
    io.events.push_back({'R', count});
    size_t left = io.archive.size() - io.archivePosition;
    size_t n = count > 0 ? (size_t)count : 0;
    if (n > left)
        n = left;
    if (io.deliverAtMost > 0 && n > (size_t)io.deliverAtMost)
        n = (size_t)io.deliverAtMost;
    if (n > 0)                          // an empty archive has no data pointer
        memcpy(buffer, io.archive.data() + io.archivePosition, n);
    io.archivePosition += n;
    io.readDelivered.push_back((int32_t)n);
    return (int32_t)n;
}

int32_t WriteOutput(const void* buffer, int32_t count)
{
    io.writeRequests.push_back(count);
    io.events.push_back({'W', count});
    int64_t n = count > 0 ? count : 0;
    if (io.acceptAtMost >= 0) {
        int64_t room = io.acceptAtMost - (int64_t)io.output.size();
        if (n > room)
            n = room > 0 ? room : 0;
    }
    io.output.insert(io.output.end(), (const uint8_t*)buffer, (const uint8_t*)buffer + n);
    return (int32_t)n;
}

// Each block carries its size in front so that the live total can be kept.
void* AllocateBlock(uint32_t size)
{
    if (io.allocationsLeft == 0)
        return 0;
    if (io.allocationsLeft > 0)
        io.allocationsLeft--;
    uint64_t* block = (uint64_t*)calloc(1, size + 16);
    if (block == 0)
        return 0;
    block[0] = size;
    io.allocations++;
    io.liveBlocks++;
    io.liveBytes += size;
    if (io.liveBytes > io.peakBytes)
        io.peakBytes = io.liveBytes;
    return block + 2;
}

void ReleaseBlock(void* block)
{
    if (block == 0)
        return;
    uint64_t* base = (uint64_t*)block - 2;
    io.liveBlocks--;
    io.liveBytes -= base[0];
    free(base);
}
