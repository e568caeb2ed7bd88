#include "deflate_reblock.h"

#include <algorithm>
#include <cstring>
#include <queue>

namespace sfx {

namespace {

const int LitLenSymbols = 286, DistSymbols = 30, PrecodeSymbols = 19;
const int EndOfBlock = 256;
const int MaxCodeLength = 15, MaxPrecodeLength = 7;

const uint16_t LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t DistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                               193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t DistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const uint8_t PrecodeOrder[PrecodeSymbols] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A literal (distance 0, value the byte) or a match (length, distance).
struct Token {
    uint16_t value, distance;
};

uint8_t LengthSymbol(unsigned length)     // 0..28, for symbol 257 + it
{
    int s = 28;
    while (LengthBase[s] > length)
        s--;
    return (uint8_t)s;
}

uint8_t DistSymbol(unsigned distance)
{
    int s = 29;
    while (DistBase[s] > distance)
        s--;
    return (uint8_t)s;
}

// Symbol tables for the hot loops.
struct SymbolTables {
    uint8_t length[259];
    uint8_t distance[32769];
    SymbolTables()
    {
        for (unsigned n = 3; n <= 258; n++)
            length[n] = LengthSymbol(n);
        for (unsigned d = 1; d <= 32768; d++)
            distance[d] = DistSymbol(d);
    }
};
const SymbolTables& Tables()
{
    static const SymbolTables tables;
    return tables;
}

class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Fits(unsigned n) const { return position_ + n <= (uint64_t)size_ * 8; }
    uint32_t Peek(unsigned n) const      // n <= 25; bits past the end read as 0
    {
        uint64_t at = position_ >> 3;
        uint64_t word = 0;
        for (unsigned i = 0; i < 5 && at + i < size_; i++)
            word |= (uint64_t)data_[at + i] << (8 * i);
        return (uint32_t)(word >> (position_ & 7)) & ((1u << n) - 1);
    }
    uint32_t Take(unsigned n)
    {
        uint32_t v = n == 0 ? 0 : Peek(n);
        position_ += n;
        return v;
    }
    void AlignToByte() { position_ = (position_ + 7) & ~(uint64_t)7; }
    uint64_t Position() const { return position_; }
    void Skip(uint64_t n) { position_ += n; }

private:
    const uint8_t* data_;
    size_t size_;
    uint64_t position_ = 0;
};

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void Put(uint32_t value, unsigned n)        // n <= 32
    {
        buffer_ |= (uint64_t)value << count_;
        count_ += n;
        while (count_ >= 8) {
            out_.push_back((uint8_t)buffer_);
            buffer_ >>= 8;
            count_ -= 8;
        }
    }
    void Finish()
    {
        if (count_ > 0)
            out_.push_back((uint8_t)buffer_);
        buffer_ = 0;
        count_ = 0;
    }

private:
    std::vector<uint8_t>& out_;
    uint64_t buffer_ = 0;
    unsigned count_ = 0;
};

uint32_t Reversed(uint32_t code, unsigned length)
{
    uint32_t r = 0;
    for (unsigned i = 0; i < length; i++, code >>= 1)
        r = (r << 1) | (code & 1);
    return r;
}

// Canonical codes for code lengths, bit-reversed as deflate sends them.
void CanonicalCodes(const uint8_t* lengths, int n, uint16_t* codes)
{
    uint16_t count[MaxCodeLength + 1] = {0}, next[MaxCodeLength + 2] = {0};
    for (int i = 0; i < n; i++)
        count[lengths[i]]++;
    count[0] = 0;
    for (int len = 1; len <= MaxCodeLength; len++)
        next[len + 1] = (uint16_t)((next[len] + count[len]) << 1);
    for (int i = 0; i < n; i++)
        codes[i] = lengths[i] ? (uint16_t)Reversed(next[lengths[i]]++, lengths[i]) : 0;
}

