#include "stub_check.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <tuple>

#include "dialog_template.h"
#include "expected_resources.h"

namespace pe {

namespace {

std::string Hex(uint32_t v, int digits = 8)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, v);
    return buf;
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

template <typename T>
void Expect(Findings& findings, const std::string& what, T actual, T expected)
{
    if (actual != expected)
        findings.push_back(what + " is " + std::to_string(actual) + ", expected " + std::to_string(expected));
}

void ExpectHex(Findings& findings, const std::string& what, uint32_t actual, uint32_t expected, int digits = 8)
{
    if (actual != expected)
        findings.push_back(what + " is " + Hex(actual, digits) + ", expected " + Hex(expected, digits));
}

bool IsNamed(const Resource& r, uint16_t type, const std::string& name)
{
    return r.type.isId && r.type.id == type && !r.name.isId && r.name.name == Widen(name);
}

bool IsNumbered(const Resource& r, uint16_t type, uint16_t id)
{
    return r.type.isId && r.type.id == type && r.name.isId && r.name.id == id;
}

// The image numbers that an icon group names.
std::vector<uint16_t> GroupImageIds(const Bytes& group)
{
    std::vector<uint16_t> ids;
    const size_t count = group.size() >= 6 ? Read16(group, 4) : 0;
    for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= group.size(); ++i)
        ids.push_back(Read16(group, 6 + 14 * i + 12));
    return ids;
}

// The one resource of that type and name, or null with a finding.
const Resource* FindOne(const std::vector<Resource>& resources, const std::string& label,
                        const std::function<bool(const Resource&)>& match, Findings& findings)
{
    const Resource* found = nullptr;
    int count = 0;
    for (const Resource& r : resources) {
        if (match(r)) {
            found = &r;
            ++count;
        }
    }
    if (count == 0)
        findings.push_back(label + " is missing");
    else if (count > 1)
        findings.push_back(label + " exists " + std::to_string(count) + " times (one per language?)");
    return count == 1 ? found : nullptr;
}

// The footer line holds a credit of our own wording: one line of plain text
// that fits the control. An average character is 4 dialog units wide.
void CheckCreditLine(const std::string& where, const SzOrOrd& text, int width, Findings& findings)
{
    if (text.isOrdinal || text.text.empty()) {
        findings.push_back(where + ": the credit line is empty");
        return;
    }
    for (char16_t c : text.text) {
        if (c < 0x20 || c >= 0x7F) {
            findings.push_back(where + ": the credit line \"" + Printable(text.text) +
                               "\" is not one line of plain text");
            return;
        }
    }
    if (static_cast<int>(text.text.size()) * 4 > width)
        findings.push_back(where + ": the credit line \"" + Printable(text.text) + "\" is wider than " +
                           std::to_string(width) + " dialog units");
}

