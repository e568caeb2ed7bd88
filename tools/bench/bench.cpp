// Inflate speed of our decoder against zlib and libdeflate on the same data.
//
// Usage: sfx-bench REPETITIONS LIST   (LIST: a file naming one input file a line)
// Every file is compressed as one raw deflate stream by zlib at levels 1, 6
// and 9, then decoded by each decoder, one stream after another, the whole
// set once per repetition; the median set time is reported. Our decoder runs
// as the program runs it: one InflateEntry per stream, with the header's
// uncompressed size, its input read in chunks, its output handed over in
// pieces and checksummed. To compare like with like, the headline gives
// zlib and libdeflate the CRC-32 of their output too (zlib's crc32,
// libdeflate_crc32); the figures without that CRC are printed as well.
// Every output is checked against the CRC of the original file before
// anything is timed.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include <libdeflate.h>
#include <zlib.h>

#include "decode/SFXcrc.h"
#include "decode/SFXinflt.h"
#include "decode/SFXio.h"
#include "startup/SFXstate.h"

typedef std::vector<uint8_t> Bytes;

// The decoder's outside world: the stream in memory, output counted only
// (the bytes are in the decoder's buffer and in RunningCrc when WriteOutput
// is called).
static const uint8_t* ArchiveData;
static size_t ArchiveLeft;
static uint64_t LiveBytes, PeakBytes;

int32_t ReadArchive(void* buffer, int32_t count)
{
    size_t n = count > 0 ? (size_t)count : 0;
    if (n > ArchiveLeft)
        n = ArchiveLeft;
    memcpy(buffer, ArchiveData, n);
    ArchiveData += n;
    ArchiveLeft -= n;
    return (int32_t)n;
}

int32_t WriteOutput(const void*, int32_t count)
{
    return count;
}

void* AllocateBlock(uint32_t size)
{
    uint64_t* block = (uint64_t*)calloc(1, size + 16);
    if (block == 0)
        return 0;
    block[0] = size;
    LiveBytes += size;
    PeakBytes = std::max(PeakBytes, LiveBytes);
    return block + 2;
}

void ReleaseBlock(void* block)
{
    if (block != 0) {
        uint64_t* base = (uint64_t*)block - 2;
        LiveBytes -= base[0];
        free(base);
    }
}

struct Stream {
    Bytes compressed;
    size_t size;          // of the original
    uint32_t crc;         // of the original
};

static double Now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

static Bytes Deflate(const Bytes& data, int level)
{
    z_stream z = {};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, (uLong)data.size()));
    z.next_in = (Bytef*)data.data();
    z.avail_in = (uInt)data.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

static uint32_t Ours(const Stream& s, Bytes&)
{
    ArchiveData = s.compressed.data();
    ArchiveLeft = s.compressed.size();
    EntryHeader.Flags = 0;
    EntryUncompressedSize = s.size;
    DataRemaining = (int32_t)s.compressed.size();
    RunningCrc = 0xFFFFFFFFu;
    InflateEntry();
    return RunningCrc ^ 0xFFFFFFFFu;
}

static size_t ZlibInflate(const Stream& s, Bytes& out)
{
    z_stream z = {};
    inflateInit2(&z, -15);
    z.next_in = (Bytef*)s.compressed.data();
    z.avail_in = (uInt)s.compressed.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    inflate(&z, Z_FINISH);
    size_t n = z.total_out;
    inflateEnd(&z);
    return n;
}

static uint32_t Zlib(const Stream& s, Bytes& out)
{
    size_t n = ZlibInflate(s, out);
    return (uint32_t)crc32(0, out.data(), (uInt)n);
}

static uint32_t ZlibNoCrc(const Stream& s, Bytes& out)
{
    return (uint32_t)ZlibInflate(s, out);
}

static size_t LibdeflateInflate(const Stream& s, Bytes& out)
{
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    size_t n = 0;
    libdeflate_deflate_decompress(d, s.compressed.data(), s.compressed.size(), out.data(), out.size(), &n);
    libdeflate_free_decompressor(d);
    return n;
}

static uint32_t Libdeflate(const Stream& s, Bytes& out)
{
    size_t n = LibdeflateInflate(s, out);
    return libdeflate_crc32(0, out.data(), n);
}

