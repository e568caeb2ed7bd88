#include "zip_crypto.h"

#include <algorithm>

#include <zlib.h>

#include "startup/SFXstate.h"     // PasswordTextSize

namespace sfx {

namespace {

// What the extractor's password buffer holds besides its NUL.
const size_t MaxPassword = PasswordTextSize - 1;

uint32_t Crc32Byte(uint32_t crc, uint8_t b)
{
    static const z_crc_t* table = get_crc_table();
    return (uint32_t)table[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

uint64_t Mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

std::string PasswordProblem(const std::string& password)
{
    if (password.empty())
        return "the password is empty";
    if (password.size() > MaxPassword)
        return "the password has " + std::to_string(password.size()) + " bytes; the extractor takes at most "
               + std::to_string(MaxPassword);
    for (unsigned char c : password) {
        // The extractor turns what is typed into the ANSI code page of the
        // Windows it runs on, which mksfx cannot know.
        if (c >= 0x80)
            return "the password has characters beyond ASCII, which reach the extractor in the ANSI code page "
                   "of the Windows it runs on; use ASCII only";
        if (c < 0x20 || c == 0x7F)
            return "the password has a control character, which cannot be typed into the extractor";
    }
    return "";
}

void ZipCipher::Reset()
{
    keys_[0] = 0x12345678;
    keys_[1] = 0x23456789;
    keys_[2] = 0x34567890;
    for (unsigned char c : password_)
        Next(c);
}

// Encrypts one byte and moves the keys on by the plain byte.
uint8_t ZipCipher::Next(uint8_t plain)
{
    uint16_t t = (uint16_t)(keys_[2] | 2);
    uint8_t cipher = (uint8_t)(plain ^ (uint8_t)((t * (t ^ 1)) >> 8));
    keys_[0] = Crc32Byte(keys_[0], plain);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813 + 1;
    keys_[2] = Crc32Byte(keys_[2], (uint8_t)(keys_[1] >> 24));
    return cipher;
}

std::string ZipCipher::Begin(const std::string& name, uint32_t crc, uint64_t size)
{
    // FNV-1a over password, name, CRC and size, then a mixer for the bytes.
    uint64_t seed = 0xCBF29CE484222325ull;
    auto add = [&](uint8_t b) { seed = (seed ^ b) * 0x100000001B3ull; };
    for (unsigned char c : password_)
        add(c);
    add(0);
    for (unsigned char c : name)
        add(c);
    for (int i = 0; i < 4; i++)
        add((uint8_t)(crc >> (8 * i)));
    for (int i = 0; i < 8; i++)
        add((uint8_t)(size >> (8 * i)));

    Reset();
    std::string header(12, '\0');
    for (int i = 0; i < 11; i++)
        header[i] = (char)(Mix(seed + (uint64_t)i) >> 32);
    header[11] = (char)(crc >> 24);
    Encrypt(reinterpret_cast<uint8_t*>(&header[0]), header.size());
    return header;
}

void ZipCipher::Encrypt(uint8_t* data, size_t count)
{
    for (size_t i = 0; i < count; i++)
        data[i] = Next(data[i]);
}

void ZipCipher::Decrypt(uint8_t* data, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        uint16_t t = (uint16_t)(keys_[2] | 2);
        uint8_t plain = (uint8_t)(data[i] ^ (uint8_t)((t * (t ^ 1)) >> 8));
        Next(plain);
        data[i] = plain;
    }
}

bool ZipCipher::Open(const uint8_t* header, uint8_t check)
{
    Reset();
    uint8_t plain[12];
    std::copy(header, header + 12, plain);
    Decrypt(plain, sizeof plain);
    return plain[11] == check;
}

}  // namespace sfx
