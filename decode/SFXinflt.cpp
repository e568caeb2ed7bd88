// Inflate decoder: input and bit reader, Huffman tables, block decoder.
//
// Two paths decode literal/length and distance codes. The exact path takes
// bytes one at a time, only as far as each step needs them, so the archive
// is read exactly when a byte past the current chunk is wanted and never
// beyond the entry. The fast path runs while at least FastInputMargin bytes
// of the current chunk and room for a longest match in the window remain:
// it loads the bit buffer a word at a time from the chunk already read and
// moves matches without per-byte bookkeeping. It never reads the archive or
// flushes the window; it leaves end-of-block and invalid codes to the exact
// path, stopping before their first bit, and gives back the bytes that it
// took ahead. So both paths read, write and checksum the same bytes at the
// same points of the stream.
#include "SFXinflt.h"
#include "SFXattr.h"
#include "SFXcrc.h"
#include "SFXcrypt.h"
#include "../startup/SFXstate.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the fast path loads little-endian words");

const uint16_t LengthBases[31] = {
    3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
    35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0, 0};
const uint8_t LengthExtraBits[31] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
    3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, OpInvalid, OpInvalid};
const uint16_t DistanceBases[32] = {
    1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193,
    257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 0, 0};
const uint8_t DistanceExtraBits[32] = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6,
    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, OpInvalid, OpInvalid};
const uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
const uint16_t BitMasks[17] = {
    0x0000, 0x0001, 0x0003, 0x0007, 0x000F, 0x001F, 0x003F, 0x007F, 0x00FF,
    0x01FF, 0x03FF, 0x07FF, 0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF};

// Stands in for the distance table of a block whose distance lengths are all
// 0: any match in such a block is an invalid code.
static const HuffmanEntry NoDistanceCodes[1] = {{OpInvalid, 0, 0, 0}};

uint8_t* InputBuffer;
uint16_t InputPosition;
int32_t InputCount;
uint32_t BitBuffer;
uint16_t BitCount;
uint32_t FillerBits;
uint8_t* Window;
uint16_t WindowPosition;
HuffmanEntry* FixedLiteralTable;
HuffmanEntry* FixedDistanceTable;
static HuffmanEntry* FixedLiteralChain;
static HuffmanEntry* FixedDistanceChain;
static int32_t FixedLiteralBits;
static int32_t FixedDistanceBits;

enum : uint32_t {
    FastInputMargin = 16,                            // covers the word loads of one step
    MatchOverrun = 8,                                // see CopyMatch
    FastWindowLimit = WindowSize - 4,                // three literals; matches check their own room
    DynamicLengthsSize = 321,
};

// The fast path never fills the window: flushing is the exact path's.
static_assert(FastWindowLimit + 3 < WindowSize, "room for one fast step");

// ---------------------------------------------------------------------------
// Huffman tables