void CheckDialog(const DialogRow& want, const Resource& res, Findings& findings)
{
    const std::string name = want.resource;
    if (res.dataRva % 4 != 0)
        findings.push_back(name + ": template data at RVA " + Hex(res.dataRva) +
                           " is not 4-byte aligned, so its records would not be either");
    DialogTemplate t;
    try {
        t = ParseDialogTemplate(res.data);
    } catch (const FormatError& e) {
        findings.push_back(name + ": unreadable template: " + e.what());
        return;
    }
    if (t.extended) {
        findings.push_back(name + ": is a DLGTEMPLATEEX, expected a standard DLGTEMPLATE");
        return;
    }
    ExpectHex(findings, name + " style", t.style, want.style);
    ExpectHex(findings, name + " extended style", t.exStyle, want.exStyle);
    Expect<int>(findings, name + " control count", t.itemCount, want.controlCount);
    Expect<int>(findings, name + " x", t.x, want.x);
    Expect<int>(findings, name + " y", t.y, want.y);
    Expect<int>(findings, name + " cx", t.cx, want.cx);
    Expect<int>(findings, name + " cy", t.cy, want.cy);
    if (t.menu.isOrdinal || !t.menu.text.empty())
        findings.push_back(name + ": has a menu " + t.menu.Describe());
    if (t.windowClass.isOrdinal || !t.windowClass.text.empty())
        findings.push_back(name + ": has its own window class " + t.windowClass.Describe());
    if (t.title != Widen(want.caption))
        findings.push_back(name + ": caption is \"" + Printable(t.title) + "\", expected \"" + want.caption + "\"");
    if (!t.hasFont) {
        findings.push_back(name + ": has no font (DS_SETFONT missing)");
    } else {
        Expect<int>(findings, name + " font size", t.pointSize, DialogPointSize);
        if (t.typeface != Widen(DialogTypeface))
            findings.push_back(name + ": font is \"" + Printable(t.typeface) + "\", expected \"" +
                               DialogTypeface + "\"");
    }
    if (t.end > res.data.size())
        findings.push_back(name + ": records run past the resource");
    else if (res.data.size() - t.end >= 4)
        findings.push_back(name + ": " + std::to_string(res.data.size() - t.end) +
                           " bytes follow the last control");

    const size_t n = std::min(t.items.size(), want.controls.size());
    for (size_t i = 0; i < n; ++i) {
        const DialogItem& got = t.items[i];
        const ControlRow& row = want.controls[i];
        const std::string where = name + " control " + std::to_string(row.number) + " (id " +
                                  std::to_string(row.id) + ")";
        Expect<int>(findings, where + " id", got.id, row.id);
        ExpectHex(findings, where + " style", got.style, row.style);
        ExpectHex(findings, where + " extended style", got.exStyle, 0);
        Expect<int>(findings, where + " x", got.x, row.x);
        Expect<int>(findings, where + " y", got.y, row.y);
        Expect<int>(findings, where + " cx", got.cx, row.cx);
        Expect<int>(findings, where + " cy", got.cy, row.cy);
        if (!got.windowClass.isOrdinal || got.windowClass.ordinal != row.windowClass)
            findings.push_back(where + ": class is " + got.windowClass.Describe() + ", expected atom " +
                               Hex(row.windowClass, 4));
        if (row.text == CreditLine) {
            CheckCreditLine(where, got.text, row.cx, findings);
        } else if (got.text.isOrdinal || got.text.text != Widen(row.text)) {
            findings.push_back(where + ": text is " + got.text.Describe() + ", expected \"" + row.text + "\"");
        }
        Expect<int>(findings, where + " creation data size", got.creationDataSize, 0);
    }
}

std::string ImageLabel(uint16_t id)
{
    return "icon image " + std::to_string(id);
}

// One RT_ICON image: a BITMAPINFOHEADER, the 16-colour palette, the colour
// image and the AND mask, nothing more; and a picture, not a blank.
void CheckIconImage(uint16_t id, int size, const Bytes& data, Findings& findings)
{
    const std::string label = ImageLabel(id);
    const size_t colourRow = (size * 4 + 31) / 32 * 4;
    const size_t maskRow = (size + 31) / 32 * 4;
    const size_t expectedSize = 40 + 16 * 4 + (colourRow + maskRow) * size;
    if (data.size() < 40 + 16 * 4) {
        findings.push_back(label + ": only " + std::to_string(data.size()) + " bytes");
        return;
    }
    Expect<uint32_t>(findings, label + " header size", Read32(data, 0), 40);
    Expect<int32_t>(findings, label + " width", static_cast<int32_t>(Read32(data, 4)), size);
    Expect<int32_t>(findings, label + " height (colour image and mask)", static_cast<int32_t>(Read32(data, 8)),
                    2 * size);
    Expect<int>(findings, label + " planes", Read16(data, 12), 1);
    Expect<int>(findings, label + " bits per pixel", Read16(data, 14), 4);
    Expect<uint32_t>(findings, label + " compression", Read32(data, 16), 0);
    const uint32_t coloursUsed = Read32(data, 32);
    if (coloursUsed != 0 && coloursUsed != 16)
        findings.push_back(label + ": palette of " + std::to_string(coloursUsed) + " colours, expected 16");
    for (int i = 0; i < 16; ++i) {
        const uint32_t rgb = data[40 + 4 * i + 2] << 16 | data[40 + 4 * i + 1] << 8 | data[40 + 4 * i];
        if (rgb != StandardPalette[i] || data[40 + 4 * i + 3] != 0)
            findings.push_back(label + ": palette entry " + std::to_string(i) + " is " + Hex(rgb, 6) +
                               ", expected " + Hex(StandardPalette[i], 6));
    }
    Expect<size_t>(findings, label + " size in bytes", data.size(), expectedSize);
    if (data.size() != expectedSize || Read16(data, 14) != 4)
        return;

    // A real picture has see-through pixels and several colours.
    const size_t colours = 40 + 16 * 4;
    const size_t mask = colours + colourRow * size;
    int transparent = 0;
    std::set<int> used;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const bool see = data[mask + y * maskRow + x / 8] & (0x80 >> (x % 8));
            const uint8_t pair = data[colours + y * colourRow + x / 2];
            const int index = x % 2 == 0 ? pair >> 4 : pair & 0x0F;
            if (see)
                ++transparent;
            else
                used.insert(index);
        }
    }
    if (transparent == 0 || transparent == size * size)
        findings.push_back(label + ": the mask leaves " + std::to_string(size * size - transparent) + " of " +
                           std::to_string(size * size) + " pixels opaque; expected a picture with a background");
    if (used.size() < 4)
        findings.push_back(label + ": uses " + std::to_string(used.size()) +
                           " colours; expected a picture, not a placeholder");
}


