#include "names.h"

#include <cstdio>
#include <cstring>
#include <vector>
#include <zlib.h>

#include "zip_format.h"

namespace sfx {

namespace {

// Code page 437, the original IBM PC's, from 0x80 up; below that it is ASCII.
const uint16_t Cp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,   // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,   // 88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,   // 90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,   // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,   // A0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,   // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,   // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,   // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,   // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,   // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,   // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,   // D8
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,   // E0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,   // E8
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,   // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,   // F8
};

void AppendUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += (char)c;
    } else if (c < 0x800) {
        out += (char)(0xC0 | c >> 6);
        out += (char)(0x80 | (c & 0x3F));
    } else {
        out += (char)(0xE0 | c >> 12);
        out += (char)(0x80 | (c >> 6 & 0x3F));
        out += (char)(0x80 | (c & 0x3F));
    }
}

std::string Cp437ToUtf8(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes)
        AppendUtf8(out, c < 0x80 ? c : Cp437High[c - 0x80]);
    return out;
}

// The UTF-16 units of a UTF-8 text, or an empty result when it is not
// valid UTF-8 (a NUL included).
std::basic_string<NameUnit> Utf16(const std::string& text, bool& valid)
{
    std::vector<NameUnit> units(text.size() + 1);
    int32_t n = DecodeUtf8(text.data(), (int32_t)text.size(), units.data(), (int32_t)units.size());
    valid = n >= 0;
    return valid ? std::basic_string<NameUnit>(units.data(), (size_t)n) : std::basic_string<NameUnit>();
}

// Windows compares file names through an upper-case table, one unit for
// one unit. These are its runs for ASCII, Latin-1, Latin Extended-A (capital
// and small letters alternating) and the basic Greek and Cyrillic letters:
// every step-th unit from first to last maps to itself plus delta.
struct CaseRun {
    uint16_t first, last, step;
    int16_t delta;
};
const CaseRun UpperCaseRuns[] = {
    {0x0061, 0x007A, 1, -32}, {0x00E0, 0x00F6, 1, -32}, {0x00F8, 0x00FE, 1, -32}, {0x00FF, 0x00FF, 1, 0x0079},
    {0x0101, 0x012F, 2, -1},  {0x0133, 0x0137, 2, -1},  {0x013A, 0x0148, 2, -1},  {0x014B, 0x0177, 2, -1},
    {0x017A, 0x017E, 2, -1},  {0x03AC, 0x03AC, 1, -38}, {0x03AD, 0x03AF, 1, -37}, {0x03B1, 0x03C1, 1, -32},
    {0x03C2, 0x03C2, 1, -31}, {0x03C3, 0x03CB, 1, -32}, {0x03CC, 0x03CC, 1, -64}, {0x03CD, 0x03CE, 1, -63},
    {0x0430, 0x044F, 1, -32}, {0x0450, 0x045F, 1, -80},
};

NameUnit UpperCase(NameUnit unit)
{
    for (const CaseRun& r : UpperCaseRuns)
        if (unit >= r.first && unit <= r.last && (unit - r.first) % r.step == 0)
            return (NameUnit)(unit + r.delta);
    return unit;
}

}  // namespace

bool IsUtf8(const std::string& text)
{
    bool valid;
    Utf16(text, valid);
    return valid;
}

