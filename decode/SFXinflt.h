// Inflate decoder (RFC 1951) for deflated entries (method 8).
//
// Input: the entry's compressed bytes, read in chunks of up to 32,768 bytes
// (never beyond DataRemaining), decrypted per chunk when the entry is
// encrypted, and taken least-significant bit first. Output: a 32,768-byte
// sliding window, written and folded into RunningCrc each time it is full
// and once at the end.
#ifndef SFX_INFLT_H
#define SFX_INFLT_H

#include <stdint.h>

#include "SFXio.h"

// One slot of a Huffman lookup table.
struct HuffmanEntry {
    uint8_t Op;           // see HuffmanOp
    uint8_t Bits;         // stream bits this slot accounts for at its level
    uint16_t Value;       // symbol, or base of a length or distance
    HuffmanEntry* Link;   // sub-table of a link; in the chain slot, the older table
};

enum HuffmanOp : uint8_t {
    OpMaxExtraBits = 13,  // 0..13: length or distance base, Op extra bits follow
    OpEndOfBlock = 15,
    OpLiteral = 16,       // also the symbols of the code-length alphabet
    OpLinkBase = 16,      // 17..32: the next Op - 16 bits index Link
    OpInvalid = 99,
};

// Results of BuildHuffmanTables.
enum : int32_t {
    HuffmanComplete = 0,
    HuffmanIncomplete = 1,
    HuffmanOversubscribed = 2,
    HuffmanNoMemory = 3,
};

// Results of the block routines. A broken stream (a case the format leaves
// undefined, or data that end before the last block) stops the entry.
enum : int32_t {
    InflateOk = 0,
    InflateInvalidCode = 1,
    InflateBroken = 2,
};

enum : uint32_t {
    WindowSize = 32768,
    InputChunkSize = 32768,
    DecoderBlockSize = 32770,     // window and input buffer, two bytes spare
    MaxSymbols = 288,
    MaxCodeLength = 16,
    FixedLiteralLookupBits = 7,
    FixedDistanceLookupBits = 5,
    CodeLengthLookupBits = 7,
    LiteralLookupBits = 9,
    DistanceLookupBits = 6,
};

extern const uint16_t LengthBases[31];       // symbols 257..287
extern const uint8_t LengthExtraBits[31];
extern const uint16_t DistanceBases[32];     // symbols 0..31; 30 and 31 are invalid
extern const uint8_t DistanceExtraBits[32];
extern const uint8_t CodeLengthOrder[19];
extern const uint16_t BitMasks[17];          // entry n is 2^n - 1

// Turns code lengths into lookup tables. Symbols below simple stand for
// themselves; symbol s from simple up gets Value bases[s - simple] and Op
// extras[s - simple]. Every table is pushed on chain (newest first);
// lookupBits is the wanted root size on input and the size used on output.
// Returns one of the Huffman results above.
int32_t BuildHuffmanTables(const uint16_t* lengths, uint16_t count, uint16_t simple,
                           const uint16_t* bases, const uint8_t* extras, HuffmanEntry*& root,
                           HuffmanEntry*& chain, int32_t& lookupBits);

// Releases every table of a chain; an empty chain releases nothing.
void FreeHuffmanTables(HuffmanEntry* chain);

// Decoder state, per entry.
extern uint8_t* InputBuffer;
extern uint16_t InputPosition;
extern int32_t InputCount;
extern uint32_t BitBuffer;
extern uint16_t BitCount;
extern uint32_t FillerBits;       // 1-bits supplied past the end, still counted in BitCount
extern uint8_t* Window;
extern uint16_t WindowPosition;
extern HuffmanEntry* FixedLiteralTable;
extern HuffmanEntry* FixedDistanceTable;

// The next byte of the entry's data (0..255), or -1 once a read delivers
// nothing. NextInputByte also returns -1 when DataRemaining is used up.
int32_t ReadInputByte();
int32_t NextInputByte();

// Makes count at least n (n <= 16), adding whole bytes above the valid bits.
// Past the end of the data every added bit is 1.
void NeedBits(uint32_t n, uint32_t& buffer, uint32_t& count);

static inline void DumpBits(uint32_t n, uint32_t& buffer, uint32_t& count)
{
    buffer >>= n;
    count -= n;
}

int32_t InflateBlock(int32_t& last);
int32_t InflateStoredBlock();
int32_t InflateFixedBlock();
int32_t InflateDynamicBlock();
int32_t InflateCodes(const HuffmanEntry* literalTable, const HuffmanEntry* distanceTable,
                     int32_t literalBits, int32_t distanceBits);

// Decodes the current entry: DataRemaining bytes at the archive position,
// decrypted when EntryHeader says so (the keys are ready), written through
// WriteOutput, with RunningCrc run over every byte that the output accepted.
void InflateEntry();

#endif
