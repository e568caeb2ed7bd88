// The decoders' outside world for host tests and fuzzers: the archive is a
// byte vector, the output another, blocks come from calloc. Each knob lets a
// test provoke one kind of trouble (short reads, a full disk, no memory),
// and every call is recorded so that tests can check what was read and
// written, and in which chunks.
#ifndef SFX_TEST_MEMORY_IO_H
#define SFX_TEST_MEMORY_IO_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace memio {

typedef std::vector<uint8_t> Bytes;

struct Io {
    Bytes archive;                      // read from archivePosition on
    size_t archivePosition = 0;
    int64_t fileBase = 0;               // the file offset of archive[0], for SeekArchive
    int64_t strangeSeeks = 0;           // seeks from another origin or in front of fileBase
    int32_t deliverAtMost = 0;          // > 0: every read delivers at most this many bytes
    int64_t acceptAtMost = -1;          // >= 0: the output takes this many bytes in all, then none
    int32_t allocationsLeft = -1;       // >= 0: allocations that succeed before the first failure

    Bytes output;                       // what the output accepted
    std::vector<int32_t> readRequests;
    std::vector<int32_t> readDelivered;
    std::vector<int32_t> writeRequests;
    std::vector<std::pair<char, int32_t>> events;   // 'R' read request, 'W' write request
    int64_t allocations = 0;
    int64_t liveBlocks = 0;
    uint64_t liveBytes = 0;
    uint64_t peakBytes = 0;
};

extern Io io;

// Starts afresh: the archive holds data, everything else is cleared.
void Reset(const Bytes& data);

// Allocates and fills CrcTable once for the process.
void EnsureCrcTable();

// Prepares the shared entry variables and runs the decoder over io.archive:
// DataRemaining = size (default: the whole archive), RunningCrc preset,
// flag bit 0 as given, the header's uncompressed size as stated (0: not
// known, as with a data descriptor). Returns the final CRC (RunningCrc
// complemented).
uint32_t RunInflate(int32_t size = -1, bool encrypted = false, uint32_t stated = 0);
uint32_t RunStored(int32_t size = -1, bool encrypted = false);

// Standard CRC-32 of a byte run (zlib).
uint32_t ReferenceCrc(const Bytes& data);

// Raw deflate by zlib at a level and strategy.
Bytes ZlibDeflate(const Bytes& data, int level, int strategy);

// Raw inflate by zlib; ok is false unless zlib reaches the end of the stream.
Bytes ZlibInflate(const Bytes& stream, bool& ok);

// Test data: text-like, binary-like, and runs, deterministic for a seed.
Bytes SampleData(size_t size, uint32_t seed);

// Writes bits least-significant first, as deflate streams are laid out.
struct BitWriter {
    Bytes bytes;
    uint32_t used = 0;                  // bits used in the last byte
    void Put(uint32_t value, uint32_t count);
    void PutCode(uint32_t code, uint32_t length);   // Huffman code, most significant bit first
    void AlignToByte();
};

// Canonical Huffman codes of a list of code lengths (RFC 1951, 3.2.2).
std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths);

// Writes a deflate stream symbol by symbol, with the output that it stands
// for as the format defines it (bytes before the start read as 0, as in the
// decoder's zero-filled window).
struct StreamWriter {
    BitWriter bits;
    Bytes expected;
    std::vector<int> literalLengths, distanceLengths;
    std::vector<uint32_t> literalCodes, distanceCodes;

    void Header(bool last, int type);
    void FixedBlock(bool last);
    // lengthSymbols: the code-length symbols in order, each 16, 17 or 18
    // followed by its repeat count; the code-length code has lengths 4 and 5.
    void DynamicBlock(bool last, const std::vector<int>& literal, const std::vector<int>& distance,
                      const std::vector<int>& lengthSymbols);
    void StoredBlock(bool last, const Bytes& data);
    void Symbol(int symbol);               // a literal/length symbol's code, nothing else
    void Literal(uint8_t byte);
    void Match(int length, int distance);
    void EndOfBlock();
};

// ZIP local entries as written by real tools.
struct ZipEntry {
    std::string name;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t timeDate = 0;
    uint32_t crc = 0;
    Bytes data;                         // compressed size bytes behind the header
};
std::vector<ZipEntry> ReadZipEntries(const std::string& path);

// Runs a shell command; true when it exits with 0.
bool Run(const std::string& command);

// A fresh scratch folder below the system's temporary folder.
std::string ScratchFolder(const std::string& tag);

void WriteFileBytes(const std::string& path, const Bytes& data);
Bytes ReadFileBytes(const std::string& path);

}  // namespace memio

#endif