SFX_SMALL int32_t BuildHuffmanTables(const uint16_t* lengths, uint16_t count, uint16_t simple,
                                     const uint16_t* bases, const uint8_t* extras, HuffmanEntry*& root,
                                     HuffmanEntry*& chain, int32_t& lookupBits)
{
    if (count > MaxSymbols)
        return HuffmanOversubscribed;
    // c: codes per length; 32-bit so that filler codes of length 16 fit.
    int32_t c[MaxCodeLength + 1] = {0};
    for (uint32_t i = 0; i < count; i++) {
        if (lengths[i] > MaxCodeLength)
            return HuffmanOversubscribed;
        c[lengths[i]]++;
    }
    if (c[0] == count) {
        root = 0;
        lookupBits = 0;
        return HuffmanComplete;
    }
    int32_t endOfBlockLength = count > 256 ? lengths[256] : 16;
    int32_t nonZero = count - c[0];

    int32_t shortest = 1;
    while (c[shortest] == 0)
        shortest++;
    if (lookupBits < shortest)
        lookupBits = shortest;
    int32_t longest = MaxCodeLength;
    while (c[longest] == 0)
        longest--;
    if (lookupBits > longest)
        lookupBits = longest;

    // Fill check; the unused patterns of the longest length become filler
    // codes that decode as invalid.
    int32_t unused = 1 << shortest;
    for (int32_t L = shortest; L < longest; L++) {
        unused -= c[L];
        if (unused < 0)
            return HuffmanOversubscribed;
        unused <<= 1;
    }
    unused -= c[longest];
    if (unused < 0)
        return HuffmanOversubscribed;
    c[longest] += unused;

    // Symbols in canonical code order.
    int32_t x[MaxCodeLength + 1];
    uint16_t symbols[MaxSymbols];
    x[1] = 0;
    for (int32_t L = 1; L < longest; L++)
        x[L + 1] = x[L] + c[L];
    for (uint32_t i = 0; i < count; i++)
        if (lengths[i] != 0)
            symbols[x[lengths[i]]++] = (uint16_t)i;

    // Walk the codes in order, opening a table whenever a code is longer
    // than the bits that the open tables index.
    int32_t tableBitsStore[MaxCodeLength + 1];
    int32_t* tableBits = tableBitsStore + 1;         // tableBits[-1] is 0
    HuffmanEntry* levelTable[MaxCodeLength];
    HuffmanEntry* table = 0;
    int32_t code = 0;
    int32_t level = -1;
    int32_t consumed = 0;                             // bits indexed by the levels above
    int32_t slots = 0;
    int32_t next = 0;                                 // next of symbols
    tableBits[-1] = 0;
    x[0] = 0;
    bool rootSet = false;
    for (int32_t k = shortest; k <= longest; k++) {
        for (int32_t left = c[k]; left-- > 0;) {
            while (k > consumed + tableBits[level]) {
                consumed += tableBits[level];
                level++;
                int32_t limit = longest - consumed;
                if (limit > lookupBits)
                    limit = lookupBits;
                int32_t j = k - consumed;
                int32_t f = 1 << j;
                if (f > left + 1) {
                    // Grow while the codes left still fill the larger table.
                    f -= left + 1;
                    int32_t L = k;
                    while (++j < limit) {
                        f <<= 1;
                        if (f <= c[++L])
                            break;
                        f -= c[L];
                    }
                }
                if (consumed + j > endOfBlockLength && consumed < endOfBlockLength)
                    j = endOfBlockLength - consumed;
                slots = 1 << j;
                tableBits[level] = j;
                HuffmanEntry* block =
                    (HuffmanEntry*)AllocateBlock((uint32_t)(slots + 1) * sizeof(HuffmanEntry));
                if (block == 0)
                    return HuffmanNoMemory;
                block->Link = chain;
                table = block + 1;
                chain = table;
                levelTable[level] = table;
                if (!rootSet) {
                    root = table;
                    rootSet = true;
                }
                if (level > 0) {
                    x[level] = code;
                    HuffmanEntry link;
                    link.Op = (uint8_t)(OpLinkBase + j);
                    link.Bits = (uint8_t)tableBits[level - 1];
                    link.Value = 0;
                    link.Link = table;
                    int32_t above = consumed - tableBits[level - 1];
                    levelTable[level - 1][(code & ((1 << consumed) - 1)) >> above] = link;
                }
            }

            HuffmanEntry slot;
            slot.Bits = (uint8_t)(k - consumed);
            slot.Value = 0;
            slot.Link = 0;
            if (next >= nonZero) {
                slot.Op = OpInvalid;
            } else {
                uint32_t s = symbols[next++];
                if (s < simple) {
                    slot.Op = s < 256 ? OpLiteral : OpEndOfBlock;
                    slot.Value = (uint16_t)s;
                } else {
                    slot.Op = extras[s - simple];
                    slot.Value = bases[s - simple];
                }
            }
            int32_t step = 1 << (k - consumed);
            for (int32_t j = code >> consumed; j < slots; j += step)
                table[j] = slot;

            // Next code of this length, counting in bit-reversed order.
            int32_t bit = 1 << (k - 1);
            while (code & bit) {
                code ^= bit;
                bit >>= 1;
            }
            code ^= bit;

            while ((code & ((1 << consumed) - 1)) != x[level]) {
                level--;
                consumed -= tableBits[level];
            }
        }
    }
    lookupBits = tableBits[0];
    return (unused != 0 && longest != 1) ? HuffmanIncomplete : HuffmanComplete;
}

SFX_SMALL void FreeHuffmanTables(HuffmanEntry* chain)
{
    while (chain != 0) {
        HuffmanEntry* block = chain - 1;
        chain = block->Link;
        ReleaseBlock(block);
    }
}

// ---------------------------------------------------------------------------
// Input

