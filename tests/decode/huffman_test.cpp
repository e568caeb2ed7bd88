// The Huffman table builder: results, lookup bits and table shapes of the
// cases that the decoder meets, and decoding of random complete codes.
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "decode/SFXinflt.h"
#include "memory_io.h"

using namespace memio;

namespace {

struct Built {
    int32_t result;
    int32_t lookupBits;
    HuffmanEntry* root = 0;
    HuffmanEntry* chain = 0;
    std::map<int, int> tablesBySlots;              // slots -> tables reached from the root
    int chained = 0;                               // tables on the chain
};

void Walk(const HuffmanEntry* table, int bits, Built& b, std::set<const HuffmanEntry*>& seen)
{
    if (!seen.insert(table).second)
        return;
    b.tablesBySlots[1 << bits]++;
    for (int i = 0; i < (1 << bits); i++)
        if (table[i].Op > OpLinkBase && table[i].Op != OpInvalid)
            Walk(table[i].Link, table[i].Op - OpLinkBase, b, seen);
}

Built Build(const std::vector<uint16_t>& lengths, uint16_t simple, int32_t lookupBits)
{
    Reset(Bytes());
    Built b;
    b.lookupBits = lookupBits;
    bool distance = simple == 0;
    b.result = BuildHuffmanTables(lengths.data(), (uint16_t)lengths.size(), simple,
                                  distance ? DistanceBases : LengthBases,
                                  distance ? DistanceExtraBits : LengthExtraBits, b.root, b.chain,
                                  b.lookupBits);
    if (b.root != 0 && b.result <= HuffmanIncomplete) {
        std::set<const HuffmanEntry*> seen;
        Walk(b.root, b.lookupBits, b, seen);
    }
    for (HuffmanEntry* t = b.chain; t != 0; t = t[-1].Link)
        b.chained++;
    return b;
}

void Release(Built& b)
{
    FreeHuffmanTables(b.chain);
    EXPECT_EQ(io.liveBlocks, 0);
}

std::vector<uint16_t> Lengths(std::initializer_list<std::pair<int, uint16_t>> runs)
{
    std::vector<uint16_t> lengths;
    for (auto run : runs)
        lengths.insert(lengths.end(), run.first, run.second);
    return lengths;
}

TEST(Huffman, FixedLiteralLengthCode)
{
    Built b = Build(Lengths({{144, 8}, {112, 9}, {24, 7}, {8, 8}}), 257, 7);
    EXPECT_EQ(b.result, HuffmanComplete);
    EXPECT_EQ(b.lookupBits, 7);
    EXPECT_EQ(b.tablesBySlots, (std::map<int, int>{{128, 1}, {2, 76}, {4, 28}}));
    EXPECT_EQ(b.chained, 105);
    Release(b);
}

TEST(Huffman, FixedDistanceCode)
{
    Built b = Build(Lengths({{30, 5}}), 0, 5);
    EXPECT_EQ(b.result, HuffmanIncomplete);
    EXPECT_EQ(b.lookupBits, 5);
    EXPECT_EQ(b.tablesBySlots, (std::map<int, int>{{32, 1}}));
    for (int i = 0; i < 32; i++)
        EXPECT_EQ(b.root[i].Op == OpInvalid, i == 15 || i == 31) << i;
    Release(b);
}

TEST(Huffman, SmallAndDegenerateCodes)
{
    Built one = Build(Lengths({{1, 1}}), 19, 7);     // a single one-bit code
    EXPECT_EQ(one.result, HuffmanComplete);
    EXPECT_EQ(one.lookupBits, 1);
    EXPECT_EQ(one.tablesBySlots, (std::map<int, int>{{2, 1}}));
    EXPECT_EQ(one.root[0].Op, OpLiteral);
    EXPECT_EQ(one.root[1].Op, OpInvalid);
    Release(one);

    Built two = Build(Lengths({{2, 2}}), 19, 7);     // two two-bit codes
    EXPECT_EQ(two.result, HuffmanIncomplete);
    EXPECT_EQ(two.tablesBySlots, (std::map<int, int>{{4, 1}}));
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(two.root[i].Op == OpInvalid, i == 1 || i == 3) << i;
    Release(two);

    Built over = Build(Lengths({{3, 1}}), 19, 7);    // three one-bit codes
    EXPECT_EQ(over.result, HuffmanOversubscribed);
    EXPECT_EQ(over.chained, 0);
    EXPECT_EQ(io.allocations, 0);

    Built none = Build(Lengths({{19, 0}}), 19, 7);
    EXPECT_EQ(none.result, HuffmanComplete);
    EXPECT_EQ(none.root, nullptr);
    EXPECT_EQ(none.lookupBits, 0);
    EXPECT_EQ(io.allocations, 0);
}

TEST(Huffman, LookupBitsFollowTheCode)
{
    Built shortCode = Build(Lengths({{2, 1}, {2, 2}, {4, 3}, {8, 4}}), 0, 6);   // longest 4
    EXPECT_EQ(shortCode.lookupBits, 4);
    Release(shortCode);

    // 255 lengths 8 and two lengths 9 (symbol 256 among them): the root
    // takes 9 bits, one table.
    std::vector<uint16_t> lengths = Lengths({{255, 8}, {2, 9}});
    std::swap(lengths[255], lengths[256]);
    Built wide = Build(lengths, 257, 7);
    EXPECT_EQ(wide.result, HuffmanComplete);
    EXPECT_EQ(wide.lookupBits, 9);
    EXPECT_EQ(wide.tablesBySlots, (std::map<int, int>{{512, 1}}));
    Release(wide);

    Built distance = Build(Lengths({{30, 5}, {2, 6}}), 0, 4);
    EXPECT_EQ(distance.result, HuffmanIncomplete);
    EXPECT_EQ(distance.lookupBits, 6);
    EXPECT_EQ(distance.tablesBySlots, (std::map<int, int>{{64, 1}}));
    for (int i = 0; i < 64; i++)
        EXPECT_EQ(distance.root[i].Op == OpInvalid, i % 16 == 15) << i;
    Release(distance);
}

// Every symbol of random complete codes decodes through the tables, in as
// many bits as its length, from its canonical code read backwards.
TEST(Huffman, RandomCompleteCodesDecode)
{
    uint32_t state = 99;
    for (int round = 0; round < 300; round++) {
        // Split code space at random until the wanted count is reached.
        int count = 2 + (int)(state % 287);
        std::vector<uint16_t> lengths(1, 0);
        while ((int)lengths.size() < count) {
            state = state * 1103515245u + 12345u;
            size_t pick = (state >> 8) % lengths.size();
            if (lengths[pick] >= 15)
                continue;
            lengths[pick]++;
            lengths.insert(lengths.begin() + (long)pick + 1, lengths[pick]);
        }
        std::vector<int> asInt(lengths.begin(), lengths.end());
        std::vector<uint32_t> codes = CanonicalCodes(asInt);
        Built b = Build(lengths, 288, 9);
        ASSERT_EQ(b.result, HuffmanComplete) << round;
        for (int s = 0; s < count; s++) {
            uint32_t reversed = 0;
            for (int i = 0; i < lengths[s]; i++)
                reversed |= ((codes[s] >> i) & 1) << (lengths[s] - 1 - i);
            const HuffmanEntry* t = b.root + (reversed & BitMasks[b.lookupBits]);
            int used = 0;
            while (t->Op > OpLinkBase && t->Op != OpInvalid) {
                used += t->Bits;
                t = t->Link + ((reversed >> used) & BitMasks[t->Op - OpLinkBase]);
            }
            ASSERT_EQ(used + t->Bits, lengths[s]) << round << " symbol " << s;
            ASSERT_EQ(t->Value, s) << round;
            ASSERT_EQ(t->Op, s < 256 ? OpLiteral : OpEndOfBlock);
        }
        EXPECT_EQ(b.chained, [&] { int n = 0; for (auto& e : b.tablesBySlots) n += e.second; return n; }());
        Release(b);
    }
}

TEST(Huffman, NoMemoryLeavesOnlyChainedTables)
{
    std::vector<uint16_t> fixed = Lengths({{144, 8}, {112, 9}, {24, 7}, {8, 8}});
    for (int32_t left = 0; left < 105; left += 13) {
        Reset(Bytes());
        io.allocationsLeft = left;
        HuffmanEntry* root = 0;
        HuffmanEntry* chain = 0;
        int32_t bits = 7;
        EXPECT_EQ(BuildHuffmanTables(fixed.data(), 288, 257, LengthBases, LengthExtraBits, root, chain, bits),
                  HuffmanNoMemory);
        EXPECT_EQ(io.liveBlocks, left);
        FreeHuffmanTables(chain);
        EXPECT_EQ(io.liveBlocks, 0);
    }
}

}  // namespace
