// The decode table builder: results, root bits and table shapes of the
// cases that the decoder meets, and decoding of random codes through the
// tables, sub-tables included, within the tables' sizes.
#include <vector>

#include <gtest/gtest.h>

#include "decode/SFXinflt.h"
#include "memory_io.h"

using namespace memio;

namespace {

enum : uint32_t { Guard = 0xDEADBEEF };

struct Built {
    int32_t result;
    uint32_t rootBits;
    std::vector<uint32_t> table;
    uint32_t links = 0;                  // root slots that link to a sub-table
};

// Builds into a table of size slots followed by guard slots, which must
// stay untouched.
Built Build(const std::vector<uint8_t>& lengths, const uint32_t* results, uint32_t rootBits, bool mayShrink,
            bool acceptIncomplete, uint32_t size)
{
    PrepareResults();
    Built b;
    b.rootBits = rootBits;
    b.table.assign(size + 64, Guard);
    b.result = BuildHuffmanTables(b.table.data(), lengths.data(), (uint32_t)lengths.size(), results, b.rootBits,
                                  mayShrink, acceptIncomplete);
    for (uint32_t i = size; i < b.table.size(); i++)
        EXPECT_EQ(b.table[i], Guard) << "written beyond the table at " << i;
    if (b.result != HuffmanOversubscribed && !(b.result == HuffmanIncomplete && !acceptIncomplete))
        for (uint32_t i = 0; i < (1u << b.rootBits); i++)
            b.links += (b.table[i] & EntryLink) != 0;
    return b;
}

std::vector<uint8_t> Lengths(std::initializer_list<std::pair<int, uint8_t>> runs)
{
    std::vector<uint8_t> lengths;
    for (auto run : runs)
        lengths.insert(lengths.end(), run.first, run.second);
    return lengths;
}

// An invalid code: the special flag alone.
bool IsInvalid(uint32_t entry)
{
    return (entry & 0xF000) == EntrySpecial;
}

// The entry that a code of bits (stream order, lowest first) decodes to,
// the bits of the code that it holds (below a link: those after the root),
// and the bits the whole code takes.
uint32_t Decode(const Built& b, uint32_t bits, uint32_t& held, uint32_t& used)
{
    uint32_t entry = b.table[bits & ((1u << b.rootBits) - 1)];
    used = 0;
    if (entry & EntryLink) {
        used = entry & 0xFF;
        uint32_t sub = bits >> used;
        entry = b.table[(entry >> 16) + (sub & ((1u << ((entry >> 8) & 15)) - 1))];
    }
    held = (entry >> 8) & 15;
    used += held;
    return entry;
}

TEST(Huffman, FixedLiteralLengthCode)
{
    Built b = Build(Lengths({{144, 8}, {112, 9}, {24, 7}, {8, 8}}), LiteralResults, 9, false, false, 512);
    EXPECT_EQ(b.result, HuffmanComplete);
    EXPECT_EQ(b.rootBits, 9u);
    EXPECT_EQ(b.links, 0u);
    // 0000000 (7 bits) is the end of block; 00110000 (8) is literal 0.
    EXPECT_EQ(b.table[0] & (EntrySpecial | EntryEndOfBlock), EntrySpecial | EntryEndOfBlock);
    EXPECT_EQ(b.table[0] & 0xFF, 7u);
    EXPECT_EQ(b.table[0x0C], 0u << 16 | EntryLiteral | 8 << 8 | 8);
    // Symbol 285 (11000101, 8 bits): length 258, no extra bits.
    EXPECT_EQ(b.table[0xA3], 258u << 16 | 8 << 8 | 8);
}

TEST(Huffman, FixedDistanceCode)
{
    // 30 codes of five bits: incomplete; 01111 and 11111 decode as invalid.
    Built b = Build(Lengths({{30, 5}}), DistanceResults, DistanceBits, false, true, 256);
    EXPECT_EQ(b.result, HuffmanIncomplete);
    EXPECT_EQ(b.rootBits, (uint32_t)DistanceBits);
    for (int i = 0; i < 256; i++)
        EXPECT_EQ(IsInvalid(b.table[i]), i % 32 == 15 || i % 32 == 31) << i;
    // 32 codes, as the fixed blocks use them: complete, 30 and 31 invalid.
    Built all = Build(Lengths({{32, 5}}), DistanceResults, DistanceBits, false, false, 256);
    EXPECT_EQ(all.result, HuffmanComplete);
    EXPECT_EQ(all.table[15] & 0xF000, EntrySpecial);
    EXPECT_EQ(all.table[1], 257u << 16 | 5 << 8 | (5 + 7));  // 10000: symbol 16, base 257, 7 extra bits
}

TEST(Huffman, SmallAndDegenerateCodes)
{
    Built one = Build(Lengths({{1, 1}}), PrecodeResults, 7, true, false, 128);   // a single one-bit code
    EXPECT_EQ(one.result, HuffmanComplete);
    EXPECT_EQ(one.rootBits, 1u);
    EXPECT_EQ(one.table[0], 0u << 16 | 1 << 8 | 1);
    EXPECT_EQ(one.table[1], EntrySpecial + 0x101);                  // the one bit looked at

    Built two = Build(Lengths({{2, 2}}), DistanceResults, DistanceBits, false, true, 256);   // two two-bit codes
    EXPECT_EQ(two.result, HuffmanIncomplete);
    for (int i = 0; i < 256; i++)
        EXPECT_EQ(IsInvalid(two.table[i]), i % 4 == 1 || i % 4 == 3) << i;
    Built refused = Build(Lengths({{2, 2}}), PrecodeResults, 7, false, false, 128);
    EXPECT_EQ(refused.result, HuffmanIncomplete);
    EXPECT_EQ(refused.table[0], Guard);                   // nothing written

    Built over = Build(Lengths({{3, 1}}), PrecodeResults, 7, false, false, 128);   // three one-bit codes
    EXPECT_EQ(over.result, HuffmanOversubscribed);
    EXPECT_EQ(over.table[0], Guard);

    Built none = Build(Lengths({{30, 0}}), DistanceResults, DistanceBits, false, true, 256);
    EXPECT_EQ(none.result, HuffmanEmpty);
    for (int i = 0; i < 256; i++)
        EXPECT_EQ(none.table[i], EntrySpecial + DistanceBits * 0x101) << i;
}

TEST(Huffman, RootBitsFollowTheCode)
{
    // Longest code 4: a literal/length root of 4 bits.
    Built shortCode = Build(Lengths({{1, 1}, {1, 2}, {1, 3}, {2, 4}}), LiteralResults, LiteralBits, true, false, 16);
    EXPECT_EQ(shortCode.result, HuffmanComplete);
    EXPECT_EQ(shortCode.rootBits, 4u);

    // 255 lengths 8 and two lengths 9 (symbol 256 among them): 9 bits.
    std::vector<uint8_t> lengths = Lengths({{255, 8}, {2, 9}});
    std::swap(lengths[255], lengths[256]);
    Built wide = Build(lengths, LiteralResults, LiteralBits, true, false, 512);
    EXPECT_EQ(wide.result, HuffmanComplete);
    EXPECT_EQ(wide.rootBits, 9u);
    EXPECT_EQ(wide.links, 0u);

    // The distance root stays at its size; shorter codes repeat in it.
    // Symbols 30 and 31 (111100, 111101) are invalid distances, and 111110
    // and 111111 are no code.
    Built distance = Build(Lengths({{30, 5}, {2, 6}}), DistanceResults, DistanceBits, false, true, 256);
    EXPECT_EQ(distance.result, HuffmanIncomplete);
    EXPECT_EQ(distance.rootBits, (uint32_t)DistanceBits);
    EXPECT_EQ(distance.links, 0u);
    for (int i = 0; i < 256; i++)
        EXPECT_EQ(IsInvalid(distance.table[i]), i % 16 == 15) << i;
    EXPECT_EQ(distance.table[31], EntrySpecial + DistanceBits * 0x101);
    EXPECT_EQ(distance.table[15], EntrySpecial + 6 * 0x101);
}

// Random codes: complete literal/length codes up to 288 symbols, and
// incomplete distance codes of 32 symbols with long codes, which have the
// most sub-tables for their size. Every symbol decodes, in as many bits as
// its length, from its canonical code read backwards, and nothing is
// written beyond the table's size.
TEST(Huffman, RandomCodesDecodeThroughSubTables)
{
    uint32_t state = 99;
    auto random = [&state](uint32_t n) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % n;
    };
    for (int round = 0; round < 600; round++) {
        bool distance = round % 2 == 1;
        std::vector<uint8_t> lengths;
        if (!distance) {
            // Split code space at random until the wanted count is reached.
            int count = 2 + (int)random(287);
            lengths.assign(1, 0);
            while ((int)lengths.size() < count) {
                size_t pick = random((uint32_t)lengths.size());
                if (lengths[pick] >= 15)
                    continue;
                lengths[pick]++;
                lengths.insert(lengths.begin() + (long)pick + 1, lengths[pick]);
            }
        } else {
            // Long codes that fill little of the code space.
            do {
                lengths.assign(32, 0);
                for (uint8_t& L : lengths)
                    L = random(4) == 0 ? 0 : (uint8_t)(9 + random(7));
                lengths[random(32)] = (uint8_t)(1 + random(15));
            } while (Build(lengths, DistanceResults, DistanceBits, false, true, DistanceTableSize).result
                     == HuffmanOversubscribed);
        }
        Built b = distance ? Build(lengths, DistanceResults, DistanceBits, false, true, DistanceTableSize)
                           : Build(lengths, LiteralResults, LiteralBits, true, false, LiteralTableSize);
        ASSERT_NE(b.result, HuffmanOversubscribed) << round;
        if (!distance)
            ASSERT_EQ(b.result, HuffmanComplete) << round;
        std::vector<int> asInt(lengths.begin(), lengths.end());
        std::vector<uint32_t> codes = CanonicalCodes(asInt);
        const uint32_t* results = distance ? DistanceResults : LiteralResults;
        for (size_t s = 0; s < lengths.size(); s++) {
            if (lengths[s] == 0)
                continue;
            uint32_t reversed = 0;
            for (int i = 0; i < lengths[s]; i++)
                reversed |= ((codes[s] >> i) & 1) << (lengths[s] - 1 - i);
            uint32_t held, used;
            uint32_t entry = Decode(b, reversed, held, used);
            ASSERT_EQ(used, lengths[s]) << round << " symbol " << s;
            ASSERT_EQ(entry, results[s] + held * 0x101) << round << " symbol " << s;
        }
    }
}

}  // namespace