SFX_SMALL int32_t ReadInputByte()
{
    if (InputPosition >= InputCount) {
        int32_t wanted = DataRemaining < (int32_t)InputChunkSize ? DataRemaining : (int32_t)InputChunkSize;
        int32_t delivered = wanted > 0 ? ReadArchive(InputBuffer, wanted) : 0;
        if (delivered < 0)
            delivered = 0;
        if (delivered > wanted)
            delivered = wanted;
        if (EntryHeader.Flags & FlagEncrypted)
            DecryptBuffer(InputBuffer, delivered);
        InputCount = delivered;
        InputPosition = 0;
    }
    if (InputCount == 0) {
        DataRemaining = 0;
        InputPosition = 0;
        return -1;
    }
    return InputBuffer[InputPosition++];
}

SFX_SMALL int32_t NextInputByte()
{
    if (DataRemaining <= 0)
        return -1;
    int32_t next = ReadInputByte();
    DataRemaining--;
    return next;
}

SFX_SMALL void NeedBits(uint32_t n, uint32_t& buffer, uint32_t& count)
{
    while (count < n) {
        int32_t next = NextInputByte();
        if (next < 0)
            FillerBits += 8;
        buffer |= (uint32_t)next << count;
        count += 8;
    }
}

// True once a step has used bits that lie past the end of the data.
static SFX_ALWAYS_INLINE bool PastEnd(uint32_t count)
{
    return count < FillerBits;
}

// ---------------------------------------------------------------------------
// Output

// Writes the first p bytes of the window and runs the CRC over the bytes
// that the output accepted, so a full disk fails the entry.
SFX_SMALL static void FlushWindow(uint32_t p)
{
    int32_t written = WriteOutput(Window, (int32_t)p);
    if (written > (int32_t)p)
        written = (int32_t)p;
    if (written < (int32_t)p)
        EntryDataComplete = 0;
    CrcUpdateBuffer(Window, written, RunningCrc);
}

static SFX_ALWAYS_INLINE void Copy8(uint8_t* to, const uint8_t* from)
{
    uint64_t v;
    __builtin_memcpy(&v, from, 8);
    __builtin_memcpy(to, &v, 8);
}

// Byte loops here are short and rare; vectorising them only adds code.
#if defined(__clang__)
#define SFX_SCALAR_LOOP _Pragma("clang loop vectorize(disable) interleave(disable) unroll(disable)")
#else
#define SFX_SCALAR_LOOP
#endif

// Copies n bytes from an address at or after to, eight at a time: each load
// comes before the store that could overwrite its bytes.
static void CopyForward(uint8_t* to, const uint8_t* from, uint32_t n)
{
    SFX_SCALAR_LOOP
    for (; n >= 8; n -= 8, to += 8, from += 8)
        Copy8(to, from);
    SFX_SCALAR_LOOP
    for (; n > 0; n--)
        *to++ = *from++;
}

// Copies a match of n bytes from distance bytes back within the window,
// eight bytes at a time, running up to seven bytes past its end. Those bytes
// are history that a later distance of up to 32,768 may still need, so they
// are saved first and put back afterwards; the caller leaves room for them.
static SFX_ALWAYS_INLINE void CopyMatch(uint8_t* to, uint32_t distance, uint32_t n)
{
    uint8_t* const end = to + n;
    uint64_t behind;
    __builtin_memcpy(&behind, end, 8);
    if (distance >= 8) {
        const uint8_t* from = to - distance;
        SFX_SCALAR_LOOP
        do {
            Copy8(to, from);
            to += 8;
            from += 8;
        } while (to < end);
    } else if (distance == 1) {
        uint64_t run = to[-1] * 0x0101010101010101ull;
        SFX_SCALAR_LOOP
        do {
            __builtin_memcpy(to, &run, 8);
            to += 8;
        } while (to < end);
    } else {
        const uint8_t* from = to - distance;
        SFX_SCALAR_LOOP
        do
            *to++ = *from++;
        while (to < end);
    }
    __builtin_memcpy(end, &behind, 8);
}

// ---------------------------------------------------------------------------
// Literal/length and distance codes

// The fast path's bit buffer: room for a whole length and distance with
// their extra bits after one refill.
typedef uint64_t BitWord;

static SFX_ALWAYS_INLINE void RefillWord(BitWord& bits, uint32_t& count, const uint8_t*& in)
{
    BitWord word;
    __builtin_memcpy(&word, in, sizeof word);
    bits |= word << count;
    in += (sizeof(BitWord) * 8 - 1 - count) >> 3;
    count |= sizeof(BitWord) * 8 - 8;
}

