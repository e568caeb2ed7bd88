// Inflate: byte-exact against streams of zlib, libdeflate and 7-Zip, the
// reads and writes that it makes, and the edge cases of the format.
#include <algorithm>

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include "decode/SFXinflt.h"
#include "memory_io.h"
#include "startup/SFXstate.h"

using namespace memio;

namespace {

// Decodes stream as an entry followed by other bytes, and checks the
// output, the CRC, the writes (bounded pieces, each but the last from a
// full buffer), the reads (never beyond the entry) and whether the entry
// counts as whole. stated is the header's uncompressed size, a hint.
void ExpectInflates(const Bytes& stream, const Bytes& expected, int32_t deliverAtMost = 0, bool whole = true,
                    uint32_t stated = 0)
{
    Bytes archive = stream;
    archive.insert(archive.end(), 64, 0x5A);
    Reset(archive);
    io.deliverAtMost = deliverAtMost;
    uint32_t crc = RunInflate((int32_t)stream.size(), false, stated);
    ASSERT_EQ(io.output.size(), expected.size());
    ASSERT_TRUE(io.output == expected);
    EXPECT_EQ(crc, ReferenceCrc(expected));
    for (size_t i = 0; i < io.writeRequests.size(); i++) {
        ASSERT_GT(io.writeRequests[i], 0);
        ASSERT_LE(io.writeRequests[i], (int32_t)OutputBlockSize);
        if (i + 1 < io.writeRequests.size())
            ASSERT_GE(io.writeRequests[i], (int32_t)(OutputBlockSize - WindowSize - 512));
    }
    EXPECT_LE(io.archivePosition, stream.size());
    int64_t left = (int64_t)stream.size();
    for (size_t i = 0; i < io.readRequests.size(); i++) {
        EXPECT_EQ(io.readRequests[i], (int32_t)std::min<int64_t>(left, 32768));
        left -= io.readDelivered[i];
    }
    EXPECT_EQ(io.liveBlocks, 0);
    EXPECT_EQ(EntryDataComplete != 0, whole);
}

// Text-like and binary-like data around a stretch that does not compress,
// which encoders store: stored blocks after and before Huffman blocks.
Bytes Corpus()
{
    Bytes data = SampleData(150000, 21);
    uint32_t state = 5;
    for (int i = 0; i < 40000; i++) {
        state = state * 1103515245u + 12345u;
        data.push_back((uint8_t)(state >> 23));
    }
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
    // Short reads move every chunk boundary, and with it the point where
    // the fast loop hands over to the careful step and back.
    Bytes stream = ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY);
    for (int32_t delivery : {1, 7, 8, 9, (int32_t)FastInputBytes - 1, (int32_t)FastInputBytes,
                             (int32_t)FastInputBytes + 1, 777}) {
        SCOPED_TRACE(delivery);
        ExpectInflates(stream, data, delivery);
    }
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

TEST(Inflate, ReaderReadsChunksAndSuppliesZerosPastTheEnd)
{
    // 5 bytes: one read of 5 behind the carry area; then 0-bits, counted
    // as filler, without another read.
    EnsureCrcTable();
    Reset(Bytes{1, 2, 3, 4, 5, 6, 7});
    EntryHeader.Flags = 0;
    DataRemaining = 5;
    InputBuffer = (uint8_t*)AllocateBlock(FastInputBytes + 32768);
    InputNext = InputEnd = InputBuffer + FastInputBytes;
    FillerBits = 0;
    BitWord buffer = 0;
    uint32_t count = 0;
    NeedBits(24, buffer, count);
    EXPECT_EQ(count, 24u);
    EXPECT_EQ(buffer, (BitWord)0x030201);
    NeedBits(24, buffer, count);                     // nothing to do
    DumpBits(20, buffer, count);
    NeedBits(24, buffer, count);                     // at bit 4: 4 and 5, then 8 filler bits
    EXPECT_EQ(count, 28u);
    EXPECT_EQ(buffer, (BitWord)0x05040);
    EXPECT_EQ(FillerBits, 8u);
    EXPECT_EQ(io.readRequests, std::vector<int32_t>{5});
    EXPECT_EQ(DataRemaining, 0);

    // A chunk is read behind the bytes not yet taken, which move in front
    // of it; an archive that ends early ends the data at the empty read.
    Reset(Bytes{9, 8, 7});
    DataRemaining = 40000;
    InputNext = InputBuffer + FastInputBytes + 100;
    InputEnd = InputNext + 2;
    InputBuffer[FastInputBytes + 100] = 0xAA;
    InputBuffer[FastInputBytes + 101] = 0xBB;
    ReadInputChunk();
    EXPECT_EQ(InputNext, InputBuffer + FastInputBytes - 2);
    EXPECT_EQ(Bytes(InputNext, InputEnd), (Bytes{0xAA, 0xBB, 9, 8, 7}));
    EXPECT_EQ(DataRemaining, 40000 - 3);
    InputNext = InputEnd;
    ReadInputChunk();
    EXPECT_EQ(InputNext, InputEnd);
    EXPECT_EQ(DataRemaining, 0);
    EXPECT_EQ(io.readRequests, (std::vector<int32_t>{32768, 32768}));
    ReleaseBlock(InputBuffer);
    InputBuffer = 0;
}

TEST(Inflate, ReadsAndWritesInTheirOrder)
{
    // 40,000 bytes of entry: 32,768 then 7,232, the second read only when
    // the first chunk is used up; one write at the end.
    StreamWriter s;
    s.StoredBlock(true, SampleData(39995, 8));
    ASSERT_EQ(s.bits.bytes.size(), 40000u);
    ExpectInflates(s.bits.bytes, s.expected);
    std::vector<std::pair<char, int32_t>> order = {{'R', 32768}, {'R', 7232}, {'W', 39995}};
    EXPECT_EQ(io.events, order);

    // A long entry is written while it is read, not after.
    Bytes data = SampleData(3 * OutputBlockSize, 9);
    Bytes stream = ZlibDeflate(data, 1, Z_DEFAULT_STRATEGY);
    ExpectInflates(stream, data);
    ASSERT_GT(stream.size(), 2u * 32768);
    EXPECT_EQ(io.writeRequests.size(), 4u);
    auto firstWrite = std::find(io.events.begin(), io.events.end(), std::make_pair('W', io.writeRequests[0]));
    EXPECT_NE(std::find(firstWrite, io.events.end(), std::make_pair('R', io.readRequests.back())),
              io.events.end());
}

TEST(Inflate, StatedSizeIsOnlyAHint)
{
    // Too small, exact, too large, or unknown: the same output, and the
    // buffer sized from a small claim grows when the entry turns out larger.
    Bytes data = SampleData(250000, 14);
    Bytes stream = ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY);
    for (uint32_t stated : {1u, 5000u, 250000u, 4000000000u, 0u}) {
        SCOPED_TRACE(stated);
        ExpectInflates(stream, data, 0, true, stated);
    }
    Bytes small = SampleData(5000, 15);
    ExpectInflates(ZlibDeflate(small, 6, Z_DEFAULT_STRATEGY), small, 0, true, 5000);
    EXPECT_LT(io.peakBytes, 2u * 32768);
    // The most a decode holds: the largest buffer from a stated size, the
    // full one that replaces it, the input, and the tables.
    ExpectInflates(stream, data, 0, true, StatedSizeLimit);
    EXPECT_LE(io.peakBytes + DecodeTableBytes, 300u * 1024);
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
    {   // Exactly one full buffer, and one byte more.
        for (uint32_t size : {(uint32_t)OutputBlockSize, (uint32_t)OutputBlockSize + 1}) {
            Bytes data = SampleData(size, 10);
            ExpectInflates(ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY), data);
            EXPECT_EQ(io.writeRequests.size(), 2u);
        }
    }
    {   // Length 258 at distance 1; distance 32,768; matches around the
        // point where the buffer is written and keeps only the window.
        StreamWriter s;
        s.FixedBlock(true);
        s.Literal('x');
        s.Match(258, 1);
        Bytes noise = SampleData(OutputBlockSize - 259 - 600, 11);
        for (uint8_t b : noise)
            s.Literal(b);
        for (int i = 0; i < 4; i++) {
            s.Match(258, 1000);
            s.Match(258, 32768);
            s.Match(200, 32768);
            s.Match(3, 7);
        }
        s.EndOfBlock();
        ExpectInflates(s.bits.bytes, s.expected);
        EXPECT_EQ(io.writeRequests.size(), 2u);
    }
    {   // Overlapping copies at every short distance, of every short length
        // and the longest, after as many bytes as the distance.
        StreamWriter s;
        s.FixedBlock(true);
        for (int distance = 1; distance <= 17; distance++) {
            for (int i = 0; i < distance; i++)
                s.Literal((uint8_t)('a' + i));
            for (int length : {3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 258})
                s.Match(length, distance);
        }
        s.EndOfBlock();
        ExpectInflates(s.bits.bytes, s.expected);
    }
    {   // Fixed blocks one after the other keep the fixed tables; a dynamic
        // block between them takes the same tables, so the fixed ones come
        // back after it; and the next entry starts with what is loaded.
        std::vector<int> literal(258, 0);
        literal['b'] = literal[256] = literal[257] = 2;
        literal['c'] = 2;
        std::vector<int> symbols(literal.begin(), literal.end());
        symbols.push_back(1);
        StreamWriter s;
        s.FixedBlock(false);
        s.Literal('a');
        s.EndOfBlock();
        s.FixedBlock(false);
        s.Match(5, 1);
        s.EndOfBlock();
        s.DynamicBlock(false, literal, {1}, symbols);
        s.Literal('b');
        s.Literal('c');
        s.Match(3, 1);
        s.EndOfBlock();
        s.FixedBlock(true);
        s.Literal('d');
        s.Match(4, 2);
        s.EndOfBlock();
        ExpectInflates(s.bits.bytes, s.expected);
        ExpectInflates(s.bits.bytes, s.expected);   // with the fixed tables still loaded
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