// The packager's images in the first group: any size and colour depth, as
// bitmaps or PNG images, each agreeing with its directory entry.
void CheckPackagersGroup(const std::vector<Resource>& resources, const Resource& group, Findings& findings)
{
    const std::string name = "icon group " + group.name.Text();
    const Bytes& d = group.data;
    const size_t count = d.size() >= 6 ? Read16(d, 4) : 0;
    if (count == 0 || d.size() != 6 + 14 * count || Read16(d, 0) != 0 || Read16(d, 2) != 1) {
        findings.push_back(name + ": not an icon directory of " + std::to_string(count) + " images (" +
                           std::to_string(d.size()) + " bytes)");
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const size_t e = 6 + 14 * i;
        const std::string where = name + " entry " + std::to_string(i + 1);
        const int width = d[e] ? d[e] : 256, height = d[e + 1] ? d[e + 1] : 256, bits = Read16(d, e + 6);
        const uint16_t id = Read16(d, e + 12);
        Expect<int>(findings, where + " planes", Read16(d, e + 4), 1);
        const Resource* image = FindOne(
            resources, ImageLabel(id), [&](const Resource& r) { return IsNumbered(r, RtIcon, id); }, findings);
        if (!image)
            continue;
        const Bytes& data = image->data;
        Expect<uint32_t>(findings, where + " image size", Read32(d, e + 8), image->size);
        static const uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        if (data.size() >= 24 && std::equal(std::begin(png), std::end(png), data.begin())) {
            auto be32 = [&](size_t at) {
                return static_cast<int>(data[at] << 24 | data[at + 1] << 16 | data[at + 2] << 8 | data[at + 3]);
            };
            if (be32(16) != width || be32(20) != height)
                findings.push_back(where + ": a PNG image of " + std::to_string(be32(16)) + "x" +
                                   std::to_string(be32(20)) + " under an entry of " + std::to_string(width) + "x" +
                                   std::to_string(height));
            continue;
        }
        if (data.size() < 40) {
            findings.push_back(ImageLabel(id) + ": neither a PNG image nor a bitmap");
            continue;
        }
        Expect<int32_t>(findings, ImageLabel(id) + " width", static_cast<int32_t>(Read32(data, 4)), width);
        Expect<int32_t>(findings, ImageLabel(id) + " height (colour image and mask)",
                        static_cast<int32_t>(Read32(data, 8)), 2 * height);
        Expect<int>(findings, where + " bits per pixel (as the image has them)", bits, Read16(data, 14));
        const size_t colours = bits <= 8 ? (Read32(data, 32) ? Read32(data, 32) : 1u << bits) : 0;
        const size_t needed = Read32(data, 0) + 4 * colours +
                              ((width * bits + 31) / 32 * 4 + (width + 31) / 32 * 4) * static_cast<size_t>(height);
        if (data.size() < needed)
            findings.push_back(ImageLabel(id) + ": " + std::to_string(data.size()) + " bytes, its header asks for " +
                               std::to_string(needed));
    }
}

uint32_t AlignUp(uint32_t value, uint32_t alignment)
{
    return alignment ? (value + alignment - 1) / alignment * alignment : value;
}

const char* const DirectoryNames[16] = {
    "export", "import", "resource", "exception", "certificate", "base relocation", "debug", "architecture",
    "global pointer", "TLS", "load configuration", "bound import", "import address", "delay import", "CLR",
    "reserved"};

// ---------------------------------------------------------------- version

// One node of a VERSIONINFO tree: length, value length, type, key, value,
// children, each on a 4-byte boundary of the resource.
struct VersionNode {
    std::u16string key;
    uint16_t valueLength = 0, type = 0;
    Bytes value;
    std::vector<VersionNode> children;
};