// The fast path reads its codes from compact tables, one 32-bit word a slot,
// filled from the Huffman tables for each block: a code of up to
// FastLiteralBits (FastDistanceBits) bits, also one behind a link, costs one
// load and one shift. A slot holds
//   bits 0-5    bits of the whole symbol: code, plus extra bits of a base
//   bit 6       a literal; bit 7: left to the exact path (end of block,
//               invalid code, or a code longer than the table resolves)
//   bits 8-11   bits of the code alone; bits 12-15: extra bits
//   bits 16-31  literal byte or base
enum : uint32_t {
    FastLiteral = 0x40,
    FastExit = 0x80,
    FastLiteralBits = 11,
    FastDistanceBits = 10,
};
static uint32_t FastLiteralRoot[1u << FastLiteralBits] SFX_UNINITIALISED;
static uint32_t FastDistanceRoot[1u << FastDistanceBits] SFX_UNINITIALISED;

// The compact form of a symbol slot whose code starts with prefix bits.
SFX_SMALL static uint32_t CompactSlot(const HuffmanEntry* t, uint32_t prefix)
{
    uint32_t code = prefix + t->Bits;
    uint32_t op = t->Op;
    if (op == OpLiteral)
        return (uint32_t)t->Value << 16 | code << 8 | FastLiteral | code;
    if (op <= OpMaxExtraBits)
        return (uint32_t)t->Value << 16 | op << 12 | code << 8 | (code + op);
    return FastExit;
}

static SFX_ALWAYS_INLINE bool IsLink(uint32_t op)
{
    return op > OpLinkBase && op != OpInvalid;
}

// Fills a compact table of 2^bits slots (bits not below rootBits) from a
// root table: the root repeats 2^(bits - rootBits) times, except that a link
// resolves, slot by slot, to the code behind it when that code fits in bits.
SFX_SMALL static void CompactTable(uint32_t* compact, const HuffmanEntry* root, uint32_t rootBits, uint32_t bits)
{
    const uint32_t rootSlots = 1u << rootBits;
    const uint32_t slots = 1u << bits;
    for (uint32_t r = 0; r < rootSlots; r++)
        compact[r] = CompactSlot(root + r, 0);
    for (uint32_t i = rootSlots; i < slots; i += i)
        __builtin_memcpy(compact + i, compact, i * sizeof *compact);
    for (uint32_t r = 0; r < rootSlots; r++) {
        const HuffmanEntry* t = root + r;
        if (IsLink(t->Op)) {
            const uint32_t subMask = BitMasks[t->Op - OpLinkBase];
            for (uint32_t i = r; i < slots; i += rootSlots) {
                const HuffmanEntry* sub = t->Link + ((i >> rootBits) & subMask);
                if (rootBits + sub->Bits <= bits)
                    compact[i] = CompactSlot(sub, rootBits);
            }
        }
    }
}

// For a slot that the compact table leaves to the exact path: the compact
// form of the code behind a root link, or FastExit.
static SFX_ALWAYS_INLINE uint32_t ResolveLink(const HuffmanEntry* t, BitWord bits)
{
    if (!IsLink(t->Op))
        return FastExit;
    return CompactSlot(t->Link + ((bits >> t->Bits) & BitMasks[t->Op - OpLinkBase]), t->Bits);
}

static SFX_ALWAYS_INLINE uint32_t ExtraValue(uint32_t e, BitWord bits)
{
    return (e >> 16) + (uint32_t)((bits >> ((e >> 8) & 15)) & BitMasks[(e >> 12) & 15]);
}