static uint32_t LibdeflateNoCrc(const Stream& s, Bytes& out)
{
    return (uint32_t)LibdeflateInflate(s, out);
}

typedef uint32_t (*Decoder)(const Stream&, Bytes&);

// Times each decoder over the whole set, taking turns in every repetition so
// that a disturbance on the machine hits all of them alike; medians in t.
static void TimeSets(const Decoder* decoders, int count, const std::vector<Stream>& set, Bytes& out,
                     int repetitions, double* t)
{
    std::vector<std::vector<double>> times(count);
    uint32_t sink = 0;
    for (int r = 0; r < repetitions; r++) {
        for (int d = 0; d < count; d++) {
            double start = Now();
            for (const Stream& s : set)
                sink += decoders[d](s, out);
            times[d].push_back(Now() - start);
        }
    }
    if (sink == 0x5EED)                         // keeps the results alive
        fputc(' ', stderr);
    for (int d = 0; d < count; d++) {
        std::sort(times[d].begin(), times[d].end());
        t[d] = times[d][times[d].size() / 2];
    }
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s REPETITIONS LIST\n", argv[0]);
        return 2;
    }
    int repetitions = atoi(argv[1]);
    CrcTable = (uint32_t*)calloc(1, 1028);
    BuildCrcTable();

    std::vector<Bytes> files;
    size_t total = 0, largest = 0;
    FILE* list = fopen(argv[2], "r");
    char path[4096];
    while (list != 0 && fgets(path, sizeof path, list) != 0) {
        path[strcspn(path, "\n")] = 0;
        FILE* f = fopen(path, "rb");
        if (f == 0)
            continue;
        Bytes data;
        uint8_t buffer[65536];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
            data.insert(data.end(), buffer, buffer + n);
        fclose(f);
        total += data.size();
        largest = std::max(largest, data.size());
        files.push_back(data);
    }
    if (list != 0)
        fclose(list);
    printf("corpus: %zu files, %.1f MB\n", files.size(), total / 1e6);
    Bytes out(largest + 1);

    const int levels[] = {1, 6, 9};
    const Decoder decoders[] = {Ours, Zlib, Libdeflate, ZlibNoCrc, LibdeflateNoCrc};
    double sums[5] = {0};
    bool allGood = true;
    for (int level : levels) {
        std::vector<Stream> set;
        size_t compressed = 0;
        for (const Bytes& data : files) {
            Stream s;
            s.compressed = Deflate(data, level);
            s.size = data.size();
            s.crc = (uint32_t)crc32(0, data.data(), (uInt)data.size());
            compressed += s.compressed.size();
            set.push_back(std::move(s));
        }
        for (const Stream& s : set) {
            bool good = Ours(s, out) == s.crc && Zlib(s, out) == s.crc && Libdeflate(s, out) == s.crc;
            if (!good) {
                allGood = false;
                fprintf(stderr, "level %d: a decoder failed the CRC check\n", level);
                break;
            }
        }
        double t[5];
        TimeSets(decoders, 5, set, out, repetitions, t);
        for (int d = 0; d < 5; d++)
            sums[d] += t[d];
        printf("level %d: %.1f MB compressed; median of %d, MB/s of output:\n", level, compressed / 1e6,
               repetitions);
        printf("  ours (with CRC)  %7.1f\n", total / t[0] / 1e6);
        printf("  zlib + crc32     %7.1f   without CRC %7.1f\n", total / t[1] / 1e6, total / t[3] / 1e6);
        printf("  libdeflate + crc %7.1f   without CRC %7.1f\n", total / t[2] / 1e6, total / t[4] / 1e6);
    }
    if (!allGood)
        return 1;

    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("peak memory of one decode (AllocateBlock): %llu bytes, and %u bytes of decode tables in static storage;"
           " process peak RSS %ld KB (corpus included)\n",
           (unsigned long long)PeakBytes, (unsigned)DecodeTableBytes, usage.ru_maxrss);
    printf("all levels, without CRC for the peers: vs zlib %.2f, vs libdeflate %.2f\n", sums[3] / sums[0],
           sums[4] / sums[0]);
    printf("all levels, each peer with the CRC of its output:\n");
    printf("inflate speed vs zlib: %.2f, vs libdeflate: %.2f\n", sums[1] / sums[0], sums[2] / sums[0]);
    return 0;
}
