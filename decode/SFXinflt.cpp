// Inflate decoder: input and bit reader, decode tables, block decoder.
//
// Where the time goes, and what is done about it:
// - Each literal/length or distance code costs one table look-up: an entry
//   holds the code's length, the extra bits that follow it, and the value
//   (SFXinflt.h), so one shift drops code and extra bits together. Codes
//   longer than the root go through one link to a sub-table.
// - The fast loop (InflateCodes) runs while the input holds FastInputBytes
//   and the output has room for FastOutputBytes, which covers any one step:
//   inside, the bit buffer is refilled a word at a time without a branch,
//   the next entry is looked up before the current step's match is copied,
//   up to three literals are taken per refill (two with 32-bit words), and
//   matches are copied eight bytes at a time, running a little past their
//   end, also where they overlap by less than eight bytes.
// - The careful step takes over at the end of the entry's data. It decodes
//   one code at a time and supplies 0-bits past the end; a code that used
//   them is never emitted, so a cut stream keeps exactly the whole codes
//   before the cut.
// - Reading ahead is fine within the entry's data (the walk seeks to the
//   next header itself), so a new chunk is read as soon as fewer than
//   FastInputBytes are left, behind the bytes not yet taken.
// - The output buffer grows from the entry's stated size to at most
//   OutputBlockSize and then slides: its new bytes are written and
//   checksummed, and the last 32,768 are moved to its start as the window.
#include "SFXinflt.h"
#include "SFXattr.h"
#include "SFXcrc.h"
#include "SFXcrypt.h"
#include "../startup/SFXstate.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the bit buffer loads little-endian words");

const uint16_t LengthBases[31] = {
    3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
    35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0, 0};
const uint8_t LengthExtraBits[31] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
    3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
const uint16_t DistanceBases[32] = {
    1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193,
    257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 0, 0};
const uint8_t DistanceExtraBits[32] = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6,
    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 99, 99};
const uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

enum : uint32_t {
    BitWordBits = sizeof(BitWord) * 8,
    RefilledBits = BitWordBits - 8,      // at least this many valid bits after a refill
    MaxLengthBits = MaxCodeLength + 5,   // a length code and its extra bits
    MaxDistanceBits = MaxCodeLength + 13,
    MatchPrefix = BitWordBits == 64 ? 32 : 16,
    MatchOverrun = MatchPrefix,          // see CopyMatch
    FastOutputBytes = 2 + 258 + MatchOverrun,
    FixedLiteralBits = 9,                // the fixed code's longest
};

static const int32_t InvalidCode = -1;    // InflateCodes' own, reported as InflateBroken

// A refill must leave room for the parts of a step that follow it without
// one: a link and its sub-table entry, a length, and a distance below the
// root. In 64-bit words a step starts with three literals' worth of bits
// and one more look-up.
static_assert(RefilledBits >= MaxLengthBits && RefilledBits >= DistanceBits + 13, "room in a refill");
static_assert(BitWordBits == 32 || RefilledBits >= 3 * LiteralBits + LiteralBits, "three literals per refill");
static_assert(BitWordBits == 64 || RefilledBits >= 2 * LiteralBits, "two literals per refill");
static_assert(BitWordBits == 32 || RefilledBits >= 2 * LiteralBits + MaxLengthBits + DistanceBits,
              "two literals, a length and a distance look-up per refill");
static_assert(OutputBlockSize >= 2 * WindowSize + FastOutputBytes, "the window moves without overlap");
static_assert(StatedSizeLimit + FastOutputBytes <= OutputBlockSize - FastOutputBytes, "a grown buffer has room");
// A decode holds at most: the input block, a buffer sized from the stated
// size and the full one that replaces it, and the tables.
static_assert(FastInputBytes + InputChunkSize + StatedSizeLimit + FastOutputBytes + OutputBlockSize
                  + DecodeTableBytes <= 300 * 1024, "a decode's memory");

uint32_t LiteralResults[MaxSymbols] SFX_UNINITIALISED;
uint32_t DistanceResults[32] SFX_UNINITIALISED;
uint32_t PrecodeResults[19] SFX_UNINITIALISED;

