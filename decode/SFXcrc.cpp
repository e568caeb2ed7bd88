// CRC-32: table built at start-up, shared with the decryption keys.
#include "SFXcrc.h"
#include "../startup/SFXstate.h"

void BuildCrcTable()
{
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        CrcTable[n] = c;
    }
}

uint32_t CrcUpdateByte(uint8_t byte, uint32_t crc)
{
    return CrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

void CrcUpdateBuffer(const uint8_t* data, int32_t length, uint32_t& crc)
{
    uint32_t c = crc;
    for (int32_t i = 0; i < length; i++)
        c = CrcTable[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    crc = c;
}