VersionNode ReadVersionNode(const Bytes& data, size_t start, size_t limit, const std::string& where,
                            Findings& findings, int depth = 0)
{
    VersionNode node;
    const size_t length = limit - start >= 6 ? Read16(data, start) : 0;
    if (length < 6 || length > limit - start || depth > 4) {
        findings.push_back(where + ": a node of " + std::to_string(length) + " bytes where " +
                           std::to_string(limit - start) + " remain");
        return node;
    }
    const size_t end = start + length;
    node.valueLength = Read16(data, start + 2);
    node.type = Read16(data, start + 4);
    size_t at = start + 6;
    for (; at + 2 <= end && Read16(data, at) != 0; at += 2)
        node.key += static_cast<char16_t>(Read16(data, at));
    at = AlignUp(static_cast<uint32_t>(at + 2), 4);
    const std::string label = where + " " + Printable(node.key);
    const size_t valueBytes = node.type == 1 ? 2u * node.valueLength : node.valueLength;
    if (at + valueBytes > end) {
        findings.push_back(label + ": its value runs past its end");
        return node;
    }
    node.value.assign(data.begin() + at, data.begin() + at + valueBytes);
    for (at = AlignUp(static_cast<uint32_t>(at + valueBytes), 4); at < end;) {
        node.children.push_back(ReadVersionNode(data, at, end, label, findings, depth + 1));
        const size_t child = Read16(data, at);
        if (child < 6)
            break;
        at = AlignUp(static_cast<uint32_t>(at + child), 4);
    }
    return node;
}

std::u16string TextOf(const VersionNode& node)
{
    std::u16string text;
    for (size_t i = 0; i + 1 < node.value.size() && Read16(node.value, i) != 0; i += 2)
        text += static_cast<char16_t>(Read16(node.value, i));
    return text;
}

std::string VersionFrom(const Bytes& fixed, size_t at)
{
    const uint32_t high = Read32(fixed, at), low = Read32(fixed, at + 4);
    return std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) + "." + std::to_string(low >> 16) + "." +
           std::to_string(low & 0xFFFF);
}

}  // namespace

void CheckHeaders(const Bytes& file, Arch arch, Findings& findings)
{
    try {
        const Image image(file);
        size_t end = 0;
        for (const Section& s : image.sections())
            if (s.rawSize != 0)
                end = std::max<size_t>(end, static_cast<size_t>(s.rawOffset) + s.rawSize);
        Expect<size_t>(findings, "file size", file.size(), std::max(end, StubSizeMin));
        if (std::any_of(file.begin() + std::min(end, file.size()), file.end(), [](uint8_t b) { return b != 0; }))
            findings.push_back("the padding behind the image, from offset " + std::to_string(end) +
                               ", is not all zeros");
        const bool x64 = arch == Arch::X64;
        ExpectHex(findings, "optional header magic (PE32 0x10B, PE32+ 0x20B)", image.magic(),
                  x64 ? MagicPe32Plus : MagicPe32, 4);
        ExpectHex(findings, "machine", image.machine(), x64 ? MachineAmd64 : MachineI386, 4);
        Expect<int>(findings, "subsystem (2 is the GUI)", image.subsystem(), 2);
    } catch (const FormatError& e) {
        findings.push_back(std::string("not a readable PE file: ") + e.what());
    }
}

