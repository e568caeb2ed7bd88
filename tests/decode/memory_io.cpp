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

static void PrepareEntry(int32_t size, bool encrypted)
{
    EnsureCrcTable();
    EntryHeader = LocalHeader();
    EntryHeader.Flags = encrypted ? FlagEncrypted : 0;
    DataRemaining = size >= 0 ? size : (int32_t)(io.archive.size() - io.archivePosition);
    RunningCrc = 0xFFFFFFFFu;
}

uint32_t RunInflate(int32_t size, bool encrypted)
{
    PrepareEntry(size, encrypted);
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

void PutFixedLiteral(BitWriter& out, uint32_t symbol)
{
    if (symbol < 144)
        out.PutCode(0x30 + symbol, 8);
    else if (symbol < 256)
        out.PutCode(0x190 + symbol - 144, 9);
    else if (symbol < 280)
        out.PutCode(symbol - 256, 7);
    else
        out.PutCode(0xC0 + symbol - 280, 8);
}

void PutFixedDistance(BitWriter& out, uint32_t symbol)
{
    out.PutCode(symbol, 5);
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
