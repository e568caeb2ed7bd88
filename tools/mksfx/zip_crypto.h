// Traditional ZIP encryption, the one the extractor's password prompt
// opens. It keeps out casual readers only: a known stretch of any entry's
// content gives the keys away.
#ifndef MKSFX_ZIP_CRYPTO_H
#define MKSFX_ZIP_CRYPTO_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace sfx {

// Why the extractor could not take this password, or "".
std::string PasswordProblem(const std::string& password);

class ZipCipher {
public:
    explicit ZipCipher(const std::string& password) : password_(password) {}

    // Starts an entry: its 12-byte encryption header, encrypted. The last
    // byte of the header is the check byte, the CRC-32's high byte. The
    // other eleven derive from the password and the entry, so the same
    // input gives the same file, yet stay unknown to whoever lacks the
    // password.
    std::string Begin(const std::string& name, uint32_t crc, uint64_t size);
    void Encrypt(uint8_t* data, size_t count);
    // Reading: decrypts an entry's encryption header and says whether its
    // check byte is this one; the data follows through Decrypt.
    bool Open(const uint8_t* header, uint8_t check);
    void Decrypt(uint8_t* data, size_t count);

private:
    void Reset();
    uint8_t Next(uint8_t plain);

    std::string password_;
    uint32_t keys_[3] = {0, 0, 0};
};

}  // namespace sfx

#endif