// A decoding table of 2^longest entries: symbol << 4 | length, 0 if unused.
class Decoder {
public:
    bool Build(const uint8_t* lengths, int n)
    {
        longest_ = 0;
        uint32_t kraft = 0;
        for (int i = 0; i < n; i++) {
            longest_ = std::max<unsigned>(longest_, lengths[i]);
            if (lengths[i])
                kraft += 1u << (MaxCodeLength - lengths[i]);
        }
        if (longest_ == 0 || kraft > (1u << MaxCodeLength))
            return false;
        table_.assign((size_t)1 << longest_, 0);
        uint16_t codes[LitLenSymbols];
        CanonicalCodes(lengths, n, codes);
        for (int i = 0; i < n; i++)
            for (uint32_t fill = codes[i]; lengths[i] && fill < table_.size(); fill += 1u << lengths[i])
                table_[fill] = (uint16_t)(i << 4 | lengths[i]);
        return true;
    }
    // The next symbol, or -1 for a code that the table does not hold.
    int Decode(BitReader& in) const
    {
        uint16_t e = table_[in.Peek(longest_)];
        if (e == 0)
            return -1;
        in.Skip(e & 15);
        return e >> 4;
    }

private:
    std::vector<uint16_t> table_;
    unsigned longest_ = 0;
};

struct Block {
    uint64_t start, end;       // bits, from its final-block bit
    bool stored;
    size_t first, last;        // its tokens
};

// The blocks and tokens of a stream; false when it does not parse.
bool Parse(const uint8_t* stream, size_t size, std::vector<Block>& blocks, std::vector<Token>& tokens)
{
    BitReader in(stream, size);
    Decoder litlen, dist;
    for (bool final = false; !final;) {
        Block b{in.Position(), 0, false, tokens.size(), 0};
        if (!in.Fits(3))
            return false;
        final = in.Take(1);
        unsigned type = in.Take(2);
        uint8_t lengths[LitLenSymbols + DistSymbols];
        if (type == 0) {
            in.AlignToByte();
            if (!in.Fits(32))
                return false;
            uint32_t len = in.Take(16), nlen = in.Take(16);
            if ((len ^ nlen) != 0xFFFF || !in.Fits(len * 8))
                return false;
            in.Skip((uint64_t)len * 8);
            b.stored = true;
        } else {
            int nlit = 288 - 2, ndist = DistSymbols;
            if (type == 1) {
                std::memset(lengths, 8, 144);
                std::memset(lengths + 144, 9, 112);
                std::memset(lengths + 256, 7, 24);
                std::memset(lengths + 280, 8, 6);
                std::memset(lengths + nlit, 5, ndist);
            } else if (type == 2) {
                if (!in.Fits(14))
                    return false;
                nlit = 257 + (int)in.Take(5);
                ndist = 1 + (int)in.Take(5);
                int nprecode = 4 + (int)in.Take(4);
                if (nlit > LitLenSymbols || ndist > DistSymbols || !in.Fits(3 * nprecode))
                    return false;
                uint8_t pre[PrecodeSymbols] = {0};
                for (int i = 0; i < nprecode; i++)
                    pre[PrecodeOrder[i]] = (uint8_t)in.Take(3);
                Decoder precode;
                if (!precode.Build(pre, PrecodeSymbols))
                    return false;
                for (int i = 0; i < nlit + ndist;) {
                    int s = precode.Decode(in);
                    if (s < 0)
                        return false;
                    if (s < 16) {
                        lengths[i++] = (uint8_t)s;
                        continue;
                    }
                    int repeat, value = 0;
                    if (s == 16) {
                        if (i == 0)
                            return false;
                        value = lengths[i - 1];
                        repeat = 3 + (int)in.Take(2);
                    } else {
                        repeat = s == 17 ? 3 + (int)in.Take(3) : 11 + (int)in.Take(7);
                    }
                    if (i + repeat > nlit + ndist)
                        return false;
                    std::memset(lengths + i, value, repeat);
                    i += repeat;
                }
                if (lengths[EndOfBlock] == 0)
                    return false;
            } else {
                return false;
            }
            if (!litlen.Build(lengths, nlit) || !dist.Build(lengths + nlit, ndist))
                return false;
            for (;;) {
                if (!in.Fits(1))
                    return false;
                int s = litlen.Decode(in);
                if (s < 0 || s > 285)
                    return false;
                if (s < 256) {
                    tokens.push_back({(uint16_t)s, 0});
                    continue;
                }
                if (s == EndOfBlock)
                    break;
                unsigned length = LengthBase[s - 257] + in.Take(LengthExtra[s - 257]);
                int d = dist.Decode(in);
                if (d < 0 || d >= DistSymbols)
                    return false;
                unsigned distance = DistBase[d] + in.Take(DistExtra[d]);
                tokens.push_back({(uint16_t)length, (uint16_t)distance});
            }
        }
        b.end = in.Position();
        b.last = tokens.size();
        if (b.end > (uint64_t)size * 8)
            return false;
        blocks.push_back(b);
    }
    return true;
}

