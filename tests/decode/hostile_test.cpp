// Streams that the format leaves undefined: each ends the entry's decoding
// (or its block) without reading or writing outside a buffer, without a
// leak, and with a CRC that cannot match the intended data.
#include <gtest/gtest.h>
#include <zlib.h>

#include "decode/SFXinflt.h"
#include "memory_io.h"
#include "startup/SFXstate.h"

using namespace memio;

namespace {

// Decodes stream; checks that nothing is read beyond it, nothing leaks,
// and the entry counts as whole only where expected.
Bytes Decode(const Bytes& stream, bool whole = false)
{
    Bytes archive = stream;
    archive.insert(archive.end(), 100, 0xC3);
    Reset(archive);
    RunInflate((int32_t)stream.size());
    EXPECT_LE(io.archivePosition, stream.size());
    EXPECT_EQ(io.liveBlocks, 0);
    EXPECT_EQ(EntryDataComplete != 0, whole);
    return io.output;
}

// A dynamic block header whose code-length code has the given lengths (in
// the order of the format), followed by the code-length bits and then ones.
Bytes DynamicHeader(const std::vector<int>& lengthLengths, uint32_t nl = 257, uint32_t nd = 1,
                    uint32_t codeBits = 0, int codeBitCount = 0)
{
    BitWriter w;
    w.Put(1, 1);
    w.Put(2, 2);
    w.Put(nl - 257, 5);
    w.Put(nd - 1, 5);
    w.Put((uint32_t)lengthLengths.size() - 4, 4);
    for (int L : lengthLengths)
        w.Put((uint32_t)L, 3);
    w.Put(codeBits, (uint32_t)codeBitCount);
    return w.bytes;
}

TEST(Hostile, RepeatRunningPastTheLengths)
{
    // Code-length symbol 18 (138 zeros) twice: the second runs past 258.
    std::vector<int> literal(257, 0), distance(1, 0);
    literal[0] = literal[256] = 1;
    StreamWriter s;
    s.DynamicBlock(true, literal, distance, {18, 138, 18, 138, 18, 138});
    s.Literal(0);
    EXPECT_TRUE(Decode(s.bits.bytes).empty());
}

TEST(Hostile, BrokenCodeLengthCodes)
{
    // Orders 16 17 18 0 8 7 9 ...: lengths for symbols 16, 17, 18, 0.
    EXPECT_TRUE(Decode(DynamicHeader({2, 2, 0, 0})).empty());          // incomplete
    EXPECT_TRUE(Decode(DynamicHeader({1, 1, 1, 0})).empty());          // over-subscribed
    EXPECT_TRUE(Decode(DynamicHeader({0, 0, 0, 0})).empty());          // no code at all
    // A single one-bit code: its unused pattern (1) is met at once.
    EXPECT_TRUE(Decode(DynamicHeader({0, 0, 0, 1}, 257, 1, 1, 1)).empty());
}

TEST(Hostile, BrokenLiteralAndDistanceCodes)
{
    std::vector<int> over(257, 8);                   // 257 eights: over-subscribed
    std::vector<int> incomplete(257, 9);             // 257 nines: incomplete
    std::vector<int> fine(257, 0);
    fine['a'] = fine[256] = 1;
    for (const std::vector<int>* literal : {&over, &incomplete}) {
        std::vector<int> symbols(literal->begin(), literal->end());
        symbols.push_back(1);
        StreamWriter s;
        s.DynamicBlock(true, *literal, {1}, symbols);
        EXPECT_TRUE(Decode(s.bits.bytes).empty());
    }
    // Over-subscribed distance code.
    std::vector<int> symbols(fine.begin(), fine.end());
    symbols.insert(symbols.end(), {1, 1, 1});
    StreamWriter s;
    s.DynamicBlock(true, fine, {1, 1, 1}, symbols);
    s.Literal('a');
    s.EndOfBlock();
    EXPECT_TRUE(Decode(s.bits.bytes).empty());
}

TEST(Hostile, DistanceSymbolsBeyondTheListsAreInvalid)
{
    std::vector<int> literal(258, 0), distance(32, 5);
    literal['a'] = 1;
    literal[256] = 2;
    literal[257] = 2;                                // length 3
    std::vector<int> symbols(literal.begin(), literal.end());
    symbols.insert(symbols.end(), distance.begin(), distance.end());
    for (uint32_t symbol : {30u, 31u}) {
        StreamWriter s;
        s.DynamicBlock(true, literal, distance, symbols);
        s.Literal('a');
        s.Symbol(257);
        s.bits.PutCode(s.distanceCodes[symbol], 5);
        EXPECT_TRUE(Decode(s.bits.bytes).empty()) << symbol;
    }
}

TEST(Hostile, NoDistanceCodes)
{
    // Distance lengths all 0: literals decode, a match is an invalid code.
    std::vector<int> literal(258, 0);
    literal['a'] = literal['b'] = literal[256] = literal[257] = 2;
    std::vector<int> symbols(literal.begin(), literal.end());
    symbols.push_back(0);
    StreamWriter s;
    s.DynamicBlock(false, literal, {0}, symbols);
    s.Literal('a');
    s.Literal('b');
    s.EndOfBlock();
    Bytes kept = s.expected;
    s.DynamicBlock(true, literal, {0}, symbols);
    s.Literal('b');
    s.Symbol(257);
    s.bits.Put(0, 8);
    EXPECT_EQ(Decode(s.bits.bytes), kept);
}

TEST(Hostile, DataEndingBeforeTheLastBlock)
{
    Bytes data = SampleData(80000, 31);
    for (int level : {0, 1, 9}) {
        Bytes stream = ZlibDeflate(data, level, Z_DEFAULT_STRATEGY);
        for (size_t cut : {(size_t)0, (size_t)1, (size_t)5, stream.size() / 3, stream.size() - 1}) {
            SCOPED_TRACE(testing::Message() << "level " << level << " cut " << cut);
            Bytes output = Decode(Bytes(stream.begin(), stream.begin() + (long)cut));
            // Whatever was decoded is the start of the data.
            ASSERT_LE(output.size(), data.size());
            EXPECT_TRUE(std::equal(output.begin(), output.end(), data.begin()));
        }
    }
    // A fixed block whose codes would go on as 1-bits (literal 0xFF) forever.
    StreamWriter s;
    s.FixedBlock(true);
    s.Literal('z');
    EXPECT_EQ(Decode(s.bits.bytes), Bytes{'z'});

    // Data that end inside a pattern that no code has (the distance code
    // has one code, 0, of one bit): a cut, not damage, so the block's
    // output stays. The 1 does not end a byte, so the pattern's eight bits
    // run past the data.
    std::vector<int> literal(259, 0);
    literal['a'] = literal[256] = literal[257] = literal[258] = 2;
    std::vector<int> symbols(literal.begin(), literal.end());
    symbols.push_back(1);
    StreamWriter cut;
    cut.DynamicBlock(true, literal, {1}, symbols);
    for (int i = 0; i < 3 || (cut.bits.used + 2) % 8 == 0; i++)
        cut.Literal('a');
    cut.Symbol(257);
    cut.bits.Put(1, 1);
    EXPECT_EQ(Decode(cut.bits.bytes), cut.expected);
}

TEST(Hostile, DistanceBeforeTheFirstByteReadsZeros)
{
    StreamWriter s;
    s.FixedBlock(true);
    s.Literal('a');
    s.Match(5, 3);
    s.Match(258, 32768);
    s.EndOfBlock();
    EXPECT_EQ(Decode(s.bits.bytes, true), s.expected);   // well formed; the CRC judges it
    EXPECT_EQ(s.expected[1], 0);
}

TEST(Hostile, StoredLengthWithoutItsComplement)
{
    StreamWriter s;
    s.StoredBlock(false, Bytes{'o', 'k'});
    Bytes kept = s.expected;
    s.StoredBlock(true, Bytes{'x', 'y'});
    s.bits.bytes[s.bits.bytes.size() - 3] ^= 1;      // NLEN of the second block
    EXPECT_EQ(Decode(s.bits.bytes), kept);
}

TEST(Hostile, NoMemoryAtAnyAllocation)
{
    StreamWriter fixed;
    fixed.FixedBlock(true);
    fixed.Literal('f');
    fixed.EndOfBlock();
    Bytes data = SampleData(5000, 32);
    Bytes dynamic = ZlibDeflate(data, 9, Z_DEFAULT_STRATEGY);
    for (const Bytes* entry : {&fixed.bits.bytes, &dynamic}) {
        const Bytes& expected = entry == &dynamic ? data : fixed.expected;
        for (int32_t left = 0; left < 120; left++) {
            Reset(*entry);
            io.allocationsLeft = left;
            RunInflate();
            ASSERT_EQ(io.liveBlocks, 0) << left;
            // Whole only when every allocation it needed succeeded.
            if (EntryDataComplete)
                ASSERT_EQ(io.output, expected) << left;
        }
        EXPECT_TRUE(EntryDataComplete);                // enough allocations at the end
    }
}

}  // namespace