void CheckLayout(const Bytes& file, Findings& findings)
{
    try {
        const Image image(file);
        const uint32_t fileAlign = image.fileAlignment(), sectionAlign = image.sectionAlignment();
        auto powerOfTwo = [](uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
        if (!powerOfTwo(fileAlign) || fileAlign < 512 || fileAlign > 65536)
            findings.push_back("file alignment " + Hex(fileAlign) + " is not a power of two from 512 to 64 KiB");
        if (!powerOfTwo(sectionAlign) || sectionAlign < 4096)
            findings.push_back("section alignment " + Hex(sectionAlign) +
                               " is less than a page: the loader could not protect sections apart");
        const uint32_t headers = image.sizeOfHeaders();
        if (headers % fileAlign != 0 || headers < image.sectionTableEnd())
            findings.push_back("SizeOfHeaders " + Hex(headers) + " does not cover the section table in whole blocks");
        const std::vector<Section>& sections = image.sections();
        uint32_t nextAddress = AlignUp(headers, sectionAlign);
        size_t rawEnd = headers;
        for (const Section& s : sections) {
            const std::string name = "section " + s.name;
            if (s.virtualAddress != nextAddress)
                findings.push_back(name + " begins at RVA " + Hex(s.virtualAddress) + ", expected " + Hex(nextAddress) +
                                   " right behind what comes before it");
            nextAddress = s.virtualAddress + AlignUp(std::max(s.virtualSize, 1u), sectionAlign);
            if (s.rawSize != 0) {
                if (s.rawOffset % fileAlign != 0 || s.rawSize % fileAlign != 0)
                    findings.push_back(name + ": its data at " + Hex(s.rawOffset) + " (" + Hex(s.rawSize) +
                                       " bytes) are not in whole file blocks");
                if (s.rawOffset < rawEnd)
                    findings.push_back(name + ": its data at " + Hex(s.rawOffset) + " overlap what comes before them");
                if (static_cast<uint64_t>(s.rawOffset) + s.rawSize > file.size())
                    findings.push_back(name + ": its data run past the end of the file");
                rawEnd = static_cast<size_t>(s.rawOffset) + s.rawSize;
            }
            if ((s.characteristics & ScnWrite) && (s.characteristics & ScnExecute))
                findings.push_back(name + " is both writable and executable");
        }
        ExpectHex(findings, "SizeOfImage", image.sizeOfImage(), nextAddress);

        for (int d = 0; d < static_cast<int>(std::min(image.directoryCount(), 16u)); ++d) {
            const uint32_t rva = image.DirectoryRva(d), size = image.DirectorySize(d);
            if (rva == 0 && size == 0)
                continue;
            const std::string what = std::string("the ") + DirectoryNames[d] + " directory";
            if (d == 4) {
                findings.push_back(what + " is there: only a finished file is signed");
                continue;
            }
            const Section* s = image.SectionAt(rva);
            if (!s || static_cast<uint64_t>(rva) + size > s->virtualAddress + std::max(s->virtualSize, s->rawSize))
                findings.push_back(what + " at RVA " + Hex(rva) + " (" + std::to_string(size) +
                                   " bytes) is not inside one section");
            else if (rva - s->virtualAddress + static_cast<uint64_t>(size) > std::min(s->virtualSize, s->rawSize))
                findings.push_back(what + " at RVA " + Hex(rva) + " is not all in the file");
        }
        if (sections.empty() || image.DirectoryRva(2) != sections.back().virtualAddress)
            findings.push_back("the resources are not the last section, so mksfx cannot rebuild them in place");
        const uint16_t dll = image.dllCharacteristics();
        if (!(dll & 0x0040))
            findings.push_back("DllCharacteristics lack DYNAMIC_BASE: no address randomisation");
        if (!(dll & 0x0100))
            findings.push_back("DllCharacteristics lack NX_COMPAT: no data execution prevention");
        if (image.DirectoryRva(5) == 0)
            findings.push_back("no base relocations: the image cannot be moved");
    } catch (const FormatError& e) {
        findings.push_back(std::string("layout unreadable: ") + e.what());
    }
}

void CheckRelocations(const Bytes& file, Arch arch, Findings& findings)
{
    try {
        const Image image(file);
        const uint32_t rva = image.DirectoryRva(5), size = image.DirectorySize(5);
        if (rva == 0)
            return;
        const size_t start = image.OffsetOf(rva, size), end = start + size;
        const Section* resources = image.SectionAt(image.DirectoryRva(2));
        const unsigned wanted = arch == Arch::X86 ? 3 : 10;  // HIGHLOW, DIR64
        const unsigned width = arch == Arch::X86 ? 4 : 8;
        for (size_t block = start; block < end;) {
            if (end - block < 8) {
                findings.push_back("a relocation block is cut short at the end of the directory");
                break;
            }
            const uint32_t page = Read32(file, block), blockSize = Read32(file, block + 4);
            const std::string where = "relocation block of page " + Hex(page);
            if (page % 4096 != 0)
                findings.push_back(where + ": not a page address");
            if (blockSize < 8 || blockSize % 4 != 0 || blockSize > end - block) {
                findings.push_back(where + ": a size of " + std::to_string(blockSize) + " bytes");
                break;
            }
            for (size_t e = block + 8; e < block + blockSize; e += 2) {
                const uint16_t entry = Read16(file, e);
                const uint32_t target = page + (entry & 0x0FFF);
                if (entry >> 12 == 0)
                    continue;  // padding
                if (entry >> 12 != wanted) {
                    findings.push_back("relocation at RVA " + Hex(target) + " has type " +
                                       std::to_string(entry >> 12) + ", expected " + std::to_string(wanted));
                    continue;
                }
                const Section* s = image.SectionAt(target);
                if (!s || target + width > s->virtualAddress + std::min(s->virtualSize, s->rawSize)) {
                    findings.push_back("relocation at RVA " + Hex(target) + " is not in the data of any section");
                    continue;
                }
                if (s == resources) {
                    findings.push_back("relocation at RVA " + Hex(target) +
                                       " lies in the resources, which mksfx rewrites");
                    continue;
                }
                const size_t at = s->rawOffset + (target - s->virtualAddress);
                uint64_t value = Read32(file, at);
                if (width == 8)
                    value |= static_cast<uint64_t>(Read32(file, at + 4)) << 32;
                if (value < image.imageBase() || value >= image.imageBase() + image.sizeOfImage())
                    findings.push_back("relocation at RVA " + Hex(target) + " holds an address outside the image");
            }
            block += blockSize;
        }
    } catch (const FormatError& e) {
        findings.push_back(std::string("relocations unreadable: ") + e.what());
    }
}

void CheckChecksum(const Bytes& file, Findings& findings)
{
    try {
        const Image image(file);
        ExpectHex(findings, "checksum", image.checksum(), FileChecksum(file, image.checksumOffset()));
    } catch (const FormatError& e) {
        findings.push_back(std::string("checksum unreadable: ") + e.what());
    }
}

void CheckImports(const Bytes& file, Findings& findings)
{
    static const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll"};
    try {
        const Image image(file);
        const std::vector<Import> imports = image.Imports();
        if (imports.empty())
            findings.push_back("imports no DLL at all; expected at least KERNEL32.dll");
        for (const Import& import : imports)
            if (!allowed.count(Lower(import.dll)))
                findings.push_back("imports " + import.dll +
                                   ", which is not a DLL that Windows always loads from the system folder");
        if (image.DirectoryRva(13) != 0)
            findings.push_back("has delay-load imports");
    } catch (const FormatError& e) {
        findings.push_back(std::string("imports unreadable: ") + e.what());
    }
}

std::vector<Resource> ReadResources(const Bytes& file, Findings& findings)
{
    try {
        return Image(file).Resources();
    } catch (const FormatError& e) {
        findings.push_back(std::string("resources unreadable: ") + e.what());
        return {};
    }
}

void CheckResourceSet(const std::vector<Resource>& resources, Kind kind, Findings& findings)
{
    std::set<std::pair<uint16_t, std::u16string>> expectedNamed;
    for (const DialogRow& d : ExpectedDialogs)
        expectedNamed.insert({RtDialog, Widen(d.resource)});
    // A stub's images are those of the tables; a branded stub's those that
    // its groups name, since the packager's replace the first group's.
    std::set<uint16_t> expectedIcons;
    for (const IconGroupRow& g : ExpectedIconGroups) {
        expectedNamed.insert({RtGroupIcon, Widen(g.resource)});
        for (const IconImageRow& i : g.images)
            if (kind == Kind::Stub)
                expectedIcons.insert(i.id);
    }
    if (kind == Kind::Branded)
        for (const Resource& r : resources)
            if (r.type.isId && r.type.id == RtGroupIcon)
                for (uint16_t id : GroupImageIds(r.data))
                    expectedIcons.insert(id);

    for (const Resource& r : resources) {
        const std::string label = "resource " + r.type.Text() + "/" + r.name.Text();
        if (r.language != 0)
            findings.push_back(label + " has language " + Hex(r.language, 4) + ", expected neutral (0)");
        const bool known =
            r.type.isId && ((!r.name.isId && expectedNamed.count({r.type.id, r.name.name})) ||
                            (r.type.id == RtIcon && r.name.isId && expectedIcons.count(r.name.id)) ||
                            (r.type.id == RtManifest && r.name.isId && r.name.id == 1) ||
                            (kind == Kind::Branded && r.type.id == RtVersion && r.name.isId && r.name.id == 1));
        if (!known)
            findings.push_back(label + " is not one of the program's resources");
    }

    // The loader looks entries up by binary search: named entries first,
    // sorted, then numbered ones in ascending order, at every level.
    auto key = [](const ResourceKey& k) { return std::make_tuple(k.isId, k.id, k.name); };
    for (size_t i = 1; i < resources.size(); ++i) {
        const Resource& a = resources[i - 1];
        const Resource& b = resources[i];
        if (std::make_tuple(key(a.type), key(a.name), a.language) >=
            std::make_tuple(key(b.type), key(b.name), b.language))
            findings.push_back("resource directory out of order: " + b.type.Text() + "/" + b.name.Text() +
                               " comes after " + a.type.Text() + "/" + a.name.Text());
    }
}

void CheckDialogs(const std::vector<Resource>& resources, Findings& findings)
{
    for (const DialogRow& want : ExpectedDialogs) {
        const std::string name = want.resource;
        const Resource* res = FindOne(
            resources, "dialog " + name, [&](const Resource& r) { return IsNamed(r, RtDialog, name); }, findings);
        if (res)
            CheckDialog(want, *res, findings);
    }
}

void CheckIcons(const std::vector<Resource>& resources, Kind kind, Findings& findings)
{
    const Resource* firstGroup = nullptr;
    for (const Resource& r : resources)
        if (!firstGroup && r.type.isId && r.type.id == RtGroupIcon)
            firstGroup = &r;
    if (firstGroup && firstGroup->name.name != Widen(ExpectedIconGroups.front().resource))
        findings.push_back("the first icon group, the program file's icon, is " + firstGroup->name.Text() +
                           ", expected " + ExpectedIconGroups.front().resource);

    for (const IconGroupRow& group : ExpectedIconGroups) {
        const std::string name = group.resource;
        const Resource* res = FindOne(
            resources, "icon group " + name, [&](const Resource& r) { return IsNamed(r, RtGroupIcon, name); },
            findings);
        if (!res)
            continue;
        if (kind == Kind::Branded && res == firstGroup) {
            CheckPackagersGroup(resources, *res, findings);
            continue;
        }
        const Bytes& d = res->data;
        const size_t count = group.images.size();
        if (d.size() != 6 + 14 * count) {
            findings.push_back("icon group " + name + ": " + std::to_string(d.size()) + " bytes, expected " +
                               std::to_string(6 + 14 * count) + " for " + std::to_string(count) + " images");
            if (d.size() < 6 + 14 * count)
                continue;
        }
        Expect<int>(findings, "icon group " + name + " reserved word", Read16(d, 0), 0);
        Expect<int>(findings, "icon group " + name + " type (1 is icon)", Read16(d, 2), 1);
        Expect<size_t>(findings, "icon group " + name + " image count", Read16(d, 4), count);
        for (size_t i = 0; i < count; ++i) {
            const IconImageRow& want = group.images[i];
            const size_t e = 6 + 14 * i;
            const std::string where = "icon group " + name + " entry " + std::to_string(i + 1);
            // A width or height of 256 is written as 0; ours are smaller.
            Expect<int>(findings, where + " width", d[e], want.size);
            Expect<int>(findings, where + " height", d[e + 1], want.size);
            Expect<int>(findings, where + " colour count", d[e + 2], 16);
            Expect<int>(findings, where + " reserved byte", d[e + 3], 0);
            Expect<int>(findings, where + " planes", Read16(d, e + 4), 1);
            Expect<int>(findings, where + " bits per pixel", Read16(d, e + 6), 4);
            Expect<int>(findings, where + " image id", Read16(d, e + 12), want.id);
            const Resource* image = FindOne(
                resources, ImageLabel(want.id),
                [&](const Resource& r) { return IsNumbered(r, RtIcon, want.id); }, findings);
            if (!image)
                continue;
            Expect<uint32_t>(findings, where + " image size", Read32(d, e + 8), image->size);
            CheckIconImage(want.id, want.size, image->data, findings);
        }
    }
}

void CheckVersionInfo(const std::vector<Resource>& resources, Kind kind, Findings& findings)
{
    if (kind == Kind::Stub) {
        for (const Resource& r : resources)
            if (r.type.isId && r.type.id == RtVersion)
                findings.push_back("the stub has version information, which only branding adds");
        return;
    }
    const Resource* res = FindOne(
        resources, "version information", [](const Resource& r) { return IsNumbered(r, RtVersion, 1); }, findings);
    if (!res)
        return;
    const std::string where = "version information";
    const VersionNode root = ReadVersionNode(res->data, 0, res->data.size(), where, findings);
    if (root.key != u"VS_VERSION_INFO" || root.type != 0 || root.value.size() != 52 ||
        Read32(root.value, 0) != 0xFEEF04BD) {
        findings.push_back(where + ": no VS_VERSION_INFO with its fixed part at the top");
        return;
    }
    const VersionNode* strings = nullptr;
    const VersionNode* variables = nullptr;
    for (const VersionNode& child : root.children) {
        if (child.key == u"StringFileInfo")
            strings = &child;
        else if (child.key == u"VarFileInfo")
            variables = &child;
        else
            findings.push_back(where + ": an unknown block " + Printable(child.key));
    }
    uint32_t translation = 0;
    if (!variables || variables->children.size() != 1 || variables->children[0].key != u"Translation" ||
        variables->children[0].value.size() < 4)
        findings.push_back(where + ": no Translation");
    else
        translation = Read32(variables->children[0].value, 0);
    if (!strings || strings->children.size() != 1) {
        findings.push_back(where + ": not one string table");
        return;
    }
    char key[16];
    std::snprintf(key, sizeof key, "%04X%04X", translation & 0xFFFF, translation >> 16);
    const VersionNode& table = strings->children[0];
    std::string tableKey = Printable(table.key);
    for (char& c : tableKey)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (tableKey != key)
        findings.push_back(where + ": the string table is " + Printable(table.key) + ", the translation names " + key);
    std::map<std::u16string, std::u16string> texts;
    for (const VersionNode& field : table.children) {
        if (field.type != 1 || field.valueLength == 0 || Read16(field.value, field.value.size() - 2) != 0)
            findings.push_back(where + ": " + Printable(field.key) + " is not a text with its terminating zero");
        texts[field.key] = TextOf(field);
    }
    for (const char* needed : {"FileVersion", "ProductVersion", "OriginalFilename"})
        if (texts[Widen(needed)].empty())
            findings.push_back(where + ": no " + needed);
    if (texts[u"FileVersion"] != Widen(VersionFrom(root.value, 8)))
        findings.push_back(where + ": FileVersion \"" + Printable(texts[u"FileVersion"]) +
                           "\" is not the file version " + VersionFrom(root.value, 8));
    if (texts[u"ProductVersion"] != Widen(VersionFrom(root.value, 16)))
        findings.push_back(where + ": ProductVersion \"" + Printable(texts[u"ProductVersion"]) +
                           "\" is not the product version " + VersionFrom(root.value, 16));
}

void CheckManifest(const std::vector<Resource>& resources, Findings& findings)
{
    const Resource* res = FindOne(
        resources, "manifest 1", [](const Resource& r) { return IsNumbered(r, RtManifest, 1); }, findings);
    if (!res)
        return;
    const std::string text(res->data.begin(), res->data.end());
    if (text.find("requestedExecutionLevel level=\"asInvoker\"") == std::string::npos)
        findings.push_back("manifest 1 does not request the execution level asInvoker");
    // What the system reads of it, each as it must stand.
    static const struct {
        const char* text;
        const char* finding;
    } required[] = {
        {"<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>",
         "does not declare longPathAware"},
        {"<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
         "does not declare the program aware of the display's DPI"},
        {"<assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
         "processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>",
         "does not depend on the common controls 6"},
        {"<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>", "does not name Windows 7"},
        {"<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>", "does not name Windows 8"},
        {"<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>", "does not name Windows 8.1"},
        {"<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>", "does not name Windows 10 and 11"},
    };
    for (const auto& r : required)
        if (text.find(r.text) == std::string::npos)
            findings.push_back(std::string("manifest 1 ") + r.finding);
    if (text.find("<dependentAssembly>") == std::string::npos || text.find("<dependency>") == std::string::npos)
        findings.push_back("manifest 1 has its common controls outside a dependency");
}

void CheckNoLocalHeaderSignature(const Bytes& file, Findings& findings)
{
    static const uint8_t signature[] = {0x50, 0x4B, 0x03, 0x04};
    auto at = std::search(file.begin(), file.end(), std::begin(signature), std::end(signature));
    if (at != file.end())
        findings.push_back("the stub holds a local-header signature at offset " +
                           std::to_string(at - file.begin()) + ", where archive scanners would look for entries");
}

Findings CheckStub(const Bytes& file, Arch arch, Kind kind)
{
    Findings findings;
    CheckHeaders(file, arch, findings);
    CheckLayout(file, findings);
    CheckRelocations(file, arch, findings);
    if (kind == Kind::Branded)
        CheckChecksum(file, findings);
    CheckImports(file, findings);
    const std::vector<Resource> resources = ReadResources(file, findings);
    CheckResourceSet(resources, kind, findings);
    CheckDialogs(resources, findings);
    CheckIcons(resources, kind, findings);
    CheckVersionInfo(resources, kind, findings);
    CheckManifest(resources, findings);
    CheckNoLocalHeaderSignature(file, findings);
    return findings;
}

}  // namespace pe