// Decodes literals and matches while the chunk and the window have room.
// Each code is looked at whole before any of its bits is consumed, so the
// path can stop at the start of any code that it leaves to the exact path
// (end of block, invalid or deeply nested codes): it then returns true.
static SFX_ALWAYS_INLINE bool DecodeFast(const HuffmanEntry* lt, const HuffmanEntry* dt,
                                         BitWord lmask, BitWord dmask, uint32_t& bitsRef,
                                         uint32_t& countRef, uint32_t& wRef)
{
    BitWord bits = bitsRef;
    uint32_t count = countRef;
    uint8_t* const window = Window;
    uint8_t* out = window + wRef;
    uint8_t* const outLimit = window + FastWindowLimit;
    const uint8_t* in = InputBuffer + InputPosition;
    const uint8_t* const inLimit = InputBuffer + InputCount - FastInputMargin;
    const uint32_t* const literals = FastLiteralRoot;
    const uint32_t* const distances = FastDistanceRoot;
    const BitWord fastLmask = (1u << FastLiteralBits) - 1;
    const BitWord fastDmask = (1u << FastDistanceBits) - 1;
    bool handOver = true;

    while (in <= inLimit && out <= outLimit) {
        RefillWord(bits, count, in);
        uint32_t e = literals[bits & fastLmask];
        if (e & FastLiteral) {
            // Up to three literals fit in the bits of one refill.
            bits >>= e & 63;
            count -= e & 63;
            *out++ = (uint8_t)(e >> 16);
            e = literals[bits & fastLmask];
            if (e & FastLiteral) {
                bits >>= e & 63;
                count -= e & 63;
                *out++ = (uint8_t)(e >> 16);
                e = literals[bits & fastLmask];
                if (e & FastLiteral) {
                    bits >>= e & 63;
                    count -= e & 63;
                    *out++ = (uint8_t)(e >> 16);
                    continue;
                }
            }
            RefillWord(bits, count, in);             // keeps the low bits, so e stands
        }
        if (e & FastExit) {
            e = ResolveLink(lt + (bits & lmask), bits);
            if (e & FastExit)
                goto stop;
            if (e & FastLiteral) {
                bits >>= e & 63;
                count -= e & 63;
                *out++ = (uint8_t)(e >> 16);
                continue;
            }
        }
        {
            // Length, distance and their extra bits, all peeked first. A
            // match that would reach the end of the window is the exact
            // path's, which flushes.
            uint32_t length = ExtraValue(e, bits);
            if (length + MatchOverrun >= (uint32_t)(window + WindowSize - out))
                goto stop;
            uint32_t used = e & 63;
            BitWord rest = bits >> used;
            uint32_t d = distances[rest & fastDmask];
            if (d & FastExit) {
                d = ResolveLink(dt + (rest & dmask), rest);
                if (d & (FastExit | FastLiteral))
                    goto stop;
            }
            uint32_t distance = ExtraValue(d, rest);
            used += d & 63;
            bits >>= used;
            count -= used;

            uint32_t w = (uint32_t)(out - window);
            if (distance <= w) {
                CopyMatch(out, distance, length);
            } else {
                // The source starts in the previous lap of the window and may
                // run over its end into position 0.
                uint32_t from = w + WindowSize - distance;
                uint32_t first = WindowSize - from;
                if (first >= length) {
                    CopyForward(out, window + from, length);
                } else {
                    CopyForward(out, window + from, first);
                    CopyMatch(out + first, distance, length - first);
                }
            }
            out += length;
        }
    }
    handOver = false;
stop:
    // Give back the whole bytes that the word loads took ahead, so that the
    // exact path goes on from the same byte as a byte-wise reader.
    uint32_t ahead = count >> 3;
    uint32_t taken = (uint32_t)(in - InputBuffer);
    if (ahead > taken)
        ahead = taken;
    in -= ahead;
    count -= ahead * 8;
    bits &= ((BitWord)1 << count) - 1;
    int32_t advanced = (int32_t)(in - (InputBuffer + InputPosition));
    InputPosition = (uint16_t)(InputPosition + advanced);
    DataRemaining -= advanced;

    bitsRef = (uint32_t)bits;                        // at most 23 bits are left
    countRef = count;
    wRef = (uint32_t)(out - window);
    return handOver;
}

// From a root slot through its sub-tables to the slot of the code itself,
// dropping the bits of each level passed; 0 for an invalid code.
static inline const HuffmanEntry* FollowLinks(const HuffmanEntry* t, uint32_t& bits, uint32_t& count)
{
    uint32_t e = t->Op;
    while (e > OpLinkBase) {
        if (e == OpInvalid)
            return 0;
        DumpBits(t->Bits, bits, count);
        e -= OpLinkBase;
        NeedBits(e, bits, count);
        t = t->Link + (bits & BitMasks[e]);
        e = t->Op;
    }
    return t;
}

