// Traditional PKWARE encryption of the ZIP format: three keys, advanced over
// every plain byte, and the check of a password against the 12-byte
// encryption header in front of an entry's data.
#ifndef SFX_CRYPT_H
#define SFX_CRYPT_H

#include <stdint.h>

extern uint32_t Key0, Key1, Key2;

// Resets the keys and mixes in the NUL-terminated password.
void InitKeys(const char* password);

// Advances the keys over one plain byte.
void UpdateKeys(uint8_t plain);

// The next key-stream byte; the keys stay as they are.
uint8_t DecryptByte();

// Decrypts one byte in place and advances the keys over the plain byte.
static inline uint8_t DecryptInPlace(uint8_t& stored)
{
    uint8_t plain = (uint8_t)(stored ^ DecryptByte());
    UpdateKeys(plain);
    stored = plain;
    return plain;
}

// Decrypts count bytes in place, in order.
void DecryptBuffer(uint8_t* data, int32_t count);

// header holds the encrypted header twice: bytes headerLength.. are the
// stored bytes, which stay untouched; bytes 0.. receive the decrypted ones.
// True when the last decrypted byte matches the high byte of the DOS time
// (flag bit 3) or of the CRC-32; the keys then stand ready for the data. An
// empty password never passes and leaves the keys alone.
bool CheckPassword(uint8_t* header, uint8_t headerLength, uint16_t flags, uint32_t crc,
                   uint32_t time, const char* password);

#endif
