#include "pe_image.h"

#include <algorithm>
#include <cstdio>

namespace pe {

namespace {

void Need(const Bytes& b, size_t offset, size_t size)
{
    if (offset > b.size() || size > b.size() - offset)
        throw FormatError("read of " + std::to_string(size) + " bytes at offset " +
                          std::to_string(offset) + " is past the end of the file");
}

// Resource directory entries use the top bit to mark a string name or a
// subdirectory; the rest is an offset from the start of the resource tree.
constexpr uint32_t HighBit = 0x80000000u;

}  // namespace

uint16_t Read16(const Bytes& b, size_t offset)
{
    Need(b, offset, 2);
    return static_cast<uint16_t>(b[offset] | b[offset + 1] << 8);
}

uint32_t Read32(const Bytes& b, size_t offset)
{
    return Read16(b, offset) | static_cast<uint32_t>(Read16(b, offset + 2)) << 16;
}

void Write16(Bytes& b, size_t offset, uint16_t v)
{
    Need(b, offset, 2);
    b[offset] = v & 0xFF;
    b[offset + 1] = v >> 8;
}

void Write32(Bytes& b, size_t offset, uint32_t v)
{
    Write16(b, offset, v & 0xFFFF);
    Write16(b, offset + 2, v >> 16);
}

uint32_t FileChecksum(const Bytes& file, size_t fieldOffset)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        if (i + 2 > fieldOffset && i < fieldOffset + 4)
            continue;  // the field is 4-byte aligned, so these words are its own
        sum += file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint32_t>(((sum & 0xFFFF) + (sum >> 16)) + file.size());
}