// Code lengths of at most limit bits for these frequencies: Huffman's,
// then the longest cut to the limit and the Kraft sum made exact again by
// lengthening the rarest symbols and shortening the longest ones. Two
// symbols at least get a code, so that every code is complete.
//
// order, when given, holds the n symbols in the order of the last call's
// weights, which the histograms of a cut search change only a little: the
// sort then takes few steps, and order is left in this call's order.
void BuildLengths(const uint32_t* freq, int n, int limit, uint8_t* lengths, uint16_t* order = nullptr)
{
    // Weight and symbol in one key, sorted rarest first.
    uint64_t key[LitLenSymbols];
    size_t m = 0;
    if (order) {
        for (int i = 0; i < n; i++)
            if (freq[order[i]])
                key[m++] = (uint64_t)freq[order[i]] << 9 | order[i];
        for (size_t i = 1; i < m; i++) {
            uint64_t k = key[i];
            size_t j = i;
            for (; j > 0 && key[j - 1] > k; j--)
                key[j] = key[j - 1];
            key[j] = k;
        }
        size_t at = 0;
        for (size_t i = 0; i < m; i++)
            order[at++] = (uint16_t)(key[i] & 511);
        for (int i = 0; i < n; i++)
            if (!freq[i])
                order[at++] = (uint16_t)i;
    } else {
        for (int i = 0; i < n; i++)
            if (freq[i])
                key[m++] = (uint64_t)freq[i] << 9 | (uint64_t)i;
        std::sort(key, key + m);
    }
    if (m < 2) {
        // Two codes at least: the lowest unused symbols, sorted in.
        for (int i = 0; m < 2 && i < n; i++)
            if (!freq[i])
                key[m++] = (uint64_t)i;
        std::sort(key, key + m);
    }
    int used[LitLenSymbols];
    uint64_t weight[2 * LitLenSymbols];
    int parent[2 * LitLenSymbols], depth[2 * LitLenSymbols];
    for (size_t i = 0; i < m; i++) {
        used[i] = (int)(key[i] & 511);
        weight[i] = key[i] >> 9;
    }
    std::memset(lengths, 0, n);
    // Huffman's tree by two queues over the sorted leaves.
    size_t leaf = 0, inner = m, next = m;
    auto smallest = [&]() {
        if (leaf < m && (inner >= next || weight[leaf] <= weight[inner]))
            return leaf++;
        return inner++;
    };
    while (next < 2 * m - 1) {
        size_t a = smallest(), b = smallest();
        weight[next] = weight[a] + weight[b];
        parent[a] = parent[b] = (int)next;
        next++;
    }
    depth[2 * m - 2] = 0;
    for (size_t i = 2 * m - 2; i-- > 0;)
        depth[i] = depth[parent[i]] + 1;
    for (size_t i = 0; i < m; i++)
        lengths[used[i]] = (uint8_t)std::min(depth[i], limit);

    // Kraft sum in units of 2^-limit; the leaves are rarest first.
    int64_t full = (int64_t)1 << limit, kraft = 0;
    for (size_t i = 0; i < m; i++)
        kraft += (int64_t)1 << (limit - lengths[used[i]]);
    for (size_t i = 0; kraft > full; i = (i + 1) % m) {
        int s = used[i];
        if (lengths[s] < limit) {
            kraft -= (int64_t)1 << (limit - lengths[s] - 1);
            lengths[s]++;
        }
    }
    while (kraft < full) {
        // The longest code first: it gains the least when shortened.
        int best = -1;
        for (size_t i = 0; i < m; i++) {
            int s = used[i];
            if (lengths[s] > 1 && kraft + ((int64_t)1 << (limit - lengths[s])) <= full
                && (best < 0 || lengths[s] > lengths[best]))
                best = s;
        }
        if (best < 0)
            break;
        kraft += (int64_t)1 << (limit - lengths[best]);
        lengths[best]--;
    }
}

