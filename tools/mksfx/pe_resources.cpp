#include "pe_resources.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "zip_format.h"

namespace sfx {

namespace {

// Resource directory entries mark a name or a subdirectory with the top bit;
// the rest is an offset from the start of the resource section.
constexpr uint32_t HighBit = 0x80000000u;
constexpr size_t DirectorySize = 16, EntrySize = 8, DataEntrySize = 16;
constexpr size_t SectionHeaderSize = 40;
constexpr unsigned ResourceDirectory = 2;
// Enough for any extractor; a tree past this is damaged.
constexpr size_t MaxResources = 4096;

uint32_t Align(uint32_t value, uint32_t alignment)
{
    return (value + alignment - 1) & ~(alignment - 1);
}

bool PowerOfTwo(uint32_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

void Set16(std::string& b, size_t offset, uint32_t v)
{
    b[offset] = (char)(v & 0xFF);
    b[offset + 1] = (char)(v >> 8 & 0xFF);
}

void Set32(std::string& b, size_t offset, uint32_t v)
{
    Set16(b, offset, v & 0xFFFF);
    Set16(b, offset + 2, v >> 16);
}

auto Order(const ResourceKey& k)
{
    return std::make_tuple(k.isId, k.id, k.name);
}

}  // namespace

bool operator<(const ResourceKey& a, const ResourceKey& b)
{
    return Order(a) < Order(b);
}

bool operator==(const ResourceKey& a, const ResourceKey& b)
{
    return Order(a) == Order(b);
}

std::string KeyText(const ResourceKey& key)
{
    if (key.isId)
        return "#" + std::to_string(key.id);
    std::string text;
    for (char16_t c : key.name)
        text += c >= 0x20 && c < 0x7F ? (char)c : '?';
    return text;
}

PeImage::PeImage(const std::string& bytes, const std::string& label) : bytes_(bytes), label_(label)
{
    auto fail = [&](const std::string& why) { return Failure(label_ + ": " + why); };
    auto need = [&](size_t offset, size_t size, const char* what) {
        if (offset > bytes_.size() || size > bytes_.size() - offset)
            throw fail(std::string(what) + " lies outside the file");
    };
    auto at16 = [&](size_t offset) { return Get16(&bytes_[offset]); };
    auto at32 = [&](size_t offset) { return Get32(&bytes_[offset]); };

    need(0, 64, "the MZ header");
    if (bytes_.compare(0, 2, "MZ") != 0)
        throw fail("not a Windows program");
    size_t pe = at32(0x3C);
    need(pe, 24, "the PE header");
    if (bytes_.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
        throw fail("not a PE image");
    sectionCount_ = at16(pe + 6);
    size_t optionalSize = at16(pe + 20);
    optional_ = pe + 24;
    need(optional_, optionalSize, "the optional header");
    uint16_t magic = optionalSize >= 2 ? at16(optional_) : 0;
    size_t countField = magic == 0x10B ? 92 : magic == 0x20B ? 108 : 0;
    if (countField == 0 || optionalSize < countField + 4)
        throw fail("neither a PE32 nor a PE32+ image");
    sectionAlignment_ = at32(optional_ + 32);
    fileAlignment_ = at32(optional_ + 36);
    if (!PowerOfTwo(fileAlignment_) || fileAlignment_ < 512 || !PowerOfTwo(sectionAlignment_) ||
        sectionAlignment_ < fileAlignment_)
        throw fail("unusual section or file alignment");
    uint32_t directoryCount = at32(optional_ + countField);
    directories_ = optional_ + countField + 4;
    if (directoryCount <= ResourceDirectory || directoryCount > (optionalSize - countField - 4) / 8)
        throw fail("no room for a resource directory entry");
    resourceRva_ = at32(directories_ + 8 * ResourceDirectory);
    resourceSize_ = at32(directories_ + 8 * ResourceDirectory + 4);
    sectionTable_ = optional_ + optionalSize;
    need(sectionTable_, SectionHeaderSize * sectionCount_, "the section table");

    // The resources must fill a section of their own that ends the image,
    // in memory and in the file.
    bool found = false;
    for (unsigned i = 0; i < sectionCount_; i++) {
        size_t s = sectionTable_ + SectionHeaderSize * i;
        if (at32(s + 12) == resourceRva_ && resourceRva_ != 0) {
            resourceSection_ = i;
            found = true;
        }
    }
    if (!found)
        throw fail("its resources do not begin a section of their own");
    size_t r = sectionTable_ + SectionHeaderSize * resourceSection_;
    resourceOffset_ = at32(r + 20);
    uint32_t rawSize = at32(r + 16);
    for (unsigned i = 0; i < sectionCount_; i++) {
        size_t s = sectionTable_ + SectionHeaderSize * i;
        bool laterData = at32(s + 16) != 0 && at32(s + 20) > resourceOffset_;
        if (i != resourceSection_ && (at32(s + 12) > resourceRva_ || laterData))
            throw fail("its resources are not its last section, so they cannot change size");
    }
    if (resourceOffset_ % fileAlignment_ != 0 || resourceSize_ > rawSize)
        throw fail("its resource section is not laid out as a linker writes it");
    need(resourceOffset_, rawSize, "the resource section");
    for (unsigned d = 0; d < directoryCount; d++) {
        uint32_t rva = at32(directories_ + 8 * d);
        if (d != ResourceDirectory && d != 4 && rva >= resourceRva_ && at32(directories_ + 8 * d + 4) != 0)
            throw fail("data directory " + std::to_string(d) + " lies in the resource section");
    }
}

std::vector<Resource> PeImage::Resources() const
{
    auto fail = [&](const std::string& why) { return Failure(label_ + ": damaged resources: " + why); };
    const std::string section = bytes_.substr(resourceOffset_, resourceSize_);
    auto need = [&](size_t offset, size_t size) {
        if (offset > section.size() || size > section.size() - offset)
            throw fail("an entry points outside the resource directory");
    };
    struct Item {
        ResourceKey key;
        uint32_t target;
    };
    auto read = [&](uint32_t offset) {
        need(offset, DirectorySize);
        unsigned named = Get16(&section[offset + 12]), ids = Get16(&section[offset + 14]);
        need(offset + DirectorySize, EntrySize * (named + ids));
        std::vector<Item> items;
        for (unsigned i = 0; i < named + ids; i++) {
            size_t e = offset + DirectorySize + EntrySize * i;
            uint32_t name = Get32(&section[e]);
            Item item;
            item.target = Get32(&section[e + 4]);
            if (name & HighBit) {
                uint32_t s = name & ~HighBit;
                need(s, 2);
                unsigned length = Get16(&section[s]);
                need(s + 2, 2 * length);
                item.key.isId = false;
                for (unsigned k = 0; k < length; k++)
                    item.key.name += (char16_t)Get16(&section[s + 2 + 2 * k]);
            } else if (name > 0xFFFF) {
                throw fail("an identifier over 65535");
            } else {
                item.key.id = (uint16_t)name;
            }
            items.push_back(item);
        }
        return items;
    };
    auto below = [&](const Item& item) {
        if (!(item.target & HighBit))
            throw fail(KeyText(item.key) + " should lead to a directory");
        return item.target & ~HighBit;
    };

    std::vector<Resource> resources;
    for (const Item& type : read(0)) {
        for (const Item& name : read(below(type))) {
            for (const Item& language : read(below(name))) {
                if ((language.target & HighBit) || !language.key.isId)
                    throw fail("a tree of more than three levels");
                need(language.target, DataEntrySize);
                uint32_t rva = Get32(&section[language.target]), size = Get32(&section[language.target + 4]);
                uint32_t at = rva - resourceRva_;
                if (rva < resourceRva_ || at > section.size() || size > section.size() - at)
                    throw fail("the data of " + KeyText(type.key) + "/" + KeyText(name.key) + " lie outside it");
                Resource r;
                r.type = type.key;
                r.name = name.key;
                r.language = language.key.id;
                r.codePage = Get32(&section[language.target + 8]);
                r.data = section.substr(at, size);
                resources.push_back(std::move(r));
                if (resources.size() > MaxResources)
                    throw fail("too many entries");
            }
        }
    }
    return resources;
}

namespace {

// A resource section for these resources at `rva`: the three levels of
// directories, the data entries, the names, then each resource's data on an
// 8-byte boundary.
std::string BuildSection(std::vector<Resource> resources, uint32_t rva)
{
    std::stable_sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
        return std::tie(a.type, a.name, a.language) < std::tie(b.type, b.name, b.language);
    });
    // type -> name -> indices into resources
    std::map<ResourceKey, std::map<ResourceKey, std::vector<size_t>>> tree;
    for (size_t i = 0; i < resources.size(); i++) {
        std::vector<size_t>& languages = tree[resources[i].type][resources[i].name];
        if (!languages.empty() && resources[languages.back()].language == resources[i].language)
            throw Failure("resource " + KeyText(resources[i].type) + "/" + KeyText(resources[i].name) +
                          " twice in one language");
        languages.push_back(i);
    }

    // Where everything goes.
    size_t directoryBytes = DirectorySize + EntrySize * tree.size();
    for (const auto& type : tree) {
        directoryBytes += DirectorySize + EntrySize * type.second.size();
        for (const auto& name : type.second)
            directoryBytes += DirectorySize + EntrySize * name.second.size();
    }
    const size_t dataEntries = directoryBytes;
    size_t stringBytes = 0;
    std::map<std::u16string, size_t> strings;
    auto addString = [&](const ResourceKey& key) {
        if (!key.isId && strings.emplace(key.name, dataEntries + DataEntrySize * resources.size() + stringBytes).second)
            stringBytes += 2 + 2 * key.name.size();
    };
    for (const auto& type : tree) {
        addString(type.first);
        for (const auto& name : type.second)
            addString(name.first);
    }
    size_t end = dataEntries + DataEntrySize * resources.size() + stringBytes;
    std::vector<size_t> dataOffsets;
    for (const Resource& r : resources) {
        end = Align((uint32_t)end, 8);
        dataOffsets.push_back(end);
        end += r.data.size();
    }

    std::string out(end, '\0');
    size_t nextDirectory = 0;
    auto writeDirectory = [&](size_t entries) {
        size_t at = nextDirectory;
        Set16(out, at + 14, (uint32_t)entries);  // corrected below for named entries
        nextDirectory += DirectorySize + EntrySize * entries;
        return at;
    };
    auto writeEntry = [&](size_t directory, size_t index, const ResourceKey& key, uint32_t target) {
        size_t e = directory + DirectorySize + EntrySize * index;
        if (key.isId) {
            Set32(out, e, key.id);
        } else {
            Set32(out, e, (uint32_t)strings[key.name] | HighBit);
            Set16(out, directory + 12, Get16(&out[directory + 12]) + 1);
            Set16(out, directory + 14, Get16(&out[directory + 14]) - 1);
        }
        Set32(out, e + 4, target);
    };

    // Breadth first: the root, the name directories of every type, then the
    // language directories of every name.
    size_t root = writeDirectory(tree.size());
    std::vector<size_t> typeDirectories;
    size_t t = 0;
    for (const auto& type : tree) {
        size_t d = writeDirectory(type.second.size());
        typeDirectories.push_back(d);
        writeEntry(root, t++, type.first, (uint32_t)d | HighBit);
    }
    t = 0;
    for (const auto& type : tree) {
        size_t n = 0;
        for (const auto& name : type.second) {
            size_t d = writeDirectory(name.second.size());
            writeEntry(typeDirectories[t], n++, name.first, (uint32_t)d | HighBit);
            size_t l = 0;
            for (size_t i : name.second)
                writeEntry(d, l++, ResourceKey{true, resources[i].language, {}},
                           (uint32_t)(dataEntries + DataEntrySize * i));
        }
        t++;
    }
    for (size_t i = 0; i < resources.size(); i++) {
        size_t e = dataEntries + DataEntrySize * i;
        Set32(out, e, rva + (uint32_t)dataOffsets[i]);
        Set32(out, e + 4, (uint32_t)resources[i].data.size());
        Set32(out, e + 8, resources[i].codePage);
        out.replace(dataOffsets[i], resources[i].data.size(), resources[i].data);
    }
    for (const auto& s : strings) {
        Set16(out, s.second, (uint32_t)s.first.size());
        for (size_t k = 0; k < s.first.size(); k++)
            Set16(out, s.second + 2 + 2 * k, s.first[k]);
    }
    return out;
}

}  // namespace

std::string PeImage::WithResources(const std::vector<Resource>& resources) const
{
    std::string section = BuildSection(resources, resourceRva_);
    uint64_t rawEnd = (uint64_t)resourceOffset_ + Align((uint32_t)section.size(), fileAlignment_);
    if (rawEnd > 0xFFFFFFFFu || resourceRva_ + (uint64_t)section.size() > 0xFFFFFFFFu)
        throw Failure(label_ + ": the new resources take " + std::to_string(section.size()) +
                      " bytes, more than a PE image can hold");

    // The image up to its resources, the new section in whole file blocks,
    // then zeros up to the least length; nothing of the old section stays.
    std::string image = bytes_.substr(0, resourceOffset_);
    image += section;
    image.resize((size_t)rawEnd, '\0');
    size_t header = sectionTable_ + SectionHeaderSize * resourceSection_;
    uint32_t oldRaw = Get32(&image[header + 16]);
    uint32_t newRaw = Align((uint32_t)section.size(), fileAlignment_);
    Set32(image, header + 8, (uint32_t)section.size());
    Set32(image, header + 16, newRaw);
    Set32(image, directories_ + 8 * ResourceDirectory + 4, (uint32_t)section.size());
    Set32(image, optional_ + 56, Align(resourceRva_ + (uint32_t)section.size(), sectionAlignment_));
    const uint32_t InitialisedData = 0x00000040;
    if (Get32(&image[header + 36]) & InitialisedData)
        Set32(image, optional_ + 8, Get32(&image[optional_ + 8]) - oldRaw + newRaw);
    image.resize((size_t)StubLength(image), '\0');
    return image;
}

uint64_t ImageEnd(const std::string& bytes)
{
    if (bytes.size() < 64 || bytes.compare(0, 2, "MZ") != 0)
        return 0;
    size_t pe = Get32(&bytes[0x3C]);
    if (pe > bytes.size() || bytes.size() - pe < 24 || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
        return 0;
    size_t table = pe + 24 + Get16(&bytes[pe + 20]);
    unsigned count = Get16(&bytes[pe + 6]);
    uint64_t end = 0;
    for (unsigned i = 0; i < count && table + SectionHeaderSize * (i + 1) <= bytes.size(); i++) {
        const char* s = &bytes[table + SectionHeaderSize * i];
        uint32_t rawSize = Get32(s + 16);
        if (rawSize != 0)
            end = std::max<uint64_t>(end, (uint64_t)Get32(s + 20) + rawSize);
    }
    return end;
}

uint64_t StubLength(const std::string& bytes)
{
    return std::max<uint64_t>(StubSizeMin, ImageEnd(bytes));
}

size_t ChecksumFieldOffset(const std::string& bytes)
{
    if (bytes.size() < 64 || bytes.compare(0, 2, "MZ") != 0)
        return 0;
    size_t pe = Get32(&bytes[0x3C]);
    if (pe > bytes.size() || bytes.size() - pe < 24 + 68 || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
        return 0;
    return pe + 24 + 64;
}

void PeChecksum::Add(const void* data, size_t count)
{
    const uint8_t* b = static_cast<const uint8_t*>(data);
    size_t i = 0;
    // Byte by byte near the field and to reach an even position, then by
    // words; the sum cannot overflow 64 bits below 2^48 bytes.
    auto one = [&]() {
        if (position_ - field_ >= 4)
            sum_ += (position_ & 1) ? (uint32_t)b[i] << 8 : b[i];
        i++;
        position_++;
    };
    while (i < count) {
        if ((position_ & 1) || (position_ + 8 > field_ && position_ < field_ + 4)) {
            one();
            continue;
        }
        size_t stop = count - i;
        if (position_ < field_)
            stop = std::min<uint64_t>(stop, field_ - position_) & ~(size_t)1;
        if (stop < 2) {
            one();
            continue;
        }
        stop &= ~(size_t)1;
        for (size_t k = 0; k < stop; k += 2)
            sum_ += b[i + k] | (uint32_t)b[i + k + 1] << 8;
        i += stop;
        position_ += stop;
    }
}

uint32_t PeChecksum::Finish() const
{
    uint64_t sum = sum_;
    while (sum > 0xFFFF)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return (uint32_t)(sum + position_);
}

uint32_t FileChecksum(InputFile& file, uint64_t fieldOffset, uint64_t length)
{
    PeChecksum checksum(fieldOffset);
    std::string buffer(1 << 20, '\0');
    for (uint64_t at = 0; at < length; at += buffer.size()) {
        size_t count = (size_t)std::min<uint64_t>(buffer.size(), length - at);
        file.ReadAt(at, &buffer[0], count);
        checksum.Add(buffer.data(), count);
    }
    return checksum.Finish();
}

}  // namespace sfx
