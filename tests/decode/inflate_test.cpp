// Inflate: byte-exact against streams of zlib, libdeflate and 7-Zip, the
// reads and writes that it makes, and the edge cases of the format.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include "decode/SFXinflt.h"
#include "memory_io.h"
#include "startup/SFXstate.h"

using namespace memio;

namespace {

// Decodes stream as an entry followed by other bytes, and checks the
// output, the CRC, the writes (whole windows, then the rest), the reads
// (never beyond the entry) and whether the entry counts as whole.
void ExpectInflates(const Bytes& stream, const Bytes& expected, int32_t deliverAtMost = 0, bool whole = true)
{
    Bytes archive = stream;
    archive.insert(archive.end(), 64, 0x5A);
    Reset(archive);
    io.deliverAtMost = deliverAtMost;
    uint32_t crc = RunInflate((int32_t)stream.size());
    ASSERT_EQ(io.output.size(), expected.size());
    ASSERT_TRUE(io.output == expected);
    EXPECT_EQ(crc, ReferenceCrc(expected));
    for (size_t i = 0; i + 1 < io.writeRequests.size(); i++)
        ASSERT_EQ(io.writeRequests[i], 32768);
    if (!io.writeRequests.empty())
        EXPECT_GT(io.writeRequests.back(), 0);
    EXPECT_LE(io.archivePosition, stream.size());
    int64_t left = (int64_t)stream.size();
    for (size_t i = 0; i < io.readRequests.size(); i++) {
        EXPECT_EQ(io.readRequests[i], (int32_t)std::min<int64_t>(left, 32768));
        left -= io.readDelivered[i];
    }
    EXPECT_EQ(io.liveBlocks, 0);
    EXPECT_EQ(EntryDataComplete != 0, whole);
}

Bytes Corpus()
{
    Bytes data = SampleData(150000, 21);
    Bytes more = SampleData(60000, 22);
    data.insert(data.end(), more.begin(), more.end());
    return data;
}

TEST(Inflate, ZlibEveryLevelAndStrategy)
{
    Bytes data = Corpus();
    for (int level = 0; level <= 9; level++)
        for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
            SCOPED_TRACE(testing::Message() << "level " << level << " strategy " << strategy);
            ExpectInflates(ZlibDeflate(data, level, strategy), data);
        }
    // Short reads move every chunk boundary.
    ExpectInflates(ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY), data, 777);
}

TEST(Inflate, LibdeflateEveryLevel)
{
    Bytes data = Corpus();
    for (int level = 1; level <= 12; level++) {
        libdeflate_compressor* c = libdeflate_alloc_compressor(level);
        Bytes stream(libdeflate_deflate_compress_bound(c, data.size()));
        stream.resize(libdeflate_deflate_compress(c, data.data(), data.size(), stream.data(), stream.size()));
        libdeflate_free_compressor(c);
        SCOPED_TRACE(level);
        ExpectInflates(stream, data);
    }
}

TEST(Inflate, SevenZipDeflate)
{
    std::string folder = ScratchFolder("7z");
    Bytes data = Corpus();
    WriteFileBytes(folder + "/data.bin", data);
    for (const char* options : {"-mx=1", "-mx=9", "-mm=Deflate -mx=5"}) {
        SCOPED_TRACE(options);
        ASSERT_TRUE(memio::Run("cd " + folder + " && rm -f a.zip && 7z a -tzip " + options + " a.zip data.bin"));
        std::vector<ZipEntry> entries = ReadZipEntries(folder + "/a.zip");
        ASSERT_EQ(entries.size(), 1u);
        ASSERT_EQ(entries[0].method, 8);
        ExpectInflates(entries[0].data, data);
        EXPECT_EQ(ReferenceCrc(data), entries[0].crc);
    }
    memio::Run("rm -rf " + folder);
}

