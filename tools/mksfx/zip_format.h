// ZIP records as the packer reads and writes them, and the layout of a
// self-extracting file. Every field is little-endian.
#ifndef MKSFX_ZIP_FORMAT_H
#define MKSFX_ZIP_FORMAT_H

#include <cstdint>
#include <stdexcept>
#include <string>

#include "startup/SFXblock.h"      // StubSizeMin, SettingsBlockSize

namespace sfx {

// A 32-bit size or offset at or above this value, or a 16-bit count above
// 0xFFFF, goes into a ZIP64 record; the short field then holds all ones.
constexpr uint64_t Zip64Marker = 0xFFFFFFFF;
constexpr uint16_t Zip64Version = 45;

enum : uint32_t {
    LocalSignature = 0x04034B50,
    ZeroLocalSignature = 0x50000000,   // bytes 00 00 00 50, also a header to the extractor
    CentralSignature = 0x02014B50,
    EndSignature = 0x06054B50,
    Zip64EndSignature = 0x06064B50,
    Zip64LocatorSignature = 0x07064B50,
    DescriptorSignature = 0x08074B50,
};

enum : uint32_t {
    LocalHeaderSize = 30,
    CentralHeaderSize = 46,
    EndRecordSize = 22,
    Zip64LocatorSize = 20,
    DescriptorSize = 16,
    Zip64DescriptorSize = 24,          // behind an entry whose local header has ZIP64 sizes
    Zip64EndRecordSize = 56,
    EncryptionHeaderSize = 12,
};

enum : uint16_t {
    FlagEncrypted = 0x0001,
    FlagMaximumCompression = 0x0002,
    FlagDescriptor = 0x0008,
    FlagStrongEncryption = 0x0040,
    FlagUtf8 = 0x0800,                 // the name (and comment) are UTF-8
    FlagMaskedHeaders = 0x2000,
};

enum : uint16_t {
    MethodStored = 0,
    MethodDeflated = 8,
    MethodAes = 99,
};

enum : uint16_t {
    ExtraZip64 = 0x0001,
    ExtraAes = 0x9901,
};

// The host in the high byte of "version made by", which says how the
// external attributes read: MS-DOS attributes in the low byte, or a Unix
// mode in the high 16 bits.
enum : uint16_t {
    HostMsDos = 0,
    HostUnix = 3,
    HostNtfs = 11,
    HostVfat = 14,
};

// What mksfx's own entries say they were made by: NTFS, whose external
// attributes are MS-DOS ones. Info-ZIP's unzip reads the names of entries
// from an MS-DOS host in its OEM code page even when flag bit 11 says
// UTF-8; from this host it takes them as the flag says, as 7-Zip, bsdtar
// and Python do for either.
constexpr uint16_t MadeByWindows = HostNtfs << 8 | 20;

enum : uint32_t {
    DosFolderAttribute = 0x10,
    UnixTypeMask = 0170000,
    UnixFolder = 0040000,
    UnixLink = 0120000,
};

// A refusal or failure that ends the run; the message names what and why.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline uint16_t Get16(const void* p)
{
    const uint8_t* b = static_cast<const uint8_t*>(p);
    return (uint16_t)(b[0] | b[1] << 8);
}

inline uint32_t Get32(const void* p)
{
    const uint8_t* b = static_cast<const uint8_t*>(p);
    return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
}

inline uint64_t Get64(const void* p)
{
    return Get32(p) | (uint64_t)Get32(static_cast<const uint8_t*>(p) + 4) << 32;
}

inline void Put16(std::string& out, uint32_t value)
{
    out += (char)(value & 0xFF);
    out += (char)(value >> 8 & 0xFF);
}

inline void Put32(std::string& out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

inline void Put64(std::string& out, uint64_t value)
{
    Put32(out, (uint32_t)value);
    Put32(out, (uint32_t)(value >> 32));
}

// One entry as it is written: the values that go into both its local
// header and its central directory record.
struct Entry {
    std::string name;
    uint16_t versionMadeBy = 20;
    uint16_t versionNeeded = 20;
    uint16_t flags = 0;
    uint16_t method = MethodStored;
    uint32_t timeDate = 0;           // DOS time in the low half, DOS date in the high half
    uint32_t crc = 0;
    uint64_t compressedSize = 0;     // with the encryption header of an encrypted entry
    uint64_t uncompressedSize = 0;
    std::string localExtra;
    std::string centralExtra;
    std::string comment;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    bool descriptor = false;         // a signed data descriptor follows the data
    // The local header carries ZIP64 sizes. The writer sets it when the
    // sizes it is given need them; an entry whose sizes are known only once
    // it is written is marked beforehand by the size it may reach.
    bool zip64 = false;
    uint64_t localOffset = 0;        // set by the writer
};

// The extra field without the blocks that the fresh headers make untrue:
// ZIP64 sizes, and a Unicode Path field, whose CRC-32 is of the old name
// bytes. Fields that do not parse are kept as they are.
std::string ExtraToKeep(const std::string& extra);
// True when the extra field has a block with this identifier.
bool HasExtraBlock(const std::string& extra, uint16_t id);

}  // namespace sfx

#endif