int32_t InflateCodes(const HuffmanEntry* literalTable, const HuffmanEntry* distanceTable,
                     int32_t literalBits, int32_t distanceBits)
{
    uint32_t bits = BitBuffer;
    uint32_t count = BitCount;
    uint32_t w = WindowPosition;
    uint8_t* const window = Window;
    const uint32_t lmask = BitMasks[literalBits];
    const uint32_t dmask = BitMasks[distanceBits];
    // Roots wider than the compact tables come only from odd codes: those
    // blocks take the exact path throughout.
    bool fast = literalBits <= (int32_t)FastLiteralBits && distanceBits <= (int32_t)FastDistanceBits;
    if (fast) {
        CompactTable(FastLiteralRoot, literalTable, literalBits, FastLiteralBits);
        CompactTable(FastDistanceRoot, distanceTable, distanceBits, FastDistanceBits);
    }

    for (;;) {
        if (fast && InputCount - (int32_t)InputPosition >= (int32_t)FastInputMargin && w <= FastWindowLimit) {
            if (!DecodeFast(literalTable, distanceTable, lmask, dmask, bits, count, w))
                continue;
        }

        // One code, a byte at a time.
        NeedBits((uint32_t)literalBits, bits, count);
        const HuffmanEntry* t = FollowLinks(literalTable + (bits & lmask), bits, count);
        if (t == 0)
            return InflateInvalidCode;
        uint32_t e = t->Op;
        DumpBits(t->Bits, bits, count);
        if (PastEnd(count))
            break;
        if (e == OpLiteral) {
            window[w++] = (uint8_t)t->Value;
            if (w == WindowSize) {
                FlushWindow(WindowSize);
                w = 0;
            }
            continue;
        }
        if (e == OpEndOfBlock) {
            BitBuffer = bits;
            BitCount = (uint16_t)count;
            WindowPosition = (uint16_t)w;
            return InflateOk;
        }

        NeedBits(e, bits, count);
        uint32_t n = t->Value + (uint32_t)(bits & BitMasks[e]);
        DumpBits(e, bits, count);

        NeedBits((uint32_t)distanceBits, bits, count);
        t = FollowLinks(distanceTable + (bits & dmask), bits, count);
        if (t == 0)
            return InflateInvalidCode;
        e = t->Op;
        DumpBits(t->Bits, bits, count);
        NeedBits(e, bits, count);
        uint32_t d = (w - t->Value - (uint32_t)(bits & BitMasks[e])) & 0xFFFF;
        DumpBits(e, bits, count);
        if (PastEnd(count))
            break;

        // Runs up to the end of the window (or of the source's lap), with a
        // flush whenever the window is full.
        do {
            d &= WindowSize - 1;
            uint32_t run = WindowSize - (d > w ? d : w);
            if (run > n)
                run = n;
            n -= run;
            if ((int32_t)(w - d) >= (int32_t)run) {
                __builtin_memcpy(window + w, window + d, run);
                w += run;
                d += run;
            } else {
                for (; run > 0; run--)
                    window[w++] = window[d++];
            }
            if (w == WindowSize) {
                FlushWindow(WindowSize);
                w = 0;
            }
        } while (n > 0);
    }
    // The stream ran past the end of the data: keep what was decoded.
    WindowPosition = (uint16_t)w;
    return InflateBroken;
}

// ---------------------------------------------------------------------------
// Blocks

SFX_SMALL int32_t InflateStoredBlock()
{
    uint32_t bits = BitBuffer;
    uint32_t count = BitCount;
    uint32_t w = WindowPosition;
    uint8_t* const window = Window;

    DumpBits(count & 7, bits, count);
    NeedBits(16, bits, count);
    uint32_t length = (uint32_t)(bits & 0xFFFF);
    DumpBits(16, bits, count);
    NeedBits(16, bits, count);
    uint32_t complement = (uint32_t)(bits & 0xFFFF);
    DumpBits(16, bits, count);
    // A length whose check word does not match is taken as damage.
    if (PastEnd(count) || (length ^ complement) != 0xFFFF)
        return InflateBroken;

    int32_t result = InflateOk;
    while (length > 0) {
        if (count >= 8) {
            // Bytes already in the bit buffer come first.
            if (count - 8 < FillerBits) {
                result = InflateBroken;
                break;
            }
            window[w++] = (uint8_t)bits;
            DumpBits(8, bits, count);
            length--;
        } else if (InputPosition >= InputCount) {
            // The chunk is used up: the next byte reads a new one.
            int32_t next = NextInputByte();
            if (next < 0) {
                result = InflateBroken;
                break;
            }
            window[w++] = (uint8_t)next;
            length--;
        } else {
            uint32_t run = (uint32_t)(InputCount - InputPosition);
            if (run > length)
                run = length;
            if (run > WindowSize - w)
                run = WindowSize - w;
            __builtin_memcpy(window + w, InputBuffer + InputPosition, run);
            InputPosition = (uint16_t)(InputPosition + run);
            DataRemaining -= (int32_t)run;
            w += run;
            length -= run;
        }
        if (w == WindowSize) {
            FlushWindow(WindowSize);
            w = 0;
        }
    }
    BitBuffer = bits;
    BitCount = (uint16_t)count;
    WindowPosition = (uint16_t)w;
    return result;
}