// The tables of the current block. The decode loop addresses them as
// statics, which on i686 costs no register. The fixed code's stay for the
// blocks that follow while no dynamic block comes between.
static uint32_t LiteralCodes[LiteralTableSize] SFX_UNINITIALISED;
static uint32_t DistanceCodes[DistanceTableSize] SFX_UNINITIALISED;
static uint32_t PrecodeCodes[1u << PrecodeBits] SFX_UNINITIALISED;
static bool FixedCodesLoaded;

uint8_t* InputBuffer;
const uint8_t* InputNext;
const uint8_t* InputEnd;
BitWord BitBuffer;
uint32_t BitCount;
uint32_t FillerBits;

static uint8_t* OutputBuffer;
static uint32_t OutputSize;
static uint8_t* OutputNext;
static uint8_t* OutputFlushed;          // the first byte not yet written
static uint8_t* BlockOutput;            // the current block's first byte not yet written

// ---------------------------------------------------------------------------
// Decode tables

SFX_SMALL void PrepareResults()
{
    for (uint32_t s = 0; s < 256; s++)
        LiteralResults[s] = s << 16 | EntryLiteral;
    LiteralResults[256] = EntrySpecial | EntryEndOfBlock;
    for (uint32_t s = 257; s < MaxSymbols; s++) {
        uint32_t extra = LengthExtraBits[s - 257];
        LiteralResults[s] = extra > 13 ? EntrySpecial : (uint32_t)LengthBases[s - 257] << 16 | extra;
    }
    for (uint32_t s = 0; s < 32; s++) {
        uint32_t extra = DistanceExtraBits[s];
        DistanceResults[s] = extra > 13 ? EntrySpecial : (uint32_t)DistanceBases[s] << 16 | extra;
    }
    for (uint32_t s = 0; s < 19; s++)
        PrecodeResults[s] = s << 16;
}

// The canonical code after code, both len bits long and stored bit-reversed
// (the stream's first bit lowest): add 1 at the code's last bit, which is
// the highest bit here. 0 after the last code of all ones.
static inline uint32_t NextCode(uint32_t code, uint32_t len)
{
    uint32_t open = ~code & ((1u << len) - 1);       // the code's 0-bits
    if (open == 0)
        return 0;
    uint32_t bit = 1u << (31 - __builtin_clz(open)); // the last of them
    return (code & (bit - 1)) | bit;
}

SFX_SMALL int32_t BuildHuffmanTables(uint32_t* table, const uint8_t* lengths, uint32_t count,
                                     const uint32_t* results, uint32_t& rootBits, bool mayShrink,
                                     bool acceptIncomplete)
{
    uint32_t counts[MaxCodeLength + 1] = {0};
    for (uint32_t s = 0; s < count; s++)
        counts[lengths[s]]++;
    uint32_t longest = MaxCodeLength;
    while (longest > 0 && counts[longest] == 0)
        longest--;
    if (mayShrink)
        rootBits = longest == 0 ? 1 : longest < rootBits ? longest : rootBits;
    // A pattern that no code has is an invalid code; it accounts for the
    // bits that its table is indexed with, so that the end of the data is
    // told from damage where those bits run past it.
    const uint32_t invalidRoot = EntrySpecial + rootBits * 0x101;
    if (longest == 0) {
        for (uint32_t i = 0; i < (1u << rootBits); i++)
            table[i] = invalidRoot;
        return HuffmanEmpty;
    }

    // Code space used, in codes of the longest length; where each length's
    // symbols start in code order.
    uint32_t starts[MaxCodeLength + 2];
    uint32_t used = 0;
    starts[1] = 0;
    for (uint32_t len = 1; len <= longest; len++) {
        starts[len + 1] = starts[len] + counts[len];
        used = (used << 1) + counts[len];
    }
    if (used > (1u << longest))
        return HuffmanOversubscribed;
    // A single one-bit code is complete enough: its other pattern is invalid.
    int32_t result = (used == (1u << longest) || longest == 1) ? HuffmanComplete : HuffmanIncomplete;
    if (result == HuffmanIncomplete && !acceptIncomplete)
        return result;

    uint16_t symbols[MaxSymbols];
    for (uint32_t s = 0; s < count; s++)
        if (lengths[s] != 0)
            symbols[starts[lengths[s]]++] = (uint16_t)s;
    const uint16_t* next = symbols;

    // Root codes. A code of length len owns every 2^len-th root slot from
    // its own bits on. So the table is first seen as 2^len slots, each code
    // filling one, and doubled (the new half a copy of the old) before the
    // next length. Slots that no code reaches stay invalid.
    uint32_t len = 1;
    while (counts[len] == 0)
        len++;
    uint32_t size = 1u << (len < rootBits ? len : rootBits);
    for (uint32_t i = 0; i < size; i++)
        table[i] = invalidRoot;
    uint32_t code = 0;
    for (; len <= rootBits; len++) {
        for (uint32_t n = counts[len]; n > 0; n--) {
            table[code] = results[*next++] + len * 0x101;
            code = NextCode(code, len);
        }
        if (len < rootBits) {
            __builtin_memcpy(table + size, table, size * sizeof *table);
            size <<= 1;
        }
    }

    // Longer codes: the root slot of their first rootBits bits links to a
    // sub-table, as wide as the codes that share those bits need: the
    // fewest bits that the codes left fill, from this code's length on (an
    // incomplete code may leave its last sub-table part empty: invalid).
    const uint32_t rootMask = (1u << rootBits) - 1;
    uint32_t prefix = ~0u;
    uint32_t subStart = 0;
    for (; len <= longest; len++) {
        for (uint32_t n = counts[len]; n > 0; n--) {
            if ((code & rootMask) != prefix) {
                prefix = code & rootMask;
                uint32_t subBits = len - rootBits;
                uint32_t space = n;
                while (space < (1u << subBits) && rootBits + subBits < longest) {
                    subBits++;
                    space = (space << 1) + counts[rootBits + subBits];
                }
                subStart = size;
                size += 1u << subBits;
                for (uint32_t i = subStart; i < size; i++)
                    table[i] = EntrySpecial + subBits * 0x101;
                table[prefix] = subStart << 16 | EntrySpecial | EntryLink | subBits << 8 | rootBits;
            }
            uint32_t below = len - rootBits;
            uint32_t entry = results[*next++] + below * 0x101;
            for (uint32_t i = subStart + (code >> rootBits); i < size; i += 1u << below)
                table[i] = entry;
            code = NextCode(code, len);
        }
    }
    return result;
}

