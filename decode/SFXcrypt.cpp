// Traditional PKWARE decryption; the key mixing reuses the CRC-32 step.
#include "SFXcrypt.h"
#include "SFXcrc.h"
#include "SFXattr.h"
#include "../startup/SFXstate.h"

uint32_t Key0, Key1, Key2;

SFX_SMALL void InitKeys(const char* password)
{
    Key0 = 0x12345678u;
    Key1 = 0x23456789u;
    Key2 = 0x34567890u;
    while (*password != 0)
        UpdateKeys((uint8_t)*password++);
}

void UpdateKeys(uint8_t plain)
{
    Key0 = CrcUpdateByte(plain, Key0);
    Key1 = (Key1 + (Key0 & 0xFF)) * 134775813u + 1;
    Key2 = CrcUpdateByte((uint8_t)(Key1 >> 24), Key2);
}

uint8_t DecryptByte()
{
    uint32_t t = (Key2 & 0xFFFF) | 2;
    return (uint8_t)((t * (t ^ 1)) >> 8);
}

void DecryptBuffer(uint8_t* data, int32_t count)
{
    for (int32_t i = 0; i < count; i++)
        DecryptInPlace(data[i]);
}

SFX_SMALL bool CheckPassword(uint8_t* header, uint8_t headerLength, uint16_t flags, uint32_t crc,
                   uint32_t time, const char* password)
{
    if (password == 0 || password[0] == 0 || headerLength == 0)
        return false;
    InitKeys(password);
    for (uint32_t i = 0; i < headerLength; i++) {
        header[i] = header[headerLength + i];
        DecryptInPlace(header[i]);
    }
    uint8_t check = header[headerLength - 1];
    if (flags & FlagDataDescriptor)
        return check == (uint8_t)(time >> 8);
    return check == (uint8_t)(crc >> 24);
}
