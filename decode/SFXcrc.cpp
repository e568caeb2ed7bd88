// CRC-32: table built at start-up, shared with the decryption keys.
//
// CrcUpdateBuffer runs over every byte that the decoders write, so it works
// on eight bytes at a time ("slicing by 8"): CrcSlices[k][n] is the register
// contribution of byte value n followed by k+1 zero bytes. The slices live in
// uninitialised data, cost nothing in the file, and are derived from CrcTable
// when it is built.
#include "SFXcrc.h"
#include "../startup/SFXstate.h"

static uint32_t CrcSlices[7][256];

void BuildCrcTable()
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
            c = CrcTable[c & 0xFF] ^ (c >> 8);
            CrcSlices[k][n] = c;
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

void CrcUpdateBuffer(const uint8_t* data, int32_t length, uint32_t& crc)
{
    if (length <= 0)
        return;
    const uint32_t* table = CrcTable;
    uint32_t c = crc;
    const uint8_t* end = data + length;
    while (end - data >= 8) {
        uint32_t low = LoadLittle32(data) ^ c;
        uint32_t high = LoadLittle32(data + 4);
        c = CrcSlices[6][low & 0xFF] ^ CrcSlices[5][(low >> 8) & 0xFF] ^
            CrcSlices[4][(low >> 16) & 0xFF] ^ CrcSlices[3][low >> 24] ^
            CrcSlices[2][high & 0xFF] ^ CrcSlices[1][(high >> 8) & 0xFF] ^
            CrcSlices[0][(high >> 16) & 0xFF] ^ table[high >> 24];
        data += 8;
    }
    while (data < end)
        c = table[(c ^ *data++) & 0xFF] ^ (c >> 8);
    crc = c;
}