// ---------------------------------------------------------------------------
// Input

// The input block: FastInputBytes in front for the bytes carried over, then
// one chunk. Reads always go behind the carried bytes.
SFX_SMALL void ReadInputChunk()
{
    uint32_t kept = (uint32_t)(InputEnd - InputNext);
    uint8_t* chunk = InputBuffer + FastInputBytes;
    __builtin_memmove(chunk - kept, InputNext, kept);
    int32_t wanted = DataRemaining < (int32_t)InputChunkSize ? (int32_t)DataRemaining : (int32_t)InputChunkSize;
    int32_t delivered = wanted > 0 ? ReadArchive(chunk, wanted) : 0;
    if (delivered < 0)
        delivered = 0;
    if (delivered > wanted)
        delivered = wanted;
    if (EntryHeader.Flags & FlagEncrypted)
        DecryptBuffer(chunk, delivered);
    // A read that delivers nothing ends the entry's data: the archive is cut.
    DataRemaining = delivered > 0 ? DataRemaining - delivered : 0;
    InputNext = chunk - kept;
    InputEnd = chunk + delivered;
}

SFX_SMALL void NeedBits(uint32_t n, BitWord& buffer, uint32_t& count)
{
    while (count < n) {
        if (InputNext == InputEnd && DataRemaining > 0)
            ReadInputChunk();
        if (InputNext != InputEnd)
            buffer |= (BitWord)*InputNext++ << count;
        else
            FillerBits += 8;
        count += 8;
    }
}

// True once the bits consumed reach into those supplied past the end.
static SFX_ALWAYS_INLINE bool PastEnd(uint32_t count)
{
    return count < FillerBits;
}

// Adds the whole bytes that fit above the valid bits, from a word load at
// in (which must be readable), so that at least RefilledBits are valid.
// The bits above count then hold the start of the byte at in, which a later
// refill adds again: harmless, they are the same bits. Only the low byte of
// count matters here (see Consume); the masks cost nothing on x86, whose
// shifts take their count modulo the word's bits.
static SFX_ALWAYS_INLINE void RefillWord(BitWord& bits, uint32_t& count, const uint8_t*& in)
{
    BitWord word;
    __builtin_memcpy(&word, in, sizeof word);
    bits |= word << (count & (BitWordBits - 1));
    in += sizeof(BitWord) - 1 - ((count >> 3) & (sizeof(BitWord) - 1));
    count |= RefilledBits;
}

