#include "branding.h"

#include <algorithm>
#include <set>
#include <vector>

#include "pe_resources.h"
#include "platform.h"
#include "zip_format.h"

namespace sfx {

namespace {

const char PngSignature[] = "\x89PNG\r\n\x1A\n";
const char16_t StringTableKey[] = u"000004B0";  // neutral language, UTF-16 (code page 1200)
const uint32_t Translation = 0x04B00000;        // the same: language 0, code page 1200
// Seven images up to 256x256 as bitmaps take some 400 KB; a file this
// large is no icon.
const uint64_t MaxIconFileSize = 16 << 20;

struct IconImage {
    unsigned width = 0, height = 0, bits = 0;
    std::string data;
};

// ---------------------------------------------------------------- texts

// UTF-8 to UTF-16; false for anything that is not well-formed UTF-8.
bool Utf16FromUtf8(const std::string& in, std::u16string& out)
{
    out.clear();
    for (size_t i = 0; i < in.size();) {
        uint8_t c = (uint8_t)in[i];
        unsigned length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        if (length == 0 || in.size() - i < length)
            return false;
        uint32_t code = length == 1 ? c : c & (0x7F >> length);
        for (unsigned k = 1; k < length; k++) {
            uint8_t next = (uint8_t)in[i + k];
            if ((next & 0xC0) != 0x80)
                return false;
            code = code << 6 | (next & 0x3F);
        }
        static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        if (code >= 0x10000) {
            out += (char16_t)(0xD800 + ((code - 0x10000) >> 10));
            out += (char16_t)(0xDC00 + (code & 0x3FF));
        } else {
            out += (char16_t)code;
        }
        i += length;
    }
    return true;
}

// UTF-16 to UTF-8 for showing; an unpaired surrogate shows as U+FFFD.
std::string Utf8FromUtf16(const std::u16string& in)
{
    std::string out;
    for (size_t i = 0; i < in.size(); i++) {
        uint32_t code = in[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF)
            code = 0x10000 + ((code - 0xD800) << 10) + (in[++i] - 0xDC00);
        else if (code >= 0xD800 && code <= 0xDFFF)
            code = 0xFFFD;
        if (code < 0x80) {
            out += (char)code;
        } else if (code < 0x800) {
            out += (char)(0xC0 | code >> 6);
            out += (char)(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += (char)(0xE0 | code >> 12);
            out += (char)(0x80 | (code >> 6 & 0x3F));
            out += (char)(0x80 | (code & 0x3F));
        } else {
            out += (char)(0xF0 | code >> 18);
            out += (char)(0x80 | (code >> 12 & 0x3F));
            out += (char)(0x80 | (code >> 6 & 0x3F));
            out += (char)(0x80 | (code & 0x3F));
        }
    }
    return out;
}

std::u16string Utf16(const std::string& text, const std::string& what)
{
    std::u16string out;
    if (!Utf16FromUtf8(text, out))
        throw Failure(what + " is not UTF-8 text");
    return out;
}

std::string VersionText(const uint16_t v[4])
{
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

// ---------------------------------------------------------------- icons

// The images of an .ico file, each checked against its directory entry.
std::vector<IconImage> ReadIconFile(const std::string& path)
{
    InputFile file(path);
    auto bad = [&](const std::string& why) {
        return Failure(path + " is not an icon file the extractor can show: " + why);
    };
    if (file.Size() > MaxIconFileSize)
        throw bad("it has " + std::to_string(file.Size()) + " bytes");
    std::string ico((size_t)file.Size(), '\0');
    file.ReadAt(0, &ico[0], ico.size());
    if (ico.size() < 6 || Get16(&ico[0]) != 0 || (Get16(&ico[2]) != 1 && Get16(&ico[2]) != 2))
        throw bad("no icon directory at its start");
    if (Get16(&ico[2]) == 2)
        throw bad("it holds cursors");
    unsigned count = Get16(&ico[4]);
    if (count == 0)
        throw bad("it holds no image");
    if (ico.size() < 6 + 16 * (size_t)count)
        throw bad("its directory is cut short");

    std::vector<IconImage> images;
    for (unsigned i = 0; i < count; i++) {
        const char* entry = &ico[6 + 16 * i];
        std::string which = "image " + std::to_string(i + 1) + ": ";
        uint32_t size = Get32(entry + 8), offset = Get32(entry + 12);
        if (size == 0 || offset < 6 + 16 * count || offset > ico.size() || size > ico.size() - offset)
            throw bad(which + "its data lie outside the file");
        IconImage image;
        image.width = (uint8_t)entry[0] ? (uint8_t)entry[0] : 256;
        image.height = (uint8_t)entry[1] ? (uint8_t)entry[1] : 256;
        image.data = ico.substr(offset, size);
        const std::string& d = image.data;
        std::string declared = std::to_string(image.width) + "x" + std::to_string(image.height);
        if (d.compare(0, 8, PngSignature) == 0) {
            // The IHDR chunk comes first: size, type, width, height, depth, colour type.
            if (d.size() < 8 + 8 + 13 || d.compare(12, 4, "IHDR") != 0)
                throw bad(which + "a PNG image without its header");
            auto be32 = [&](size_t at) {
                return (uint32_t)(uint8_t)d[at] << 24 | (uint32_t)(uint8_t)d[at + 1] << 16 |
                       (uint32_t)(uint8_t)d[at + 2] << 8 | (uint8_t)d[at + 3];
            };
            if (be32(16) != image.width || be32(20) != image.height)
                throw bad(which + "a PNG image of " + std::to_string(be32(16)) + "x" + std::to_string(be32(20)) +
                          " where the directory says " + declared);
            static const unsigned channels[] = {1, 0, 3, 1, 2, 0, 4};
            unsigned type = (uint8_t)d[25];
            if (type > 6 || channels[type] == 0)
                throw bad(which + "a PNG image of unknown colour type " + std::to_string(type));
            image.bits = (uint8_t)d[24] * channels[type];
        } else {
            // A device-independent bitmap: header, palette, colour image and
            // the AND mask, which doubles the height.
            if (d.size() < 40)
                throw bad(which + "a bitmap without its header");
            uint32_t header = Get32(&d[0]);
            int32_t width = (int32_t)Get32(&d[4]), height = (int32_t)Get32(&d[8]);
            image.bits = Get16(&d[14]);
            if (header != 40 && header != 108 && header != 124)
                throw bad(which + "neither a bitmap nor a PNG image");
            if (width != (int32_t)image.width || height != 2 * (int32_t)image.height)
                throw bad(which + "a bitmap of " + std::to_string(width) + "x" + std::to_string(height / 2) +
                          " where the directory says " + declared);
            if (Get16(&d[12]) != 1 || Get32(&d[16]) != 0 ||
                (image.bits != 1 && image.bits != 4 && image.bits != 8 && image.bits != 24 && image.bits != 32))
                throw bad(which + "a bitmap of a kind icons do not use (" + std::to_string(image.bits) +
                          " bits per pixel, compression " + std::to_string(Get32(&d[16])) + ")");
            uint64_t colours = image.bits <= 8 ? (Get32(&d[32]) ? Get32(&d[32]) : 1u << image.bits) : 0;
            uint64_t colourRow = ((uint64_t)image.width * image.bits + 31) / 32 * 4;
            uint64_t maskRow = ((uint64_t)image.width + 31) / 32 * 4;
            uint64_t needed = header + 4 * colours + (colourRow + maskRow) * image.height;
            if (d.size() < needed)
                throw bad(which + "a bitmap of " + std::to_string(d.size()) + " bytes where its header asks for " +
                          std::to_string(needed));
        }
        images.push_back(std::move(image));
    }
    return images;
}

bool IsType(const Resource& r, uint16_t type)
{
    return r.type.isId && r.type.id == type;
}

std::vector<uint16_t> GroupImageIds(const std::string& group)
{
    std::vector<uint16_t> ids;
    unsigned count = group.size() >= 6 ? Get16(&group[4]) : 0;
    for (unsigned i = 0; i < count && 6 + 14 * (i + 1) <= group.size(); i++)
        ids.push_back(Get16(&group[6 + 14 * i + 12]));
    return ids;
}

// The first icon group in directory order: the one Explorer shows.
Resource* MainIconGroup(std::vector<Resource>& resources)
{
    for (Resource& r : resources)
        if (IsType(r, ResourceGroupIcon))
            return &r;
    return nullptr;
}

// The main group gets the new images; images that only it used go, and
// their numbers are taken again first.
void ReplaceMainIcon(std::vector<Resource>& resources, const std::vector<IconImage>& images)
{
    Resource* group = MainIconGroup(resources);
    if (group == nullptr)
        throw Failure("the extractor has no icon to replace");
    const ResourceKey groupName = group->name;
    const uint16_t language = group->language;
    std::vector<uint16_t> old = GroupImageIds(group->data);
    std::set<uint16_t> kept;
    for (const Resource& r : resources)
        if (IsType(r, ResourceGroupIcon) && !(r.name == groupName))
            for (uint16_t id : GroupImageIds(r.data))
                kept.insert(id);
    std::set<uint16_t> freed;
    for (uint16_t id : old)
        if (!kept.count(id))
            freed.insert(id);
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [&](const Resource& r) {
                                       return IsType(r, ResourceIcon) && r.name.isId && freed.count(r.name.id);
                                   }),
                    resources.end());
    std::set<uint16_t> used;
    uint16_t highest = 0;
    for (const Resource& r : resources) {
        if (IsType(r, ResourceIcon) && r.name.isId) {
            used.insert(r.name.id);
            highest = std::max(highest, r.name.id);
        }
    }
    for (uint16_t id : freed)
        highest = std::max(highest, id);

    std::string directory;
    Put16(directory, 0);
    Put16(directory, 1);
    Put16(directory, (uint32_t)images.size());
    auto reuse = freed.begin();
    for (const IconImage& image : images) {
        uint16_t id;
        if (reuse != freed.end()) {
            id = *reuse++;
        } else {
            if (highest == 0xFFFF)
                throw Failure("no free number for another icon image");
            id = ++highest;
        }
        directory += (char)(image.width & 0xFF);
        directory += (char)(image.height & 0xFF);
        directory += (char)(image.bits < 8 ? 1 << image.bits : 0);
        directory += '\0';
        Put16(directory, 1);
        Put16(directory, image.bits);
        Put32(directory, (uint32_t)image.data.size());
        Put16(directory, id);
        Resource r;
        r.type = ResourceKey{true, ResourceIcon, {}};
        r.name = ResourceKey{true, id, {}};
        r.language = language;
        r.data = image.data;
        resources.push_back(std::move(r));
    }
    MainIconGroup(resources)->data = directory;
}

// ---------------------------------------------------------------- version

void PadTo4(std::string& b)
{
    while (b.size() % 4)
        b += '\0';
}

void PutText(std::string& b, const std::u16string& text)
{
    for (char16_t c : text)
        Put16(b, c);
    Put16(b, 0);
}

// One node of a version resource: length, value length, type (1 text,
// 0 binary), the key, the value and the children, each on a 4-byte boundary.
std::string VersionNode(const std::u16string& key, const std::string& value, uint32_t valueLength, bool text,
                        const std::vector<std::string>& children = {})
{
    std::string b(2, '\0');
    Put16(b, valueLength);
    Put16(b, text ? 1 : 0);
    PutText(b, key);
    PadTo4(b);
    b += value;
    for (const std::string& child : children) {
        PadTo4(b);
        b += child;
    }
    // Every length in the tree is 16 bits wide, the whole tree's too.
    if (b.size() > 0xFFFF)
        throw Failure("the version information takes more than the 65535 bytes that its format allows; "
                      "shorten its texts");
    b[0] = (char)(b.size() & 0xFF);
    b[1] = (char)(b.size() >> 8);
    return b;
}

std::string VersionResource(const Branding& brand, const std::string& fileName)
{
    const uint16_t* v = brand.version;
    std::string fixed;
    Put32(fixed, 0xFEEF04BD);                 // signature
    Put32(fixed, 0x00010000);                 // structure version 1.0
    for (int twice = 0; twice < 2; twice++) { // file version, product version
        Put32(fixed, (uint32_t)v[0] << 16 | v[1]);
        Put32(fixed, (uint32_t)v[2] << 16 | v[3]);
    }
    Put32(fixed, 0x3F);                       // flags mask
    Put32(fixed, 0);                          // flags: none
    Put32(fixed, 0x00040004);                 // VOS_NT_WINDOWS32
    Put32(fixed, 1);                          // VFT_APP
    Put32(fixed, 0);                          // subtype
    Put32(fixed, 0);                          // date
    Put32(fixed, 0);

    const std::u16string version = Utf16(VersionText(v), "the version");
    const std::pair<const char16_t*, std::u16string> fields[] = {
        {u"CompanyName", Utf16(brand.company, "--company")},
        {u"FileDescription", Utf16(brand.description, "--description")},
        {u"FileVersion", version},
        {u"LegalCopyright", Utf16(brand.copyright, "--copyright")},
        {u"OriginalFilename", Utf16(fileName, "the output's name " + fileName)},
        {u"ProductName", Utf16(brand.product, "--product")},
        {u"ProductVersion", version},
    };
    std::vector<std::string> strings;
    for (const auto& field : fields) {
        if (field.second.empty())
            continue;
        std::string value;
        PutText(value, field.second);
        strings.push_back(VersionNode(field.first, value, (uint32_t)field.second.size() + 1, true));
    }
    std::string translation;
    Put32(translation, Translation);
    std::string table = VersionNode(StringTableKey, "", 0, true, strings);
    std::string variable = VersionNode(u"Translation", translation, 4, false);
    return VersionNode(u"VS_VERSION_INFO", fixed, (uint32_t)fixed.size(), false,
                       {VersionNode(u"StringFileInfo", "", 0, true, {table}),
                        VersionNode(u"VarFileInfo", "", 0, true, {variable})});
}

// A version resource read back: every node with its key, value and children.
struct VersionTree {
    std::u16string key;
    std::string value;
    bool text = false;
    std::vector<VersionTree> children;
};

VersionTree ReadVersionNode(const std::string& data, size_t start, size_t end, int depth)
{
    auto bad = []() { return Failure("damaged version information"); };
    if (depth > 4 || end - start < 6)
        throw bad();
    size_t length = Get16(&data[start]);
    if (length < 6 || length > end - start)
        throw bad();
    end = start + length;
    VersionTree node;
    size_t valueLength = Get16(&data[start + 2]);
    node.text = Get16(&data[start + 4]) == 1;
    size_t at = start + 6;
    for (; at + 2 <= end && Get16(&data[at]) != 0; at += 2)
        node.key += (char16_t)Get16(&data[at]);
    at += 2;
    at = (at + 3) & ~(size_t)3;
    // Text values are counted in characters, binary ones in bytes.
    size_t valueBytes = std::min(node.text ? 2 * valueLength : valueLength, end > at ? end - at : 0);
    if (at < end)
        node.value = data.substr(at, valueBytes);
    // A child shorter than 6 bytes throws, so each step moves on.
    for (at = (at + valueBytes + 3) & ~(size_t)3; at + 6 <= end; at = (at + Get16(&data[at]) + 3) & ~(size_t)3)
        node.children.push_back(ReadVersionNode(data, at, end, depth + 1));
    return node;
}

std::string TextValue(const std::string& value)
{
    std::u16string text;
    for (size_t i = 0; i + 1 < value.size() && Get16(&value[i]) != 0; i += 2)
        text += (char16_t)Get16(&value[i]);
    return Utf8FromUtf16(text);
}

std::string PackedVersion(const std::string& fixed, size_t at)
{
    uint32_t high = Get32(&fixed[at]), low = Get32(&fixed[at + 4]);
    return std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) + "." + std::to_string(low >> 16) + "." +
           std::to_string(low & 0xFFFF);
}

void ShowVersion(const std::string& data, FILE* out)
{
    VersionTree root = ReadVersionNode(data, 0, data.size(), 0);
    if (root.value.size() >= 52 && Get32(&root.value[0]) == 0xFEEF04BD)
        std::fprintf(out, "  version: file %s, product %s\n", PackedVersion(root.value, 8).c_str(),
                     PackedVersion(root.value, 16).c_str());
    else
        std::fprintf(out, "  version: no fixed version numbers\n");
    for (const VersionTree& block : root.children) {
        for (const VersionTree& table : block.children) {
            if (block.key == u"StringFileInfo") {
                for (const VersionTree& field : table.children)
                    std::fprintf(out, "    %-17s \"%s\"\n", Utf8FromUtf16(field.key).c_str(),
                                 TextValue(field.value).c_str());
            } else if (table.value.size() >= 4) {
                uint32_t pair = Get32(&table.value[0]);
                std::fprintf(out, "    %-17s language 0x%04X, code page %u\n", Utf8FromUtf16(table.key).c_str(),
                             pair & 0xFFFF, pair >> 16);
            }
        }
    }
}

}  // namespace