// What one block of many tokens is made of, as far as its size goes.
struct Histogram {
    uint32_t litlen[LitLenSymbols] = {0};
    uint32_t dist[DistSymbols] = {0};
    uint64_t extraBits = 0;

    void Add(const Token& t)
    {
        const SymbolTables& tables = Tables();
        if (t.distance == 0) {
            litlen[t.value]++;
            return;
        }
        uint8_t l = tables.length[t.value], d = tables.distance[t.distance];
        litlen[257 + l]++;
        dist[d]++;
        extraBits += LengthExtra[l] + DistExtra[d];
    }
    void Add(const Histogram& h)
    {
        for (int i = 0; i < LitLenSymbols; i++)
            litlen[i] += h.litlen[i];
        for (int i = 0; i < DistSymbols; i++)
            dist[i] += h.dist[i];
        extraBits += h.extraBits;
    }
};

// A block's own code and the header that sends it.
struct DynamicCode {
    uint8_t lengths[LitLenSymbols + DistSymbols];
    int nlit, ndist, nprecode;
    uint8_t precode[PrecodeSymbols];
    std::vector<uint16_t> runs;     // precode symbol | extra value << 5
    uint64_t headerBits;
};

// Symbol orders that follow one sequence of similar histograms.
struct Orders {
    uint16_t litlen[LitLenSymbols], dist[DistSymbols];
    Orders()
    {
        for (int i = 0; i < LitLenSymbols; i++)
            litlen[i] = (uint16_t)i;
        for (int i = 0; i < DistSymbols; i++)
            dist[i] = (uint16_t)i;
    }
};

void MakeCode(const Histogram& h, DynamicCode& c, Orders* orders = nullptr)
{
    uint32_t litlen[LitLenSymbols];
    std::memcpy(litlen, h.litlen, sizeof litlen);
    litlen[EndOfBlock] = 1;
    BuildLengths(litlen, LitLenSymbols, MaxCodeLength, c.lengths, orders ? orders->litlen : nullptr);
    uint8_t dist[DistSymbols];
    BuildLengths(h.dist, DistSymbols, MaxCodeLength, dist, orders ? orders->dist : nullptr);
    c.nlit = LitLenSymbols;
    while (c.nlit > 257 && c.lengths[c.nlit - 1] == 0)
        c.nlit--;
    c.ndist = DistSymbols;
    while (c.ndist > 1 && dist[c.ndist - 1] == 0)
        c.ndist--;
    std::memcpy(c.lengths + c.nlit, dist, c.ndist);

    // The lengths in runs: 16 repeats the previous 3 to 6 times, 17 and 18
    // write 3 to 10 and 11 to 138 zeros.
    c.runs.clear();
    uint32_t freq[PrecodeSymbols] = {0};
    int total = c.nlit + c.ndist;
    for (int i = 0; i < total;) {
        uint8_t v = c.lengths[i];
        int run = 1;
        while (i + run < total && c.lengths[i + run] == v)
            run++;
        int left = run;
        if (v == 0) {
            while (left >= 11) {
                int n = std::min(left, 138);
                c.runs.push_back((uint16_t)(18 | (n - 11) << 5));
                left -= n;
            }
            if (left >= 3) {
                c.runs.push_back((uint16_t)(17 | (left - 3) << 5));
                left = 0;
            }
        } else if (left >= 4) {
            c.runs.push_back(v);
            left--;
            while (left >= 3) {
                int n = std::min(left, 6);
                c.runs.push_back((uint16_t)(16 | (n - 3) << 5));
                left -= n;
            }
        }
        for (; left > 0; left--)
            c.runs.push_back(v);
        i += run;
    }
    for (uint16_t r : c.runs)
        freq[r & 31]++;
    BuildLengths(freq, PrecodeSymbols, MaxPrecodeLength, c.precode);
    c.nprecode = PrecodeSymbols;
    while (c.nprecode > 4 && c.precode[PrecodeOrder[c.nprecode - 1]] == 0)
        c.nprecode--;
    c.headerBits = 3 + 5 + 5 + 4 + 3 * (uint64_t)c.nprecode;
    for (uint16_t r : c.runs) {
        unsigned s = r & 31;
        c.headerBits += c.precode[s] + (s == 16 ? 2 : s == 17 ? 3 : s == 18 ? 7 : 0);
    }
}