SFX_SMALL int32_t InflateFixedBlock()
{
    if (FixedLiteralTable == 0) {
        uint16_t lengths[MaxSymbols];
        uint32_t i = 0;
        for (; i < 144; i++)
            lengths[i] = 8;
        for (; i < 256; i++)
            lengths[i] = 9;
        for (; i < 280; i++)
            lengths[i] = 7;
        for (; i < MaxSymbols; i++)
            lengths[i] = 8;
        FixedLiteralBits = FixedLiteralLookupBits;
        int32_t result = BuildHuffmanTables(lengths, MaxSymbols, 257, LengthBases, LengthExtraBits,
                                            FixedLiteralTable, FixedLiteralChain, FixedLiteralBits);
        if (result == HuffmanComplete) {
            for (i = 0; i < 30; i++)
                lengths[i] = 5;
            FixedDistanceBits = FixedDistanceLookupBits;
            result = BuildHuffmanTables(lengths, 30, 0, DistanceBases, DistanceExtraBits,
                                        FixedDistanceTable, FixedDistanceChain, FixedDistanceBits);
            if (result <= HuffmanIncomplete)
                result = HuffmanComplete;
        }
        if (result != HuffmanComplete) {
            // Only a lack of memory gets here.
            FreeHuffmanTables(FixedLiteralChain);
            FreeHuffmanTables(FixedDistanceChain);
            FixedLiteralChain = FixedDistanceChain = 0;
            FixedLiteralTable = FixedDistanceTable = 0;
            return InflateBroken;
        }
    }
    return InflateCodes(FixedLiteralTable, FixedDistanceTable, FixedLiteralBits, FixedDistanceBits);
}

// Reads the code lengths of a dynamic block into lengths; false when the
// block cannot be decoded.
SFX_SMALL static bool ReadCodeLengths(uint16_t* lengths, uint32_t total)
{
    uint32_t bits = BitBuffer;
    uint32_t count = BitCount;

    for (uint32_t j = 0; j < 19; j++)
        lengths[j] = 0;
    NeedBits(4, bits, count);
    uint32_t codes = 4 + (uint32_t)(bits & 15);
    DumpBits(4, bits, count);
    for (uint32_t j = 0; j < codes; j++) {
        NeedBits(3, bits, count);
        lengths[CodeLengthOrder[j]] = (uint16_t)(bits & 7);
        DumpBits(3, bits, count);
    }

    HuffmanEntry* table = 0;
    HuffmanEntry* chain = 0;
    int32_t lookup = CodeLengthLookupBits;
    int32_t result = BuildHuffmanTables(lengths, 19, 19, 0, 0, table, chain, lookup);
    // An incomplete or empty code-length code is taken as damage.
    bool ok = result == HuffmanComplete && table != 0 && !PastEnd(count);

    const uint32_t mask = BitMasks[lookup];
    uint32_t previous = 0;
    for (uint32_t i = 0; ok && i < total;) {
        NeedBits((uint32_t)lookup, bits, count);
        const HuffmanEntry* t = table + (bits & mask);
        if (t->Op != OpLiteral) {                     // an unused pattern
            ok = false;
            break;
        }
        DumpBits(t->Bits, bits, count);
        uint32_t symbol = t->Value;
        if (symbol < 16) {
            lengths[i++] = (uint16_t)symbol;
            previous = symbol;
        } else {
            uint32_t repeat;
            uint32_t value = 0;
            if (symbol == 16) {
                NeedBits(2, bits, count);
                repeat = 3 + (uint32_t)(bits & 3);
                DumpBits(2, bits, count);
                value = previous;
            } else if (symbol == 17) {
                NeedBits(3, bits, count);
                repeat = 3 + (uint32_t)(bits & 7);
                DumpBits(3, bits, count);
            } else {
                NeedBits(7, bits, count);
                repeat = 11 + (uint32_t)(bits & 127);
                DumpBits(7, bits, count);
            }
            previous = value;
            if (repeat > total - i) {                 // would run past the lists
                ok = false;
                break;
            }
            while (repeat-- > 0)
                lengths[i++] = (uint16_t)value;
        }
        if (PastEnd(count))
            ok = false;
    }
    FreeHuffmanTables(chain);
    BitBuffer = bits;
    BitCount = (uint16_t)count;
    return ok;
}