bool Branding::Any() const
{
    return !icon.empty() || versioned;
}

bool ParseVersion(const std::string& text, uint16_t version[4])
{
    size_t at = 0;
    for (int part = 0; part < 4; part++) {
        if (part > 0 && (at >= text.size() || text[at++] != '.'))
            return false;
        uint32_t value = 0;
        size_t digits = 0;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 6; at++, digits++)
            value = value * 10 + (uint32_t)(text[at] - '0');
        if (digits == 0 || value > 0xFFFF)
            return false;
        version[part] = (uint16_t)value;
    }
    return at == text.size();
}

std::string BrandStub(const std::string& stub, const std::string& stubLabel, const Branding& branding,
                      const std::string& fileName)
{
    PeImage image(stub, stubLabel);
    std::vector<Resource> resources = image.Resources();
    if (!branding.icon.empty())
        ReplaceMainIcon(resources, ReadIconFile(branding.icon));
    if (branding.versioned) {
        std::string data = VersionResource(branding, fileName);
        resources.erase(std::remove_if(resources.begin(), resources.end(),
                                       [](const Resource& r) { return IsType(r, ResourceVersion); }),
                        resources.end());
        Resource r;
        r.type = ResourceKey{true, ResourceVersion, {}};
        r.name = ResourceKey{true, 1, {}};
        r.data = data;
        resources.push_back(std::move(r));
    }
    return image.WithResources(resources);
}

