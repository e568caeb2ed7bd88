// A small reader of PE files (PE32 and PE32+): the headers, the section
// table, the import directory and the resource directory tree. It reads
// only from the file's bytes and refuses anything that points outside them.
#ifndef SFX_TESTS_PE_IMAGE_H
#define SFX_TESTS_PE_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pe {

using Bytes = std::vector<uint8_t>;

struct FormatError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

uint16_t Read16(const Bytes& b, size_t offset);
uint32_t Read32(const Bytes& b, size_t offset);
void Write16(Bytes& b, size_t offset, uint16_t v);
void Write32(Bytes& b, size_t offset, uint32_t v);

// The PE checksum of a whole file, as the system computes it: 16-bit words
// added with end-around carry, the checksum field left out, plus the length.
uint32_t FileChecksum(const Bytes& file, size_t fieldOffset);

// ASCII text as UTF-16 code units, and back (anything else shown as \uXXXX).
std::u16string Widen(const std::string& ascii);
std::string Printable(const std::u16string& text);

constexpr uint16_t MachineI386 = 0x014C;
constexpr uint16_t MachineAmd64 = 0x8664;
constexpr uint16_t MagicPe32 = 0x010B;
constexpr uint16_t MagicPe32Plus = 0x020B;

constexpr uint16_t RtIcon = 3;
constexpr uint16_t RtDialog = 5;
constexpr uint16_t RtGroupIcon = 14;
constexpr uint16_t RtVersion = 16;
constexpr uint16_t RtManifest = 24;

struct Section {
    std::string name;
    uint32_t virtualAddress = 0, virtualSize = 0, rawOffset = 0, rawSize = 0;
    uint32_t characteristics = 0;
    size_t headerOffset = 0;  // file offset of its entry in the section table
};

// Section characteristics.
constexpr uint32_t ScnUninitialised = 0x00000080;
constexpr uint32_t ScnExecute = 0x20000000;
constexpr uint32_t ScnWrite = 0x80000000;

struct Import {
    std::string dll;
    size_t nameOffset = 0;  // file offset of the DLL name
};

// A resource directory entry's name: an integer id or a UTF-16 string.
struct ResourceKey {
    bool isId = true;
    uint16_t id = 0;
    std::u16string name;
    std::string Text() const;  // "#5" or the name
};

struct Resource {
    ResourceKey type, name;
    uint16_t language = 0;
    uint32_t dataRva = 0;
    uint32_t size = 0;
    size_t dataOffset = 0;           // file offset of the data
    size_t languageEntryOffset = 0;  // file offset of the language-level directory entry
    Bytes data;
};

class Image {
public:
    explicit Image(Bytes file);  // throws FormatError

    const Bytes& file() const { return file_; }
    uint16_t machine() const { return machine_; }
    uint16_t magic() const { return magic_; }
    uint16_t subsystem() const { return subsystem_; }
    size_t peHeaderOffset() const { return peOffset_; }
    size_t optionalHeaderOffset() const { return peOffset_ + 24; }
    size_t subsystemOffset() const { return optionalHeaderOffset() + 68; }
    size_t checksumOffset() const { return optionalHeaderOffset() + 64; }
    size_t sizeOfImageOffset() const { return optionalHeaderOffset() + 56; }
    size_t dllCharacteristicsOffset() const { return optionalHeaderOffset() + 70; }
    const std::vector<Section>& sections() const { return sections_; }
    uint64_t imageBase() const { return imageBase_; }
    uint32_t sectionAlignment() const { return Read32(file_, optionalHeaderOffset() + 32); }
    uint32_t fileAlignment() const { return Read32(file_, optionalHeaderOffset() + 36); }
    uint32_t sizeOfImage() const { return Read32(file_, sizeOfImageOffset()); }
    uint32_t sizeOfHeaders() const { return Read32(file_, optionalHeaderOffset() + 60); }
    uint32_t checksum() const { return Read32(file_, checksumOffset()); }
    uint16_t dllCharacteristics() const { return Read16(file_, dllCharacteristicsOffset()); }
    size_t sectionTableEnd() const { return sectionTableEnd_; }

    // Data directory `index` (1 imports, 2 resources, 4 certificates,
    // 5 base relocations, 12 import addresses, 13 delay imports).
    uint32_t directoryCount() const { return directoryCount_; }
    uint32_t DirectoryRva(int index) const;
    uint32_t DirectorySize(int index) const;
    size_t DirectoryOffset(int index) const { return directoriesOffset_ + 8 * index; }
    // The section whose memory holds `rva`, or null.
    const Section* SectionAt(uint32_t rva) const;

    // File offset of `size` bytes at `rva`; throws if they are not all in the file.
    size_t OffsetOf(uint32_t rva, uint32_t size) const;

    std::vector<Import> Imports() const;
    std::vector<Resource> Resources() const;  // in directory order

private:
    std::string ReadAsciiz(size_t offset) const;

    Bytes file_;
    size_t peOffset_ = 0;
    uint16_t machine_ = 0, magic_ = 0, subsystem_ = 0;
    size_t directoriesOffset_ = 0;
    uint32_t directoryCount_ = 0;
    uint64_t imageBase_ = 0;
    size_t sectionTableEnd_ = 0;
    std::vector<Section> sections_;
};

}  // namespace pe

#endif