SFX_SMALL int32_t InflateDynamicBlock()
{
    uint32_t bits = BitBuffer;
    uint32_t count = BitCount;
    NeedBits(5, bits, count);
    uint32_t literals = 257 + (uint32_t)(bits & 31);
    DumpBits(5, bits, count);
    NeedBits(5, bits, count);
    uint32_t distances = 1 + (uint32_t)(bits & 31);
    DumpBits(5, bits, count);
    BitBuffer = bits;
    BitCount = (uint16_t)count;

    uint16_t lengths[DynamicLengthsSize];
    if (!ReadCodeLengths(lengths, literals + distances))
        return InflateBroken;

    HuffmanEntry* literalTable = 0;
    HuffmanEntry* literalChain = 0;
    int32_t literalBits = LiteralLookupBits;
    int32_t result = BuildHuffmanTables(lengths, (uint16_t)literals, 257, LengthBases, LengthExtraBits,
                                        literalTable, literalChain, literalBits);
    // Only a complete literal/length code (or a single one-bit code) is used.
    if (result != HuffmanComplete || literalTable == 0) {
        FreeHuffmanTables(literalChain);
        return InflateBroken;
    }

    HuffmanEntry* distanceTable = 0;
    HuffmanEntry* distanceChain = 0;
    int32_t distanceBits = DistanceLookupBits;
    result = BuildHuffmanTables(lengths + literals, (uint16_t)distances, 0, DistanceBases,
                                DistanceExtraBits, distanceTable, distanceChain, distanceBits);
    if (result > HuffmanIncomplete) {
        FreeHuffmanTables(literalChain);
        FreeHuffmanTables(distanceChain);
        return InflateBroken;
    }
    const HuffmanEntry* codesDistance = distanceTable;
    if (codesDistance == 0) {
        codesDistance = NoDistanceCodes;
        distanceBits = 0;
    }

    result = InflateCodes(literalTable, codesDistance, literalBits, distanceBits);
    FreeHuffmanTables(literalChain);
    FreeHuffmanTables(distanceChain);
    return result;
}

SFX_SMALL int32_t InflateBlock(int32_t& last)
{
    uint32_t bits = BitBuffer;
    uint32_t count = BitCount;
    NeedBits(1, bits, count);
    last = (int32_t)(bits & 1);
    DumpBits(1, bits, count);
    NeedBits(2, bits, count);
    uint32_t type = (uint32_t)(bits & 3);
    DumpBits(2, bits, count);
    BitBuffer = bits;
    BitCount = (uint16_t)count;
    if (PastEnd(count))
        return InflateBroken;

    switch (type) {
    case 0:
        return InflateStoredBlock();
    case 1:
        return InflateFixedBlock();
    case 2:
        return InflateDynamicBlock();
    default:
        // Type 3 carries nothing; no valid stream has it, so the entry
        // cannot count as whole.
        return InflateInvalidCode;
    }
}

// ---------------------------------------------------------------------------
// Entry

SFX_SMALL void InflateEntry()
{
    InputPosition = 0;
    InputCount = 0;
    WindowPosition = 0;
    BitCount = 0;
    BitBuffer = 0;
    FillerBits = 0;
    InputBuffer = (uint8_t*)AllocateBlock(DecoderBlockSize);
    Window = (uint8_t*)AllocateBlock(DecoderBlockSize);
    FixedLiteralTable = FixedDistanceTable = 0;
    FixedLiteralChain = FixedDistanceChain = 0;
    EntryDataComplete = 0;

    if (InputBuffer != 0 && Window != 0) {
        // Whole only when every block, the last one included, decoded
        // without an invalid code and within the entry's data.
        EntryDataComplete = 1;
        int32_t last = 0;
        int32_t result;
        do {
            result = InflateBlock(last);
            if (result != InflateOk)
                EntryDataComplete = 0;
        } while (last == 0 && result != InflateBroken);
        if (WindowPosition > 0)
            FlushWindow(WindowPosition);
    }

    FreeHuffmanTables(FixedLiteralChain);
    FreeHuffmanTables(FixedDistanceChain);
    FixedLiteralChain = FixedDistanceChain = 0;
    FixedLiteralTable = FixedDistanceTable = 0;
    ReleaseBlock(InputBuffer);
    ReleaseBlock(Window);
    InputBuffer = Window = 0;
}