bool IsAscii(const std::string& text)
{
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

EntryName ReadZipName(const std::string& bytes, uint16_t flags, uint16_t versionMadeBy, const std::string& extra,
                      NameEncoding encoding)
{
    EntryName name;
    const char* utf8;
    int32_t length;
    uLong crc = crc32(crc32(0, nullptr, 0), (const Bytef*)bytes.data(), (uInt)bytes.size());
    if (FindUnicodePath((const uint8_t*)extra.data(), (int32_t)extra.size(), (uint32_t)crc, utf8, length)) {
        name.text.assign(utf8, (size_t)length);
        name.how = "utf8 (unicode path field)";
        return name;
    }
    name.text = bytes;
    if (flags & FlagUtf8) {
        name.how = "utf8 (flag)";
        return name;
    }
    if (IsAscii(bytes)) {
        name.how = "ascii";
        return name;
    }
    uint32_t host = versionMadeBy >> 8;
    bool dosHost = host == HostMsDos || host == HostNtfs || host == HostVfat;
    if (encoding == NameEncoding::Guess)
        encoding = dosHost ? NameEncoding::Cp437 : IsUtf8(bytes) ? NameEncoding::Utf8 : NameEncoding::Ansi;
    if (encoding == NameEncoding::Cp437) {
        name.text = Cp437ToUtf8(bytes);
        name.how = "cp437";
    } else if (encoding == NameEncoding::Ansi) {
        name.ansi = true;
        name.how = "ansi bytes";
    }
    return name;
}

uint16_t NameFlags(const EntryName& name)
{
    return name.ansi || IsAscii(name.text) ? 0 : FlagUtf8;
}

std::string NameProblem(const EntryName& name)
{
    const std::string& text = name.text;
    if (text.empty())
        return "has an empty name, which the extractor refuses";
    if (text.find('\0') != std::string::npos)
        return "has a NUL byte in its name";
    NameFault fault;
    if (name.ansi) {
        // Each byte may be one character in the extracting system's code page.
        if (text.size() > NameUnitsMax)
            return "has a name of " + std::to_string(text.size()) + " bytes; the extractor holds at most "
                   + std::to_string(NameUnitsMax) + " bytes of a name that is not UTF-8";
        fault = EntryNameFault(text.c_str());
    } else {
        // At most NameUnitsMax units take at most NameBytesMax bytes of UTF-8.
        bool valid;
        std::basic_string<NameUnit> units = Utf16(text, valid);
        if (!valid)
            return "has a name that is not valid UTF-8";
        if (units.size() > NameUnitsMax)
            return "has a name of " + std::to_string(units.size()) + " UTF-16 units; the extractor holds at most "
                   + std::to_string(NameUnitsMax);
        fault = EntryNameFault(units.c_str());
    }
    // The same test the extractor makes before it writes an entry.
    switch (fault) {
    case NameLeavesFolder:
        return "would be written outside the destination folder or to a device";
    case NameTrailingDotOrBlank:
        return "has a name part that ends in a dot or a blank, which Windows does not keep";
    case NameReserved:
        return "has a name part that the extractor keeps for its temporary folder (~SFXTMP, ~SFXTMP.1 and so on)";
    case NameForbiddenCharacter:
        for (unsigned char c : text) {
            if (c < 0x20 || std::strchr("<>\"|?*", c) != nullptr) {
                char shown[8];
                std::snprintf(shown, sizeof shown, c < 0x20 ? "\\x%02X" : "%c", c);
                return std::string("has '") + shown + "' in its name, which Windows does not allow";
            }
        }
        break;
    default:
        break;
    }
    if (text == "." || (text.size() > 1 && text.compare(text.size() - 2, 2, "/.") == 0))
        return "names the folder it is in instead of a file";
    return "";
}

std::basic_string<NameUnit> CollisionKey(const EntryName& name)
{
    bool valid = false;
    std::basic_string<NameUnit> units;
    if (!name.ansi)
        units = Utf16(name.text, valid);
    if (!valid) {
        // Bytes of an unknown code page: ASCII is ASCII in every one, and
        // the rest is kept apart from decoded names in the private use area.
        units.clear();
        for (unsigned char c : name.text)
            units += (NameUnit)(c < 0x80 ? c : 0xF700 + c);
    }
    std::basic_string<NameUnit> key, part;
    auto endPart = [&] {
        while (!part.empty() && (part.back() == '.' || part.back() == ' '))
            part.pop_back();
        if (!part.empty()) {
            if (!key.empty())
                key += '/';
            key += part;
        }
        part.clear();
    };
    for (NameUnit c : units) {
        if (c == '/' || c == '\\')
            endPart();
        else
            part += UpperCase(c);
    }
    endPart();
    return key;
}

void NameSet::Note(const std::basic_string<NameUnit>& key, const Seen& seen)
{
    auto inserted = seen_.emplace(key, seen);
    if (inserted.second)
        return;
    Seen& earlier = inserted.first->second;
    if (earlier.folder && seen.folder && (earlier.implied || seen.implied)) {
        earlier.implied = earlier.implied && seen.implied;
        return;
    }
    if (earlier.folder == seen.folder)
        throw Failure("entry " + seen.label + " and entry " + earlier.label
                      + " would be written to the same file on Windows");
    const Seen& file = seen.folder ? earlier : seen;
    const Seen& folder = seen.folder ? seen : earlier;
    throw Failure("entry " + file.label + " is a file where entry " + folder.label
                  + " needs a folder of the same name on Windows");
}

void NameSet::Add(const EntryName& name)
{
    std::basic_string<NameUnit> key = CollisionKey(name);
    std::string label = Quoted(name);
    for (size_t slash = key.find('/'); slash != key.npos; slash = key.find('/', slash + 1))
        Note(key.substr(0, slash), {label, true, true});
    bool folder = !name.text.empty() && (name.text.back() == '/' || name.text.back() == '\\');
    Note(key, {label, folder, false});
}

std::string Quoted(const std::string& text, bool bytes)
{
    bool raw = !bytes && IsUtf8(text);
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == '"' || (c >= 0x80 && !raw)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

}  // namespace sfx