// RefillWord where a word is left to load; else byte by byte through
// NeedBits, with 0-bits past the end. NeedBits gets copies: a variable whose
// address leaves the function would live in memory throughout the loops.
static SFX_ALWAYS_INLINE void Refill(BitWord& bits, uint32_t& count, const uint8_t*& in)
{
    if (InputEnd - in >= (int32_t)sizeof(BitWord)) {
        RefillWord(bits, count, in);
    } else {
        BitWord b = bits;
        uint32_t c = count;
        InputNext = in;
        NeedBits(RefilledBits, b, c);
        in = InputNext;
        bits = b;
        count = c;
    }
}

// ---------------------------------------------------------------------------
// Output

// Writes the bytes not yet written and runs the CRC over those that the
// output accepted, so a full disk fails the entry.
SFX_SMALL static void FlushOutput()
{
    int32_t count = (int32_t)(OutputNext - OutputFlushed);
    if (count > 0) {
        int32_t written = WriteOutput(OutputFlushed, count);
        if (written > count)
            written = count;
        if (written < count)
            EntryDataComplete = 0;
        CrcUpdateBuffer(OutputFlushed, written, RunningCrc);
    }
    OutputFlushed = BlockOutput = OutputNext;
}

// Makes room for FastOutputBytes behind OutputNext: a buffer smaller than
// OutputBlockSize (the entry claimed to be small) is replaced by a full one;
// a full one is written and keeps only the window. False without memory.
SFX_SMALL static bool MakeRoom()
{
    uint32_t used = (uint32_t)(OutputNext - OutputBuffer);
    if (OutputSize < OutputBlockSize) {
        uint8_t* larger = (uint8_t*)AllocateBlock(OutputBlockSize);
        if (larger == 0)
            return false;
        __builtin_memcpy(larger, OutputBuffer, used);
        OutputFlushed = larger + (OutputFlushed - OutputBuffer);
        BlockOutput = larger + (BlockOutput - OutputBuffer);
        ReleaseBlock(OutputBuffer);
        OutputBuffer = larger;
        OutputSize = OutputBlockSize;
        OutputNext = larger + used;
        return true;
    }
    FlushOutput();
    __builtin_memcpy(OutputBuffer, OutputNext - WindowSize, WindowSize);
    OutputNext = OutputFlushed = BlockOutput = OutputBuffer + WindowSize;
    return true;
}

static SFX_ALWAYS_INLINE void Copy8(uint8_t* to, const uint8_t* from)
{
    uint64_t v;
    __builtin_memcpy(&v, from, 8);
    __builtin_memcpy(to, &v, 8);
}

// Copies a match of length bytes (3 to 258) from distance bytes back, eight
// bytes at a time, writing up to MatchOverrun bytes past its end; those
// bytes are overwritten before they are output. Each load precedes the
// store that could change its bytes. The first MatchPrefix bytes go without
// a test: most matches are shorter (with 64-bit registers; 32-bit ones take
// two moves per eight bytes).
static SFX_ALWAYS_INLINE void CopyMatch(uint8_t* to, uint32_t distance, uint32_t length)
{
    uint8_t* const end = to + length;
    if (distance >= 8) {
        const uint8_t* from = to - distance;
        for (uint32_t i = 0; i < MatchPrefix; i += 8)
            Copy8(to + i, from + i);
        for (to += MatchPrefix, from += MatchPrefix; to < end; to += 8, from += 8)
            Copy8(to, from);
    } else if (distance == 1) {
        uint64_t run = to[-1] * 0x0101010101010101ull;
        for (uint32_t i = 0; i < MatchPrefix; i += 8)
            __builtin_memcpy(to + i, &run, 8);
        for (to += MatchPrefix; to < end; to += 8)
            __builtin_memcpy(to, &run, 8);
    } else {
        // Each eight-byte step at a multiple of the distance gets its first
        // distance bytes right; once eight are in place, their span is a
        // period of the match that eight-byte steps can copy from.
        uint8_t* p = to;
        do {
            Copy8(p, p - distance);
            p += distance;
        } while (p - to < 8);
        const uint32_t period = (uint32_t)(p - to);
        for (; p < end; p += 8)
            Copy8(p, p - period);
    }
}