uint8_t FixedLength(int litlen)
{
    return litlen < 144 ? 8 : litlen < 256 ? 9 : litlen < 280 ? 7 : 8;
}

// Bits of the block with its own code (or, when dynamic is false, with the
// fixed one), header included.
uint64_t CodedBits(const Histogram& h, const DynamicCode& c)
{
    uint64_t bits = c.headerBits + h.extraBits + c.lengths[EndOfBlock];
    for (int i = 0; i < LitLenSymbols; i++)
        bits += (uint64_t)h.litlen[i] * c.lengths[i];
    for (int i = 0; i < DistSymbols; i++)
        bits += (uint64_t)h.dist[i] * (i < c.ndist ? c.lengths[c.nlit + i] : 0);
    return bits;
}

uint64_t FixedBits(const Histogram& h)
{
    uint64_t bits = 3 + h.extraBits + 7;
    for (int i = 0; i < LitLenSymbols; i++)
        bits += (uint64_t)h.litlen[i] * FixedLength(i);
    for (int i = 0; i < DistSymbols; i++)
        bits += (uint64_t)h.dist[i] * 5;
    return bits;
}

// A run of tokens that goes out as one block: a block of the stream as it
// stands (always so for a stored one), or coded anew.
struct Group {
    size_t first, last;     // tokens
    size_t block;           // the block copied, when copied
    Histogram histogram;
    uint64_t bits;          // as it will be written
    bool copied, stored, fixed;
};

void Cost(Group& g, DynamicCode& scratch, Orders* orders = nullptr)
{
    MakeCode(g.histogram, scratch, orders);
    uint64_t dynamic = CodedBits(g.histogram, scratch), fixed = FixedBits(g.histogram);
    g.fixed = fixed < dynamic;
    g.bits = std::min(fixed, dynamic);
}

void WriteTokens(BitWriter& out, const Token* tokens, size_t count, const uint8_t* litlenLengths,
                 const uint16_t* litlenCodes, const uint8_t* distLengths, const uint16_t* distCodes)
{
    const SymbolTables& tables = Tables();
    for (size_t i = 0; i < count; i++) {
        const Token& t = tokens[i];
        if (t.distance == 0) {
            out.Put(litlenCodes[t.value], litlenLengths[t.value]);
            continue;
        }
        uint8_t l = tables.length[t.value], d = tables.distance[t.distance];
        out.Put(litlenCodes[257 + l], litlenLengths[257 + l]);
        out.Put(t.value - LengthBase[l], LengthExtra[l]);
        out.Put(distCodes[d], distLengths[d]);
        out.Put(t.distance - DistBase[d], DistExtra[d]);
    }
    out.Put(litlenCodes[EndOfBlock], litlenLengths[EndOfBlock]);
}

