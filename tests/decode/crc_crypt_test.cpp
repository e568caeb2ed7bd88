// CRC-32 and the traditional decryption, checked against zlib and against
// archives that Info-ZIP zip and 7-Zip encrypt.
#include <string.h>

#include <string>

#include <gtest/gtest.h>
#include <zlib.h>

#include "decode/SFXcrc.h"
#include "decode/SFXcrypt.h"
#include "memory_io.h"
#include "startup/SFXstate.h"

using namespace memio;

namespace {

uint32_t Crc(const uint8_t* data, int32_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    CrcUpdateBuffer(data, length, crc);
    return crc ^ 0xFFFFFFFFu;
}

TEST(Crc, TableIsTheZipTable)
{
    EnsureCrcTable();
    EXPECT_EQ(CrcTable[0], 0u);
    EXPECT_EQ(CrcTable[1], 0x77073096u);
    EXPECT_EQ(CrcTable[128], 0xEDB88320u);
    const z_crc_t* reference = get_crc_table();
    for (int n = 0; n < 256; n++)
        ASSERT_EQ(CrcTable[n], (uint32_t)reference[n]) << n;
}

// Both paths, where the processor has the folding one: the same register.
TEST(Crc, MatchesKnownVectorsAndZlibAtEveryLengthAndAlignment)
{
    EnsureCrcTable();
    const bool carryless = CrcCarryless;
    for (bool fold : {false, true}) {
        if (fold && !carryless)
            continue;
        CrcCarryless = fold;
        SCOPED_TRACE(fold ? "folding" : "tables");
        EXPECT_EQ(Crc((const uint8_t*)"123456789", 9), 0xCBF43926u);
        const char* fox = "The quick brown fox jumps over the lazy dog";
        EXPECT_EQ(Crc((const uint8_t*)fox, (int32_t)strlen(fox)), 0x414FA339u);

        // Lengths around the eight-byte steps, the 16-byte folds, the
        // 64-byte four-lane folds and the four-lane table blocks.
        Bytes data = SampleData(40000, 7);
        for (int32_t length : {1, 7, 8, 9, 15, 16, 17, 63, 64, 65, 79, 80, 127, 128, 129, 2047, 2048, 2049,
                               4095, 6144, 32768, 39990}) {
            for (int32_t offset : {0, 1, 3}) {
                uint32_t expected = (uint32_t)crc32(0, data.data() + offset, (uInt)length);
                ASSERT_EQ(Crc(data.data() + offset, length), expected) << length << "+" << offset;
                uint32_t bytewise = 0xFFFFFFFFu;
                for (int32_t i = 0; i < length; i++)
                    bytewise = CrcUpdateByte(data[offset + i], bytewise);
                ASSERT_EQ(bytewise ^ 0xFFFFFFFFu, expected);
            }
        }
    }
    CrcCarryless = carryless;
}

TEST(Crc, ZeroAndNegativeLengthsChangeNothing)
{
    EnsureCrcTable();
    uint8_t byte = 0x55;
    for (int32_t length : {0, -1, -40000}) {
        uint32_t crc = 0xFFFFFFFFu;
        CrcUpdateBuffer(&byte, length, crc);
        EXPECT_EQ(crc, 0xFFFFFFFFu);
    }
}

// Encrypted entries made by the real tools, once for all tests below.
class Encrypted : public ::testing::Test {
protected:
    static std::string folder;
    static Bytes small, large;
    static std::string longPassword;

    static void SetUpTestSuite()
    {
        EnsureCrcTable();
        folder = ScratchFolder("crypt");
        small = SampleData(3000, 11);
        large = SampleData(70000, 12);
        const char* letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        longPassword = std::string(79, 'p');
        for (int i = 0; i < 79; i++)
            longPassword[i] = letters[(i * 7) % 62];
        WriteFileBytes(folder + "/small.txt", small);
        WriteFileBytes(folder + "/large.bin", large);
        std::string files = " small.txt large.bin";
        std::string in = "cd " + folder + " && ";
        memio::Run(in + "zip -q -P secret zip-deflated.zip" + files);
        memio::Run(in + "zip -q -0 -P secret zip-stored.zip" + files);
        memio::Run(in + "7z a -tzip -mem=ZipCrypto -psecret -mx=5 7z-deflated.zip" + files);
        memio::Run(in + "7z a -tzip -mem=ZipCrypto -psecret -mx=0 7z-stored.zip" + files);
        memio::Run(in + "7z a -tzip -mem=ZipCrypto '-p" + longPassword + "' -mx=5 7z-long.zip" + files);
    }