// A match that reaches before the entry's first byte (start): those bytes
// read as 0. Rare, and small: inline, since a call inside the decode loop
// makes compilers keep its variables in memory around it.
static SFX_ALWAYS_INLINE void CopyFromBeforeStart(uint8_t* to, const uint8_t* start, uint32_t distance,
                                                  uint32_t length)
{
    for (; length > 0; length--, to++)
        *to = (uint32_t)(to - start) >= distance ? to[-(int32_t)distance] : 0;
}

// ---------------------------------------------------------------------------
// Literal/length and distance codes

// The extra bits of a length or distance: they follow the code within the
// bits that the entry accounts for.
// (A length or distance entry has no flag, so bits 8-13 are the code's bits.)
static SFX_ALWAYS_INLINE uint32_t ExtraValue(uint32_t entry, BitWord saved)
{
    const uint32_t shiftMask = BitWordBits - 1;
    return (uint32_t)((saved & (((BitWord)1 << (entry & shiftMask)) - 1)) >> ((entry >> 8) & shiftMask));
}

static SFX_ALWAYS_INLINE uint32_t SubTableIndex(uint32_t link, BitWord bits)
{
    return (link >> 16) + (uint32_t)(bits & (((BitWord)1 << ((link >> 8) & 15)) - 1));
}

// Drops the bits that an entry accounts for. The decode loop subtracts the
// whole entry from count, which saves masking it: only count's low byte is
// the bit count, and it never goes below 0, so no borrow reaches the bits
// above; they hold garbage until count is stored (ValidBits).
static SFX_ALWAYS_INLINE void Consume(uint32_t entry, BitWord& bits, uint32_t& count)
{
    bits >>= entry & (BitWordBits - 1);
    count -= entry;
}

static SFX_ALWAYS_INLINE uint32_t ValidBits(uint32_t count)
{
    return count & 0xFF;
}

// One code of the careful step, with the count kept exact: refills (with
// 0-bits past the end), follows a link, and drops the entry's bits; saved
// gets the bits as they were before the entry.
static SFX_ALWAYS_INLINE uint32_t TakeCarefully(const uint32_t* table, BitWord mask, BitWord& bits,
                                                uint32_t& count, const uint8_t*& in, BitWord& saved)
{
    Refill(bits, count, in);
    uint32_t entry = table[bits & mask];
    if (entry & EntryLink) {
        DumpBits(entry & 0xFF, bits, count);
        Refill(bits, count, in);
        entry = table[SubTableIndex(entry, bits)];
    }
    saved = bits;
    DumpBits(entry & 0xFF, bits, count);
    return entry;
}