std::u16string Widen(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

std::string Printable(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out;
}

std::string ResourceKey::Text() const
{
    return isId ? "#" + std::to_string(id) : Printable(name);
}

Image::Image(Bytes file) : file_(std::move(file))
{
    if (file_.size() < 64 || file_[0] != 'M' || file_[1] != 'Z')
        throw FormatError("no MZ header");
    peOffset_ = Read32(file_, 0x3C);
    Need(file_, peOffset_, 24);
    if (Read32(file_, peOffset_) != 0x00004550)
        throw FormatError("no PE signature at offset " + std::to_string(peOffset_));
    machine_ = Read16(file_, peOffset_ + 4);
    const unsigned sectionCount = Read16(file_, peOffset_ + 6);
    const unsigned optionalSize = Read16(file_, peOffset_ + 20);
    const size_t opt = optionalHeaderOffset();
    Need(file_, opt, optionalSize);
    magic_ = Read16(file_, opt);
    size_t countField = 0;
    if (magic_ == MagicPe32) {
        countField = 92;
    } else if (magic_ == MagicPe32Plus) {
        countField = 108;
    } else {
        throw FormatError("unknown optional header magic " + std::to_string(magic_));
    }
    if (optionalSize < countField + 4)
        throw FormatError("optional header too short");
    subsystem_ = Read16(file_, opt + 68);
    imageBase_ = magic_ == MagicPe32 ? Read32(file_, opt + 28)
                                     : Read32(file_, opt + 24) | static_cast<uint64_t>(Read32(file_, opt + 28)) << 32;
    directoryCount_ = Read32(file_, opt + countField);
    directoriesOffset_ = opt + countField + 4;
    if (directoryCount_ > (optionalSize - countField - 4) / 8)
        throw FormatError("data directories run past the optional header");

    const size_t table = opt + optionalSize;
    for (unsigned i = 0; i < sectionCount; ++i) {
        const size_t s = table + 40 * i;
        Need(file_, s, 40);
        Section section;
        for (size_t k = 0; k < 8 && file_[s + k]; ++k)
            section.name += static_cast<char>(file_[s + k]);
        section.virtualSize = Read32(file_, s + 8);
        section.virtualAddress = Read32(file_, s + 12);
        section.rawSize = Read32(file_, s + 16);
        section.rawOffset = Read32(file_, s + 20);
        section.characteristics = Read32(file_, s + 36);
        section.headerOffset = s;
        sections_.push_back(section);
    }
    sectionTableEnd_ = table + 40 * sectionCount;
}

const Section* Image::SectionAt(uint32_t rva) const
{
    for (const Section& s : sections_)
        if (rva >= s.virtualAddress && rva - s.virtualAddress < std::max(s.virtualSize, s.rawSize))
            return &s;
    return nullptr;
}

uint32_t Image::DirectoryRva(int index) const
{
    return static_cast<uint32_t>(index) < directoryCount_ ? Read32(file_, directoriesOffset_ + 8 * index) : 0;
}

uint32_t Image::DirectorySize(int index) const
{
    return static_cast<uint32_t>(index) < directoryCount_ ? Read32(file_, directoriesOffset_ + 8 * index + 4)
                                                          : 0;
}

size_t Image::OffsetOf(uint32_t rva, uint32_t size) const
{
    for (const Section& s : sections_) {
        if (rva < s.virtualAddress)
            continue;
        const uint64_t delta = rva - s.virtualAddress;
        if (delta + size <= s.rawSize) {
            const size_t offset = s.rawOffset + static_cast<size_t>(delta);
            Need(file_, offset, size);
            return offset;
        }
    }
    throw FormatError("RVA " + std::to_string(rva) + " (+" + std::to_string(size) +
                      ") is not in the file data of any section");
}

std::string Image::ReadAsciiz(size_t offset) const
{
    std::string s;
    for (;; ++offset) {
        Need(file_, offset, 1);
        if (file_[offset] == 0)
            return s;
        s += static_cast<char>(file_[offset]);
    }
}

std::vector<Import> Image::Imports() const
{
    std::vector<Import> imports;
    const uint32_t rva = DirectoryRva(1);
    if (rva == 0)
        return imports;
    for (uint32_t entry = rva;; entry += 20) {
        const size_t d = OffsetOf(entry, 20);
        bool empty = true;
        for (size_t k = 0; k < 20; ++k)
            empty = empty && file_[d + k] == 0;
        if (empty)
            return imports;
        Import import;
        import.nameOffset = OffsetOf(Read32(file_, d + 12), 1);
        import.dll = ReadAsciiz(import.nameOffset);
        imports.push_back(import);
        if (imports.size() > 1000)
            throw FormatError("import directory has no end");
    }
}

std::vector<Resource> Image::Resources() const
{
    std::vector<Resource> resources;
    const uint32_t rootRva = DirectoryRva(2);
    if (rootRva == 0)
        return resources;
    const size_t root = OffsetOf(rootRva, 16);

    struct Entry {
        ResourceKey key;
        uint32_t target;  // with HighBit: a subdirectory
        size_t offset;
    };
    auto entries = [&](uint32_t dirOffset) {
        const size_t dir = root + dirOffset;
        const unsigned named = Read16(file_, dir + 12);
        const unsigned ids = Read16(file_, dir + 14);
        std::vector<Entry> list;
        for (unsigned i = 0; i < named + ids; ++i) {
            const size_t e = dir + 16 + 8 * i;
            Entry entry;
            entry.offset = e;
            const uint32_t name = Read32(file_, e);
            entry.target = Read32(file_, e + 4);
            if (name & HighBit) {
                const size_t s = root + (name & ~HighBit);
                const unsigned length = Read16(file_, s);
                entry.key.isId = false;
                for (unsigned k = 0; k < length; ++k)
                    entry.key.name += static_cast<char16_t>(Read16(file_, s + 2 + 2 * k));
            } else {
                if (name > 0xFFFF)
                    throw FormatError("resource id " + std::to_string(name) + " does not fit 16 bits");
                entry.key.id = static_cast<uint16_t>(name);
            }
            if (entry.key.isId != (i >= named))
                throw FormatError("resource directory mixes up named and numbered entries");
            list.push_back(entry);
        }
        return list;
    };
    auto subdirectory = [&](const Entry& e) {
        if (!(e.target & HighBit))
            throw FormatError("resource entry " + e.key.Text() + " should lead to a directory");
        return e.target & ~HighBit;
    };

    for (const Entry& type : entries(0)) {
        for (const Entry& name : entries(subdirectory(type))) {
            for (const Entry& lang : entries(subdirectory(name))) {
                if (lang.target & HighBit)
                    throw FormatError("resource " + type.key.Text() + "/" + name.key.Text() +
                                      " nests deeper than three levels");
                if (!lang.key.isId)
                    throw FormatError("resource language given as a string");
                const size_t dataEntry = root + lang.target;
                Resource r;
                r.type = type.key;
                r.name = name.key;
                r.language = lang.key.id;
                r.languageEntryOffset = lang.offset;
                r.dataRva = Read32(file_, dataEntry);
                r.size = Read32(file_, dataEntry + 4);
                r.dataOffset = OffsetOf(r.dataRva, r.size);
                r.data.assign(file_.begin() + r.dataOffset, file_.begin() + r.dataOffset + r.size);
                resources.push_back(std::move(r));
            }
        }
    }
    return resources;
}

}  // namespace pe
