// Inflate decoder (RFC 1951) for deflated entries (method 8).
//
// Input: the entry's compressed bytes, read in chunks of up to 32,768 bytes
// (never beyond DataRemaining), decrypted per chunk when the entry is
// encrypted, and taken least-significant bit first through a bit buffer of
// one machine word. Output: a buffer that keeps the last 32,768 bytes as
// the window and grows to OutputBlockSize for long entries; its new bytes
// are written (at most OutputBlockSize at a time) and folded into
// RunningCrc each time it runs out of room and once at the end.
#ifndef SFX_INFLT_H
#define SFX_INFLT_H

#include <stdint.h>

#include "SFXio.h"

// The bit buffer is a machine word: 64 bits on x86-64, 32 on i686, where a
// wider one would cost a register pair. Tests build the 32-bit one on the
// host too (SFX_BIT_WORD_BITS=32).
#ifndef SFX_BIT_WORD_BITS
#define SFX_BIT_WORD_BITS (__SIZEOF_POINTER__ * 8)
#endif
#if SFX_BIT_WORD_BITS == 64
typedef uint64_t BitWord;
#else
typedef uint32_t BitWord;
#endif

// A decode table entry (32 bits) carries everything that one step needs:
//   bits 0-7    stream bits that the entry accounts for: the code, plus the
//               extra bits of a length or distance (a link: the root bits)
//   bits 8-11   bits of the code alone, where the extra bits start (a link:
//               the sub-table's index bits)
//   bits 12-15  the flags below
//   bits 16-31  literal byte, length or distance base, or (a link) the
//               index at which the sub-table starts
// Codes longer than a table's root bits go through one link to a sub-table.
enum : uint32_t {
    EntryLiteral = 0x1000,
    EntryLink = 0x2000,
    EntryEndOfBlock = 0x4000,
    EntrySpecial = 0x8000,      // link, end of block, or invalid code (no other flag)
};

// Results of BuildHuffmanTables.
enum : int32_t {
    HuffmanComplete = 0,        // also a single code of one bit
    HuffmanIncomplete = 1,      // unused patterns decode as invalid codes
    HuffmanOversubscribed = 2,  // nothing built
    HuffmanEmpty = 3,           // no code at all: every pattern is invalid
};

// Results of the block routines. Either of the last two leaves the entry
// not whole. A broken stream (an invalid code, a case the format leaves
// undefined, or data that end before the last block) stops the entry.
enum : int32_t {
    InflateOk = 0,
    InflateDamaged = 1,         // a reserved block type: the next header follows
    InflateBroken = 2,
};

enum : uint32_t {
    WindowSize = 32768,
    InputChunkSize = 32768,
    MaxCodeLength = 15,
    MaxSymbols = 288,
    PrecodeBits = 7,              // code-length code: root bits = longest code
    LiteralBits = 11,             // literal/length root: at most, see BuildHuffmanTables
    DistanceBits = 8,             // distance root
    // Root plus every sub-table of any code the decoder accepts: for
    // complete literal/length codes zlib's "enough 288 11 15"; distance
    // codes may be incomplete, and each sub-table holds at least one of at
    // most 32 codes, with at most 2^(15-8) slots.
    LiteralTableSize = 2342,
    DistanceTableSize = (1u << DistanceBits) + 32 * (1u << (MaxCodeLength - DistanceBits)),
    OutputBlockSize = WindowSize + 128 * 1024,
    // An entry whose header states at most this size gets an output buffer
    // of that size (plus room for one fast step); a larger one, or one that
    // turns out larger, gets OutputBlockSize. While it grows, both buffers
    // and the input are held: see the bound in SFXinflt.cpp.
    StatedSizeLimit = 64 * 1024,
    // Input one fast step may take: its refills add at most the bits of a
    // word less one, and then what it consumes (three literals, or two
    // literals, a length and a distance: 70 bits with 64-bit words, where
    // the two extra literals are taken), in whole bytes; the last refill
    // loads a whole word. The input block keeps this many in front of each
    // chunk for the bytes not yet taken.
    FastInputBytes = (sizeof(BitWord) * 8 - 1 + (sizeof(BitWord) == 8 ? 2 * LiteralBits : 0)
                      + (MaxCodeLength + 5) + (MaxCodeLength + 13)) / 8 + sizeof(BitWord),
    // The decode tables and entry values live in static storage, besides
    // the two blocks that each entry allocates.
    DecodeTableBytes = (LiteralTableSize + DistanceTableSize + (1u << PrecodeBits) + MaxSymbols + 32 + 19) * 4,
};

extern const uint16_t LengthBases[31];       // symbols 257..287
extern const uint8_t LengthExtraBits[31];    // 99: invalid (286, 287)
extern const uint16_t DistanceBases[32];     // symbols 0..31
extern const uint8_t DistanceExtraBits[32];  // 99: invalid (30, 31)
extern const uint8_t CodeLengthOrder[19];

// Turns code lengths (at most 15) into a decode table. results[s] is the
// entry of symbol s without its code bits (flags, value, extra bits).
// rootBits is the wanted root size on input; it is lowered to the longest
// code when that is shorter (when mayShrink), and is the size used on
// output. Codes the caller cannot use (an incomplete literal/length code)
// may be refused with acceptIncomplete false before anything is written.
// Returns one of the Huffman results above; the table is left with valid
// entries for every pattern unless the result is HuffmanOversubscribed, or
// HuffmanIncomplete when refused.
int32_t BuildHuffmanTables(uint32_t* table, const uint8_t* lengths, uint32_t count, const uint32_t* results,
                           uint32_t& rootBits, bool mayShrink, bool acceptIncomplete);

// Entry values of the three alphabets, filled on first use.
extern uint32_t LiteralResults[MaxSymbols];
extern uint32_t DistanceResults[32];
extern uint32_t PrecodeResults[19];
void PrepareResults();

// Decoder state, per entry.
extern uint8_t* InputBuffer;          // FastInputBytes carried over + one chunk
extern const uint8_t* InputNext;      // next byte not yet in the bit buffer
extern const uint8_t* InputEnd;       // end of the bytes read
extern BitWord BitBuffer;
extern uint32_t BitCount;
extern uint32_t FillerBits;           // 0-bits supplied past the end, counted in BitCount

// Reads the next chunk of the entry's data behind the bytes not yet taken.
void ReadInputChunk();

// Makes count at least n (n <= bits of BitWord - 7), adding whole bytes above
// the valid bits and reading a chunk when the buffer runs dry. Past the end
// of the data every added bit is 0 and counted in FillerBits.
void NeedBits(uint32_t n, BitWord& buffer, uint32_t& count);

static inline void DumpBits(uint32_t n, BitWord& buffer, uint32_t& count)
{
    buffer >>= n;
    count -= n;
}

int32_t InflateBlock(int32_t& last);
int32_t InflateStoredBlock();
int32_t InflateFixedBlock();
int32_t InflateDynamicBlock();
// Decodes the codes of a Huffman block with the current tables, whose
// literal/length root has literalBits.
int32_t InflateCodes(uint32_t literalBits);

// Decodes the current entry: DataRemaining bytes at the archive position,
// decrypted when EntryHeader says so (the keys are ready), written through
// WriteOutput, with RunningCrc run over every byte that the output accepted.
// EntryUncompressedSize sizes the first output buffer; it is a hint,
// which may be wrong.
void InflateEntry();

#endif