int32_t InflateCodes(uint32_t literalBits)
{
    const uint32_t* const literals = LiteralCodes;
    const uint32_t* const distances = DistanceCodes;
    const bool wide = BitWordBits == 64;
    const BitWord literalMask = ((BitWord)1 << literalBits) - 1;
    const BitWord distanceMask = ((BitWord)1 << DistanceBits) - 1;
    BitWord bits = BitBuffer;
    uint32_t count = BitCount;
    const uint8_t* in = InputNext;
    uint8_t* out = OutputNext;
    int32_t result;
    BlockOutput = out;

    for (;;) {
        const uint8_t* const inLimit = InputEnd - FastInputBytes;
        uint8_t* const outLimit = OutputBuffer + OutputSize - FastOutputBytes;
        uint8_t* const outStart = OutputBuffer;
        if (in <= inLimit && out <= outLimit) {
            // Fast loop: every step has its input and output room. entry is
            // looked up before the step starts, with at least RefilledBits
            // valid.
            RefillWord(bits, count, in);
            uint32_t entry = literals[bits & literalMask];
            do {
                BitWord saved = bits;
                Consume(entry, bits, count);
                if (entry & EntryLiteral) {
                    if (wide) {
                        *out++ = (uint8_t)(entry >> 16);
                        entry = literals[bits & literalMask];
                        saved = bits;
                        Consume(entry, bits, count);
                        if (entry & EntryLiteral) {
                            *out++ = (uint8_t)(entry >> 16);
                            entry = literals[bits & literalMask];
                            saved = bits;
                            Consume(entry, bits, count);
                            if (entry & EntryLiteral) {
                                *out++ = (uint8_t)(entry >> 16);
                                entry = literals[bits & literalMask];
                                RefillWord(bits, count, in);
                                continue;
                            }
                        }
                        // entry, consumed, is something else: go on below.
                    } else {
                        // A second literal fits before the next refill.
                        *out++ = (uint8_t)(entry >> 16);
                        entry = literals[bits & literalMask];
                        if (entry & EntryLiteral) {
                            Consume(entry, bits, count);
                            *out++ = (uint8_t)(entry >> 16);
                            RefillWord(bits, count, in);
                            entry = literals[bits & literalMask];
                            continue;
                        }
                        RefillWord(bits, count, in);
                        continue;
                    }
                }
                if (entry & EntrySpecial) {
                    if (!(entry & EntryLink)) {
                        result = (entry & EntryEndOfBlock) ? InflateOk : InvalidCode;
                        goto done;
                    }
                    entry = literals[SubTableIndex(entry, bits)];
                    saved = bits;
                    Consume(entry, bits, count);
                    if (!wide)
                        RefillWord(bits, count, in);
                    if (entry & EntryLiteral) {
                        *out++ = (uint8_t)(entry >> 16);
                        entry = literals[bits & literalMask];
                        RefillWord(bits, count, in);
                        continue;
                    }
                    if (entry & EntrySpecial) {
                        result = (entry & EntryEndOfBlock) ? InflateOk : InvalidCode;
                        goto done;
                    }
                }
                uint32_t length = (entry >> 16) + ExtraValue(entry, saved);

                if (!wide)
                    RefillWord(bits, count, in);
                entry = distances[bits & distanceMask];
                if (wide && ValidBits(count) < MaxDistanceBits)
                    RefillWord(bits, count, in);
                if (entry & EntrySpecial) {
                    if (!(entry & EntryLink)) {
                        result = InvalidCode;
                        goto done;
                    }
                    bits >>= DistanceBits;
                    count -= DistanceBits;
                    entry = distances[SubTableIndex(entry, bits)];
                    if (!wide)
                        RefillWord(bits, count, in);
                    if (entry & EntrySpecial) {
                        result = InvalidCode;
                        goto done;
                    }
                }
                saved = bits;
                Consume(entry, bits, count);
                uint32_t distance = (entry >> 16) + ExtraValue(entry, saved);
                RefillWord(bits, count, in);
                entry = literals[bits & literalMask];
                if (__builtin_expect(distance <= (uint32_t)(out - outStart), 1))
                    CopyMatch(out, distance, length);
                else
                    CopyFromBeforeStart(out, outStart, distance, length);
                out += length;
            } while (in <= inLimit && out <= outLimit);
        }

        // Out of room: make some, or read on, and go back to the fast loop.
        if (out > outLimit) {
            OutputNext = out;
            if (!MakeRoom()) {
                result = InflateBroken;
                goto done;
            }
            out = OutputNext;
            continue;
        }
        if (in > inLimit && DataRemaining > 0) {
            InputNext = in;
            ReadInputChunk();
            in = InputNext;
            continue;
        }

        // The careful step: one code, with its match, at the end of the data.
        {
            BitWord saved;
            count = ValidBits(count);
            uint32_t entry = TakeCarefully(literals, literalMask, bits, count, in, saved);
            if (PastEnd(count)) {
                result = InflateBroken;
                goto done;
            }
            if (entry & EntryLiteral) {
                *out++ = (uint8_t)(entry >> 16);
                continue;
            }
            if (entry & EntrySpecial) {
                result = (entry & EntryEndOfBlock) ? InflateOk : InvalidCode;
                goto done;
            }
            uint32_t length = (entry >> 16) + ExtraValue(entry, saved);
            entry = TakeCarefully(distances, distanceMask, bits, count, in, saved);
            if (PastEnd(count) || (entry & EntrySpecial)) {
                result = PastEnd(count) ? InflateBroken : InvalidCode;
                goto done;
            }
            uint32_t distance = (entry >> 16) + ExtraValue(entry, saved);
            if (distance <= (uint32_t)(out - outStart))
                CopyMatch(out, distance, length);
            else
                CopyFromBeforeStart(out, outStart, distance, length);
            out += length;
        }
    }

done:
    // An invalid code drops what its block decoded and has not written, and
    // ends the entry: nothing after it can be trusted to start a code.
    if (result == InvalidCode) {
        out = BlockOutput;
        result = InflateBroken;
    }
    BitBuffer = bits;
    BitCount = ValidBits(count);
    InputNext = in;
    OutputNext = out;
    return result;
}