void ShowBranding(const std::string& stub, FILE* out)
{
    try {
        std::vector<Resource> resources = PeImage(stub, "the extractor").Resources();
        // Every icon group in directory order; Explorer shows the first.
        bool any = false;
        for (const Resource& group : resources) {
            if (!IsType(group, ResourceGroupIcon))
                continue;
            std::string sizes;
            const std::string& d = group.data;
            std::vector<uint16_t> ids = GroupImageIds(d);
            for (size_t i = 0; i < ids.size(); i++) {
                const char* e = &d[6 + 14 * i];
                const Resource* image = nullptr;
                for (const Resource& r : resources)
                    if (IsType(r, ResourceIcon) && r.name.isId && r.name.id == ids[i])
                        image = &r;
                unsigned width = (uint8_t)e[0] ? (uint8_t)e[0] : 256, height = (uint8_t)e[1] ? (uint8_t)e[1] : 256;
                sizes += (i ? ", " : "") + std::to_string(width) + "x" + std::to_string(height) + " " +
                         std::to_string(Get16(e + 6)) + "-bit" +
                         (image == nullptr                                ? " (missing)"
                          : image->data.compare(0, 8, PngSignature) == 0 ? " PNG"
                                                                          : "");
            }
            std::fprintf(out, "  icon %s: %s%s\n", KeyText(group.name).c_str(), sizes.c_str(),
                         any ? "" : " (the file's icon)");
            any = true;
        }
        if (!any)
            std::fprintf(out, "  icon: none\n");
        const Resource* version = nullptr;
        for (const Resource& r : resources)
            if (IsType(r, ResourceVersion))
                version = &r;
        if (version == nullptr)
            std::fprintf(out, "  version: none\n");
        else
            ShowVersion(version->data, out);
    } catch (const Failure& f) {
        std::fprintf(out, "  resources: %s\n", f.what());
    }
}

}  // namespace sfx