TEST(Inflate, ReaderTakesBytesOnlyAsNeeded)
{
    // 5 bytes: one read of 5; the sixth byte is -1 without a read.
    EnsureCrcTable();
    Reset(Bytes{1, 2, 3, 4, 5, 6, 7});
    EntryHeader.Flags = 0;
    DataRemaining = 5;
    InputBuffer = (uint8_t*)AllocateBlock(32770);
    InputPosition = 0;
    InputCount = 0;
    for (int i = 1; i <= 5; i++)
        EXPECT_EQ(NextInputByte(), i);
    EXPECT_EQ(NextInputByte(), -1);
    EXPECT_EQ(io.readRequests, std::vector<int32_t>{5});
    EXPECT_EQ(DataRemaining, 0);

    // NeedBits(16) with 3 bits and 1 byte left: the byte at bit 3, then 1-bits.
    Reset(Bytes{0xA5});
    DataRemaining = 1;
    InputPosition = 0;
    InputCount = 0;
    FillerBits = 0;
    uint32_t buffer = 0x5, count = 3;
    NeedBits(16, buffer, count);
    EXPECT_EQ(count, 19u);
    EXPECT_EQ(buffer, 0xFFFFF800u | 0xA5u << 3 | 0x5u);

    // An archive that ends early: the empty read leaves -1, then no reads.
    Reset(Bytes{9});
    DataRemaining = 3;
    InputPosition = 0;
    InputCount = 0;
    EXPECT_EQ(NextInputByte(), 9);
    EXPECT_EQ(NextInputByte(), -1);
    EXPECT_EQ(DataRemaining, -1);
    EXPECT_EQ(NextInputByte(), -1);
    EXPECT_EQ(io.readRequests, (std::vector<int32_t>{3, 2}));
    ReleaseBlock(InputBuffer);
    InputBuffer = 0;
}

TEST(Inflate, ReadsAndWritesInTheirOrder)
{
    // 40,000 bytes of entry: 32,768 then 7,232, the second read only when
    // the first chunk is used up, before the window is full.
    StreamWriter s;
    s.StoredBlock(true, SampleData(39995, 8));
    ASSERT_EQ(s.bits.bytes.size(), 40000u);
    ExpectInflates(s.bits.bytes, s.expected);
    std::vector<std::pair<char, int32_t>> order = {{'R', 32768}, {'R', 7232}, {'W', 32768}, {'W', 7227}};
    EXPECT_EQ(io.events, order);

    // A stream that ends its data in the middle of a window.
    Bytes data = SampleData(100000, 9);
    Bytes stream = ZlibDeflate(data, 9, Z_DEFAULT_STRATEGY);
    ExpectInflates(stream, data);
    EXPECT_EQ(io.writeRequests, (std::vector<int32_t>{32768, 32768, 32768, 1696}));
}

TEST(Inflate, EdgesOfTheFormat)
{
    {   // A stored block of length 0 writes nothing.
        StreamWriter s;
        s.StoredBlock(true, Bytes());
        ExpectInflates(s.bits.bytes, Bytes());
        EXPECT_TRUE(io.writeRequests.empty());
        EXPECT_EQ(RunningCrc, 0xFFFFFFFFu);
    }
    {   // Exactly one window: a single flush during decoding.
        Bytes data = SampleData(32768, 10);
        ExpectInflates(ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY), data);
        EXPECT_EQ(io.writeRequests, std::vector<int32_t>{32768});
    }
    {   // Length 258 at distance 1; distance 32,768; copies across the end.
        StreamWriter s;
        s.FixedBlock(true);
        s.Literal('x');
        s.Match(258, 1);
        Bytes noise = SampleData(32768 - 259 - 100, 11);
        for (uint8_t b : noise)
            s.Literal(b);
        s.Match(258, 1000);                          // crosses the end of the window
        s.Match(258, 32768);
        s.Match(200, 32768);
        s.Match(3, 7);
        s.EndOfBlock();
        ExpectInflates(s.bits.bytes, s.expected);
        EXPECT_EQ(io.writeRequests[0], 32768);
    }
    {   // Two fixed blocks build the fixed tables once.
        StreamWriter one;
        one.FixedBlock(true);
        one.Literal('a');
        one.EndOfBlock();
        ExpectInflates(one.bits.bytes, one.expected);
        int64_t allocations = io.allocations;
        StreamWriter two;
        two.FixedBlock(false);
        two.Literal('a');
        two.EndOfBlock();
        two.FixedBlock(true);
        two.Match(5, 1);
        two.EndOfBlock();
        ExpectInflates(two.bits.bytes, two.expected);
        EXPECT_EQ(io.allocations, allocations);
    }
    {   // A block of type 3 without the last bit: the next header follows.
        StreamWriter s;
        s.Header(false, 3);
        s.StoredBlock(true, Bytes{'x', 'y', 'z'});
        // Decoded on, but a reserved block type is damage: never whole.
        ExpectInflates(s.bits.bytes, s.expected, 0, false);
    }
}