// ---------------------------------------------------------------------------
// Blocks

SFX_SMALL int32_t InflateStoredBlock()
{
    BitWord bits = BitBuffer;
    uint32_t count = BitCount;
    DumpBits(count & 7, bits, count);
    NeedBits(16, bits, count);
    uint32_t length = (uint32_t)(bits & 0xFFFF);
    DumpBits(16, bits, count);
    NeedBits(16, bits, count);
    uint32_t complement = (uint32_t)(bits & 0xFFFF);
    DumpBits(16, bits, count);
    int32_t result = InflateOk;
    // A length whose check word does not match is taken as damage.
    if (PastEnd(count) || (length ^ complement) != 0xFFFF)
        result = InflateBroken;

    uint8_t* out = OutputNext;
    while (result == InflateOk && length > 0) {
        uint32_t room = (uint32_t)(OutputBuffer + OutputSize - out);
        if (room == 0) {
            OutputNext = out;
            if (!MakeRoom())
                result = InflateBroken;
            out = OutputNext;
        } else if (count >= 8) {
            // Bytes already in the bit buffer come first.
            if (count - 8 < FillerBits) {
                result = InflateBroken;
            } else {
                *out++ = (uint8_t)bits;
                DumpBits(8, bits, count);
                length--;
            }
        } else if (InputNext == InputEnd) {
            if (DataRemaining > 0)
                ReadInputChunk();
            else
                result = InflateBroken;
        } else {
            uint32_t run = (uint32_t)(InputEnd - InputNext);
            if (run > length)
                run = length;
            if (run > room)
                run = room;
            __builtin_memcpy(out, InputNext, run);
            InputNext += run;
            out += run;
            length -= run;
        }
    }
    // Once the bytes in the bit buffer are used up, the copy reads the input
    // itself: the look-ahead bits above count belong to a byte passed over.
    BitBuffer = count != 0 ? bits : 0;
    BitCount = count;
    OutputNext = out;
    return result;
}

SFX_SMALL int32_t InflateFixedBlock()
{
    if (!FixedCodesLoaded) {
        uint8_t lengths[MaxSymbols];
        uint32_t i = 0;
        for (; i < 144; i++)
            lengths[i] = 8;
        for (; i < 256; i++)
            lengths[i] = 9;
        for (; i < 280; i++)
            lengths[i] = 7;
        for (; i < MaxSymbols; i++)
            lengths[i] = 8;
        uint32_t bits = FixedLiteralBits;
        BuildHuffmanTables(LiteralCodes, lengths, MaxSymbols, LiteralResults, bits, false, false);
        for (i = 0; i < 32; i++)
            lengths[i] = 5;
        bits = DistanceBits;
        BuildHuffmanTables(DistanceCodes, lengths, 32, DistanceResults, bits, false, false);
        FixedCodesLoaded = true;
    }
    return InflateCodes(FixedLiteralBits);
}