void WriteGroup(BitWriter& out, const Group& g, bool final, const std::vector<Token>& tokens, DynamicCode& c)
{
    const Token* first = tokens.data() + g.first;
    size_t count = g.last - g.first;
    out.Put(final, 1);
    if (g.fixed) {
        uint8_t lengths[288 + DistSymbols];
        for (int i = 0; i < 288; i++)
            lengths[i] = FixedLength(i);
        uint16_t codes[288], distCodes[DistSymbols];
        CanonicalCodes(lengths, 288, codes);
        uint8_t distLengths[DistSymbols];
        std::memset(distLengths, 5, sizeof distLengths);
        CanonicalCodes(distLengths, DistSymbols, distCodes);
        out.Put(1, 2);
        WriteTokens(out, first, count, lengths, codes, distLengths, distCodes);
        return;
    }
    MakeCode(g.histogram, c);
    out.Put(2, 2);
    out.Put((uint32_t)(c.nlit - 257), 5);
    out.Put((uint32_t)(c.ndist - 1), 5);
    out.Put((uint32_t)(c.nprecode - 4), 4);
    for (int i = 0; i < c.nprecode; i++)
        out.Put(c.precode[PrecodeOrder[i]], 3);
    uint16_t precodeCodes[PrecodeSymbols];
    CanonicalCodes(c.precode, PrecodeSymbols, precodeCodes);
    for (uint16_t r : c.runs) {
        unsigned s = r & 31;
        out.Put(precodeCodes[s], c.precode[s]);
        if (s >= 16)
            out.Put(r >> 5, s == 16 ? 2 : s == 17 ? 3 : 7);
    }
    uint16_t litlenCodes[LitLenSymbols], distCodes[DistSymbols];
    uint8_t distLengths[DistSymbols] = {0};
    std::memcpy(distLengths, c.lengths + c.nlit, c.ndist);
    CanonicalCodes(c.lengths, c.nlit, litlenCodes);
    CanonicalCodes(distLengths, DistSymbols, distCodes);
    WriteTokens(out, first, count, c.lengths, litlenCodes, distLengths, distCodes);
}

void CopyBits(BitWriter& out, const uint8_t* stream, size_t size, uint64_t from, uint64_t to)
{
    BitReader in(stream, size);
    in.Skip(from);
    for (uint64_t left = to - from; left > 0;) {
        unsigned n = (unsigned)std::min<uint64_t>(left, 24);
        out.Put(in.Take(n), n);
        left -= n;
    }
}

// The best of a few cuts of a group into two, taken when it saves bits,
// and the same for each half; the pieces go to out in order.
const size_t MinSplitTokens = 128;
const size_t MaxCuts = 32, MinCutSpacing = 64;

void Split(const Group& g, const std::vector<Token>& tokens, DynamicCode& scratch, std::vector<Group>& out)
{
    size_t count = g.last - g.first;
    if (count < 2 * MinSplitTokens) {
        out.push_back(g);
        return;
    }
    Group bestLeft, bestRight;
    uint64_t bestBits = g.bits;
    size_t bestCut = 0;
    Orders leftOrders, rightOrders;
    // left holds the tokens from the group's start to the cut.
    auto consider = [&](Group& left, size_t cut) {
        for (; left.last < cut; left.last++)
            left.histogram.Add(tokens[left.last]);
        Group right{cut, g.last, 0, g.histogram, 0, false, false, false};
        for (int i = 0; i < LitLenSymbols; i++)
            right.histogram.litlen[i] -= left.histogram.litlen[i];
        for (int i = 0; i < DistSymbols; i++)
            right.histogram.dist[i] -= left.histogram.dist[i];
        right.histogram.extraBits -= left.histogram.extraBits;
        Cost(left, scratch, &leftOrders);
        Cost(right, scratch, &rightOrders);
        if (left.bits + right.bits < bestBits) {
            bestBits = left.bits + right.bits;
            bestLeft = left;
            bestRight = right;
            bestCut = cut;
        }
    };
    size_t cuts = std::min(MaxCuts, count / MinCutSpacing);
    Group left{g.first, g.first, 0, {}, 0, false, false, false};
    for (size_t k = 1; k < cuts; k++)
        consider(left, g.first + count * k / cuts);
    // Then finer around the best cut, between its neighbours.
    size_t step = count / cuts, fine = std::max<size_t>(1, step / 8);
    if (bestCut != 0 && step > 1) {
        size_t from = bestCut - step, coarse = bestCut;
        Group near{g.first, g.first, 0, {}, 0, false, false, false};
        for (size_t cut = from + fine; cut < coarse + step && cut < g.last; cut += fine)
            if (cut != coarse)
                consider(near, cut);
    }
    if (bestBits == g.bits) {
        out.push_back(g);
        return;
    }
    Split(bestLeft, tokens, scratch, out);
    Split(bestRight, tokens, scratch, out);
}

}  // namespace