    static void TearDownTestSuite() { memio::Run("rm -rf " + folder); }

    // Checks the password against the entry's header; when it passes,
    // decodes the data. Returns whether the result is the original file.
    static bool Extract(const ZipEntry& e, const char* password, bool& accepted)
    {
        uint8_t block[24];
        memcpy(block, e.data.data(), 12);
        memcpy(block + 12, e.data.data(), 12);
        accepted = CheckPassword(block, 12, e.flags, e.crc, e.timeDate, password);
        if (!accepted)
            return false;
        Reset(Bytes(e.data.begin() + 12, e.data.end()));
        uint32_t crc = e.method == 8 ? RunInflate(-1, true) : RunStored(-1, true);
        const Bytes& original = e.name == "small.txt" ? small : large;
        return crc == e.crc && io.output == original && io.liveBlocks == 0;
    }

    static void CheckArchive(const std::string& name, bool timeCheck, const std::string& password)
    {
        std::vector<ZipEntry> entries = ReadZipEntries(folder + "/" + name);
        ASSERT_EQ(entries.size(), 2u) << name;
        for (const ZipEntry& e : entries) {
            SCOPED_TRACE(name + ": " + e.name);
            ASSERT_TRUE(e.flags & FlagEncrypted);
            EXPECT_EQ((e.flags & FlagDataDescriptor) != 0, timeCheck);
            bool accepted;
            EXPECT_TRUE(Extract(e, password.c_str(), accepted));
            // A wrong password may pass the one check byte (1 in 256), but
            // never decodes to the file.
            for (const char* wrong : {"Secret", "secret ", "x"})
                EXPECT_FALSE(Extract(e, wrong, accepted)) << wrong;
        }
    }
};

std::string Encrypted::folder;
Bytes Encrypted::small, Encrypted::large;
std::string Encrypted::longPassword;

TEST_F(Encrypted, InfoZipChecksTheTimeByte)
{
    CheckArchive("zip-deflated.zip", true, "secret");
    CheckArchive("zip-stored.zip", true, "secret");
}

TEST_F(Encrypted, SevenZipChecksTheCrcByte)
{
    CheckArchive("7z-deflated.zip", false, "secret");
    CheckArchive("7z-stored.zip", false, "secret");
}

TEST_F(Encrypted, LongPasswordMixesInEveryCharacter)
{
    CheckArchive("7z-long.zip", false, longPassword);
    std::vector<ZipEntry> entries = ReadZipEntries(folder + "/7z-long.zip");
    ASSERT_FALSE(entries.empty());
    bool accepted;
    std::string shorter = longPassword.substr(0, 78);
    EXPECT_FALSE(Extract(entries[0], shorter.c_str(), accepted));
}

TEST_F(Encrypted, EmptyPasswordNeverPassesAndLeavesTheKeys)
{
    std::vector<ZipEntry> entries = ReadZipEntries(folder + "/7z-deflated.zip");
    ASSERT_FALSE(entries.empty());
    uint8_t block[24];
    memcpy(block, entries[0].data.data(), 12);
    memcpy(block + 12, entries[0].data.data(), 12);
    Key0 = 1, Key1 = 2, Key2 = 3;
    // Whatever the check byte, in either mode.
    for (uint16_t flags : {0x0001, 0x0009})
        EXPECT_FALSE(CheckPassword(block, 12, flags, entries[0].crc, entries[0].timeDate, ""));
    EXPECT_EQ(Key0, 1u);
    EXPECT_EQ(Key1, 2u);
    EXPECT_EQ(Key2, 3u);
}

TEST_F(Encrypted, WrongThenRightPasswordOnTheSameBlock)
{
    for (const char* name : {"zip-deflated.zip", "7z-stored.zip"}) {
        ZipEntry e = ReadZipEntries(folder + "/" + name).at(0);
        uint8_t block[24];
        memcpy(block, e.data.data(), 12);
        memcpy(block + 12, e.data.data(), 12);
        CheckPassword(block, 12, e.flags, e.crc, e.timeDate, "wrong");
        EXPECT_EQ(memcmp(block + 12, e.data.data(), 12), 0) << "stored half changed";
        ASSERT_TRUE(CheckPassword(block, 12, e.flags, e.crc, e.timeDate, "secret")) << name;
        // The keys now stand after the header: the data decode.
        Reset(Bytes(e.data.begin() + 12, e.data.end()));
        uint32_t crc = e.method == 8 ? RunInflate(-1, true) : RunStored(-1, true);
        EXPECT_EQ(crc, e.crc) << name;
    }
}

}  // namespace
