// CRC-32: table built at start-up, shared with the decryption keys.
//
// CrcUpdateBuffer runs over every byte that the decoders write, so it is
// built for speed without changing its result:
// - it takes eight bytes per step ("slicing by 8"): CrcSlices[k][n] is the
//   register contribution of byte value n followed by k+1 zero bytes;
// - it runs four independent registers over four consecutive lanes of
//   LaneSize bytes at once, so that their table look-ups overlap, and then
//   joins them: a register r followed by LaneSize bytes of data D becomes
//   CrcSkipLane(r) XOR (the register that D alone leaves from 0), because
//   each step is linear in the register.
// The extra tables live in uninitialised data, cost nothing in the file, and
// are derived from CrcTable when it is built.
#include "SFXcrc.h"
#include "SFXattr.h"
#include "../startup/SFXstate.h"

enum : int32_t {
    LaneSize = 512,
    LaneCount = 4,
};

static uint32_t CrcSlices[7][256] SFX_UNINITIALISED;
static uint32_t CrcSkip[4][256] SFX_UNINITIALISED;    // CrcSkip[k][n]: byte n at bit 8k, run over LaneSize zero bytes

static inline uint32_t ZeroByte(uint32_t c)
{
    return CrcTable[c & 0xFF] ^ (c >> 8);
}

SFX_SMALL void BuildCrcTable()
{
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        CrcTable[n] = c;
    }
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = CrcTable[n];
        for (int k = 0; k < 7; k++) {
            c = ZeroByte(c);
            CrcSlices[k][n] = c;
        }
    }
    // Skipping LaneSize zero bytes is linear: build it from the 32 single
    // bits, then combine those per byte value.
    uint32_t bitImage[32];
    for (int b = 0; b < 32; b++) {
        uint32_t c = 1u << b;
        for (int i = 0; i < LaneSize; i++)
            c = ZeroByte(c);
        bitImage[b] = c;
    }
    for (int k = 0; k < 4; k++) {
        for (uint32_t n = 0; n < 256; n++) {
            uint32_t c = 0;
            for (int b = 0; b < 8; b++)
                if (n & (1u << b))
                    c ^= bitImage[8 * k + b];
            CrcSkip[k][n] = c;
        }
    }
}

uint32_t CrcUpdateByte(uint8_t byte, uint32_t crc)
{
    return CrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

static inline uint32_t LoadLittle32(const uint8_t* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static inline uint32_t Slice8(uint32_t c, const uint8_t* p)
{
    uint32_t low = LoadLittle32(p) ^ c;
    uint32_t high = LoadLittle32(p + 4);
    return CrcSlices[6][low & 0xFF] ^ CrcSlices[5][(low >> 8) & 0xFF] ^
           CrcSlices[4][(low >> 16) & 0xFF] ^ CrcSlices[3][low >> 24] ^
           CrcSlices[2][high & 0xFF] ^ CrcSlices[1][(high >> 8) & 0xFF] ^
           CrcSlices[0][(high >> 16) & 0xFF] ^ CrcTable[high >> 24];
}

static inline uint32_t SkipLane(uint32_t c)
{
    return CrcSkip[0][c & 0xFF] ^ CrcSkip[1][(c >> 8) & 0xFF] ^ CrcSkip[2][(c >> 16) & 0xFF] ^
           CrcSkip[3][c >> 24];
}

void CrcUpdateBuffer(const uint8_t* data, int32_t length, uint32_t& crc)
{
    if (length <= 0)
        return;
    uint32_t c = crc;
    const uint8_t* end = data + length;
    while (end - data >= LaneCount * LaneSize) {
        uint32_t c1 = 0, c2 = 0, c3 = 0;
        for (const uint8_t* p = data; p < data + LaneSize; p += 8) {
            c = Slice8(c, p);
            c1 = Slice8(c1, p + LaneSize);
            c2 = Slice8(c2, p + 2 * LaneSize);
            c3 = Slice8(c3, p + 3 * LaneSize);
        }
        c = SkipLane(SkipLane(SkipLane(c) ^ c1) ^ c2) ^ c3;
        data += LaneCount * LaneSize;
    }
    for (; end - data >= 8; data += 8)
        c = Slice8(c, data);
    while (data < end)
        c = CrcTable[(c ^ *data++) & 0xFF] ^ (c >> 8);
    crc = c;
}