SFX_SMALL int32_t InflateDynamicBlock()
{
    BitWord bits = BitBuffer;
    uint32_t count = BitCount;
    NeedBits(14, bits, count);
    uint32_t literals = 257 + (uint32_t)(bits & 31);
    uint32_t distances = 1 + (uint32_t)((bits >> 5) & 31);
    uint32_t codes = 4 + (uint32_t)((bits >> 10) & 15);
    DumpBits(14, bits, count);

    uint8_t lengths[MaxSymbols + 32];
    for (uint32_t j = 0; j < 19; j++)
        lengths[j] = 0;
    for (uint32_t j = 0; j < codes; j++) {
        NeedBits(3, bits, count);
        lengths[CodeLengthOrder[j]] = (uint8_t)(bits & 7);
        DumpBits(3, bits, count);
    }
    uint32_t precodeBits = PrecodeBits;
    // An incomplete or empty code-length code is taken as damage.
    bool ok = BuildHuffmanTables(PrecodeCodes, lengths, 19, PrecodeResults, precodeBits, false, false)
                  == HuffmanComplete;

    // The literal/length and distance lengths, one code-length code each;
    // a repeat code (16) before any length repeats 0.
    const uint8_t* in = InputNext;
    const uint32_t total = literals + distances;
    uint32_t previous = 0;
    for (uint32_t i = 0; ok && i < total;) {
        if (count < PrecodeBits + 7)
            Refill(bits, count, in);
        uint32_t entry = PrecodeCodes[bits & ((1u << PrecodeBits) - 1)];
        if (entry & EntrySpecial) {                   // an unused pattern
            ok = false;
            break;
        }
        DumpBits(entry & 0xFF, bits, count);
        uint32_t symbol = entry >> 16;
        uint32_t repeat = 1;
        if (symbol < 16) {
            previous = symbol;
        } else if (symbol == 16) {
            repeat = 3 + (uint32_t)(bits & 3);
            DumpBits(2, bits, count);
        } else if (symbol == 17) {
            previous = 0;
            repeat = 3 + (uint32_t)(bits & 7);
            DumpBits(3, bits, count);
        } else {
            previous = 0;
            repeat = 11 + (uint32_t)(bits & 127);
            DumpBits(7, bits, count);
        }
        if (repeat > total - i) {                    // would run past the lists
            ok = false;
            break;
        }
        for (; repeat > 0; repeat--)
            lengths[i++] = (uint8_t)previous;
    }
    InputNext = in;
    BitBuffer = bits;
    BitCount = count;
    if (!ok || PastEnd(count))
        return InflateBroken;

    FixedCodesLoaded = false;
    uint32_t literalBits = LiteralBits;
    // Only a complete literal/length code (or a single one-bit code) is used.
    if (BuildHuffmanTables(LiteralCodes, lengths, literals, LiteralResults, literalBits, true, false)
        != HuffmanComplete)
        return InflateBroken;
    // A distance code may be incomplete, or empty (then any match is invalid).
    uint32_t distanceBits = DistanceBits;
    if (BuildHuffmanTables(DistanceCodes, lengths + literals, distances, DistanceResults, distanceBits, false,
                           true) == HuffmanOversubscribed)
        return InflateBroken;
    return InflateCodes(literalBits);
}

SFX_SMALL int32_t InflateBlock(int32_t& last)
{
    BitWord bits = BitBuffer;
    uint32_t count = BitCount;
    NeedBits(3, bits, count);
    last = (int32_t)(bits & 1);
    uint32_t type = (uint32_t)((bits >> 1) & 3);
    DumpBits(3, bits, count);
    BitBuffer = bits;
    BitCount = count;
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
        // cannot count as whole. The next header follows at once.
        return InflateDamaged;
    }
}

// ---------------------------------------------------------------------------
// Entry

SFX_SMALL void InflateEntry()
{
    if (LiteralResults[0] == 0)
        PrepareResults();
    int32_t data = DataRemaining < (int32_t)InputChunkSize ? (int32_t)DataRemaining : (int32_t)InputChunkSize;
    InputBuffer = (uint8_t*)AllocateBlock(FastInputBytes + (uint32_t)(data > 0 ? data : 0));
    // The stated size, when it is small, saves clearing a full buffer; an
    // entry that turns out larger gets one then (MakeRoom).
    uint64_t stated = EntryUncompressedSize;
    OutputSize = stated != 0 && stated <= StatedSizeLimit ? (uint32_t)stated + FastOutputBytes : (uint32_t)OutputBlockSize;
    OutputBuffer = (uint8_t*)AllocateBlock(OutputSize);
    BitBuffer = 0;
    BitCount = 0;
    FillerBits = 0;
    EntryDataComplete = 0;

    if (InputBuffer != 0 && OutputBuffer != 0) {
        InputNext = InputEnd = InputBuffer + FastInputBytes;
        OutputNext = OutputFlushed = BlockOutput = OutputBuffer;
        // Whole only when every block, the last one included, decoded
        // without damage and within the entry's data.
        EntryDataComplete = 1;
        int32_t last = 0;
        int32_t result;
        do {
            result = InflateBlock(last);
            if (result != InflateOk)
                EntryDataComplete = 0;
        } while (last == 0 && result != InflateBroken);
        FlushOutput();
    }

    ReleaseBlock(InputBuffer);
    ReleaseBlock(OutputBuffer);
    InputBuffer = OutputBuffer = 0;
    InputNext = InputEnd = 0;
    OutputNext = OutputFlushed = BlockOutput = 0;
}