bool Reblock(const uint8_t* stream, size_t size, std::vector<uint8_t>& out)
{
    std::vector<Block> blocks;
    std::vector<Token> tokens;
    if (!Parse(stream, size, blocks, tokens))
        return false;

    // Every block alone, copied or coded anew, whichever is smaller, and
    // cut in two where that saves bits, again within each half.
    std::vector<Group> groups;
    DynamicCode scratch;
    for (size_t i = 0; i < blocks.size(); i++) {
        const Block& b = blocks[i];
        Group single{b.first, b.last, i, {}, b.end - b.start, true, b.stored, false};
        if (b.stored) {
            groups.push_back(single);
            continue;
        }
        for (size_t t = b.first; t < b.last; t++)
            single.histogram.Add(tokens[t]);
        Group own = single;
        Cost(own, scratch);
        if (own.bits < single.bits)
            single = own, single.copied = false;
        Split(single, tokens, scratch, groups);
    }

    // Then, again and again, the two neighbours whose merging saves the
    // most bits become one, until no merging saves any.
    size_t n = groups.size();
    std::vector<Group> merged(n);
    std::vector<int64_t> gain(n, 0);
    std::vector<size_t> next(n), previous(n);
    std::vector<bool> alive(n, true);
    auto evaluate = [&](size_t i) {
        gain[i] = 0;
        if (next[i] >= n || groups[i].stored || groups[next[i]].stored)
            return;
        Group m = groups[i];
        m.last = groups[next[i]].last;
        m.copied = false;
        m.histogram.Add(groups[next[i]].histogram);
        Cost(m, scratch);
        gain[i] = (int64_t)(groups[i].bits + groups[next[i]].bits) - (int64_t)m.bits;
        merged[i] = m;
    };
    for (size_t i = 0; i < n; i++) {
        next[i] = i + 1;
        previous[i] = i == 0 ? n : i - 1;
    }
    // Ties go to the earlier pair, so the result depends on nothing else.
    std::priority_queue<std::pair<int64_t, size_t>> best;
    for (size_t i = 0; i < n; i++) {
        evaluate(i);
        if (gain[i] > 0)
            best.push({gain[i], n - i});
    }
    while (!best.empty()) {
        auto top = best.top();
        best.pop();
        size_t i = n - top.second;
        if (!alive[i] || gain[i] != top.first)
            continue;       // an older offer
        size_t j = next[i];
        groups[i] = merged[i];
        alive[j] = false;
        next[i] = next[j];
        if (next[i] < n)
            previous[next[i]] = i;
        for (size_t k : {i, previous[i]}) {
            if (k >= n)
                continue;
            evaluate(k);
            if (gain[k] > 0)
                best.push({gain[k], n - k});
        }
    }
    std::vector<Group> kept;
    uint64_t after = 0;
    for (size_t i = 0; i < n; i = next[i]) {
        kept.push_back(groups[i]);
        after += groups[i].bits;
    }
    groups.swap(kept);
    if ((after + 7) / 8 >= size)
        return false;

    std::vector<uint8_t> written;
    written.reserve(size);
    BitWriter bits(written);
    for (size_t i = 0; i < groups.size(); i++) {
        const Group& g = groups[i];
        bool final = i + 1 == groups.size();
        if (g.copied) {
            const Block& b = blocks[g.block];
            bits.Put(final, 1);
            CopyBits(bits, stream, size, b.start + 1, b.end);
        } else {
            WriteGroup(bits, g, final, tokens, scratch);
        }
    }
    bits.Finish();
    out.swap(written);
    return true;
}

}  // namespace sfx