// 288 literal/length lengths, complete, with symbols 0..2 optionally unused.
std::vector<int> FullLiteralLengths(bool firstThreeUnused)
{
    std::vector<int> lengths(288, 8);
    int nines = firstThreeUnused ? 58 : 64;         // 2a + b = 512 over the used symbols
    for (int i = 288 - nines; i < 288; i++)
        lengths[i] = 9;
    if (firstThreeUnused)
        lengths[0] = lengths[1] = lengths[2] = 0;
    return lengths;
}

TEST(Inflate, DynamicHeaderExtremes)
{
    {   // HLIT 31 and HDIST 31: 288 and 32 lengths.
        std::vector<int> literal = FullLiteralLengths(false), distance(32, 5);
        std::vector<int> symbols = literal;          // every length as its own symbol
        symbols.insert(symbols.end(), distance.begin(), distance.end());
        StreamWriter s;
        s.DynamicBlock(true, literal, distance, symbols);
        for (char c : std::string("dynamic"))
            s.Literal((uint8_t)c);
        s.Match(10, 3);
        s.Match(258, 24577);
        s.EndOfBlock();
        ExpectInflates(s.bits.bytes, s.expected);
    }
    {   // A repeat code (16) before any length repeats 0.
        std::vector<int> literal = FullLiteralLengths(true), distance(30, 5);
        distance[29] = 0;
        distance[28] = 4;
        std::vector<int> symbols = {16, 3};
        symbols.insert(symbols.end(), literal.begin() + 3, literal.end());
        symbols.insert(symbols.end(), distance.begin(), distance.end());
        StreamWriter s;
        s.DynamicBlock(true, literal, distance, symbols);
        s.Literal('q');
        s.Match(4, 1);
        s.EndOfBlock();
        ExpectInflates(s.bits.bytes, s.expected);
    }
}

TEST(Inflate, InvalidCodesEndTheirBlock)
{
    for (int symbol : {286, 287}) {
        // The invalid code ends the last block: what it had decoded since
        // the block began is not kept, earlier blocks are.
        StreamWriter s;
        s.FixedBlock(false);
        for (char c : std::string("abc"))
            s.Literal((uint8_t)c);
        s.EndOfBlock();
        Bytes kept = s.expected;
        s.FixedBlock(true);
        s.Literal('d');
        s.Symbol(symbol);
        s.Literal('e');
        s.EndOfBlock();
        ExpectInflates(s.bits.bytes, kept, 0, false);
    }
}

TEST(Inflate, ShortWriteFailsTheEntry)
{
    Bytes data = SampleData(150000, 12);
    Reset(ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY));
    io.acceptAtMost = 50000;
    uint32_t crc = RunInflate();
    EXPECT_EQ(io.output, Bytes(data.begin(), data.begin() + 50000));
    EXPECT_EQ(crc, ReferenceCrc(io.output));
    EXPECT_NE(crc, ReferenceCrc(data));
    EXPECT_FALSE(EntryDataComplete);
}

}  // namespace
