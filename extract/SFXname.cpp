// Entry names: UTF-8 decoding, the Unicode Path extra field, and the test
// that a name stays below the destination folder.
#include "SFXname.h"

// Each code point's shortest UTF-8 form, the only one accepted: the lead
// byte gives the length, every further byte must be 10xxxxxx, and the
// value must need that length and not be a surrogate.
int32_t DecodeUtf8(const char* bytes, int32_t count, NameUnit* units, int32_t unitsSize)
{
    int32_t n = 0;
    for (int32_t i = 0; i < count;) {
        uint32_t lead = (uint8_t)bytes[i++];
        int32_t more;
        uint32_t value, least;
        if (lead < 0x80) {
            more = 0, value = lead, least = 1;          // NUL is caught below
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1, value = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2, value = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3, value = lead & 0x07, least = 0x10000;
        } else {
            return NameInvalid;                         // 80..C1, F5..FF
        }
        if (more > count - i)
            return NameInvalid;
        for (; more > 0; more--) {
            uint32_t next = (uint8_t)bytes[i++];
            if ((next & 0xC0) != 0x80)
                return NameInvalid;
            value = value << 6 | (next & 0x3F);
        }
        if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return NameInvalid;
        int32_t needed = value >= 0x10000 ? 2 : 1;
        if (n + needed > unitsSize - 1)
            return NameTooLong;
        if (needed == 2) {
            value -= 0x10000;
            units[n++] = (NameUnit)(0xD800 + (value >> 10));
            units[n++] = (NameUnit)(0xDC00 + (value & 0x3FF));
        } else {
            units[n++] = (NameUnit)value;
        }
    }
    if (unitsSize > 0)
        units[n] = 0;
    return n;
}

static uint32_t Little16(const uint8_t* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8;
}

static uint32_t Little32(const uint8_t* p)
{
    return Little16(p) | Little16(p + 2) << 16;
}

// The field: id 0x7075, its size, version 1, the CRC-32 of the header's
// name bytes, then the UTF-8 name. A name that has been changed since the
// field was written no longer matches its CRC, and the field is ignored.
bool FindExtraField(const uint8_t* extra, int32_t length, uint32_t id, int32_t& at, const uint8_t*& data,
                    int32_t& size)
{
    // Each field: its id, the size of its data, the data.
    while (length - at >= 4) {
        uint32_t fieldId = Little16(extra + at);
        size = (int32_t)Little16(extra + at + 2);
        at += 4;
        if (size > length - at)
            return false;
        data = extra + at;
        at += size;
        if (fieldId == id)
            return true;
    }
    return false;
}

bool FindUnicodePath(const uint8_t* extra, int32_t length, uint32_t nameCrc, const char*& utf8,
                     int32_t& utf8Length)
{
    int32_t at = 0, size;
    const uint8_t* data;
    while (FindExtraField(extra, length, UnicodePathFieldId, at, data, size)) {
        if (size >= 5 && data[0] == 1 && Little32(data + 1) == nameCrc) {
            utf8 = (const char*)data + 5;
            utf8Length = size - 5;
            return true;
        }
    }
    return false;
}

static uint32_t Value(char c)
{
    return (uint8_t)c;
}

static uint32_t Value(NameUnit c)
{
    return (uint32_t)c;
}

static uint32_t UpperCase(uint32_t c)
{
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

static bool IsSuperscriptDigit(uint32_t c)
{
    return c == 0xB9 || c == 0xB2 || c == 0xB3;     // superscript one, two, three
}

// Windows opens these as devices in any folder, with any extension and
// with trailing dots or blanks; COM and LPT take the superscript digits
// one to three as well as 1 to 9.
template <typename Unit> static bool IsDeviceName(const Unit* component, int32_t length)
{
    int32_t base = 0;
    while (base < length && component[base] != '.' && component[base] != ' ')
        base++;
    char name[8];
    if (base < 3 || base > 7)
        return false;
    for (int32_t i = 0; i < base; i++) {
        uint32_t c = UpperCase(Value(component[i]));
        if (i == 3 && IsSuperscriptDigit(c))
            c = '1';
        else if (c >= 0x80)
            return false;
        name[i] = (char)c;
    }
    name[base] = 0;
    static const char devices[] = "CON\0PRN\0AUX\0NUL\0CONIN$\0CONOUT$\0CLOCK$\0";
    for (const char* device = devices; *device != 0; device = NthText(device, 1))
        if (SameText(device, name))
            return true;
    bool numbered = base == 4 && name[3] >= '1' && name[3] <= '9';
    bool com = name[0] == 'C' && name[1] == 'O' && name[2] == 'M';
    bool lpt = name[0] == 'L' && name[1] == 'P' && name[2] == 'T';
    return numbered && (com || lpt);
}

template <typename Unit> static bool IsDotsAndBlanks(const Unit* component, int32_t length)
{
    for (int32_t i = 0; i < length; i++)
        if (component[i] != '.' && component[i] != ' ')
            return false;
    return length > 0;
}

static bool IsForbidden(uint32_t c)
{
    return c < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*';
}

// The extraction's temporary folders: TempFolderBase, then ".1" and so on;
// every name of that form, in any case, is kept for them.
template <typename Unit> static bool IsTempFolderName(const Unit* component, int32_t length)
{
    static const char base[] = TempFolderBase;
    int32_t n = (int32_t)sizeof base - 1;
    if (length < n || (length > n && component[n] != '.'))
        return false;
    for (int32_t i = 0; i < n; i++)
        if (UpperCase(Value(component[i])) != (uint32_t)base[i])
            return false;
    return true;
}

template <typename Unit> NameFault EntryNameFault(const Unit* name)
{
    if (name[0] == '\\' || name[0] == '/')
        return NameLeavesFolder;
    NameFault fault = NameFine;
    const Unit* component = name;
    for (const Unit* p = name;; p++) {
        if (*p == ':')
            return NameLeavesFolder;
        if (*p != 0 && IsForbidden(Value(*p)))
            fault = NameForbiddenCharacter;   // unless the name also leaves
        if (*p == '\\' || *p == '/' || *p == 0) {
            int32_t length = (int32_t)(p - component);
            bool single = length == 1 && component[0] == '.';
            if ((!single && IsDotsAndBlanks(component, length)) || IsDeviceName(component, length))
                return NameLeavesFolder;
            // Windows drops a trailing dot or blank, except on a path it
            // takes literally ("\\?\"): the file would be another's, or
            // one that Explorer cannot handle.
            if (!single && length > 0 && (component[length - 1] == '.' || component[length - 1] == ' ')
                && fault == NameFine)
                fault = NameTrailingDotOrBlank;
            if (IsTempFolderName(component, length) && fault == NameFine)
                fault = NameReserved;
            if (*p == 0)
                return fault;
            component = p + 1;
        }
    }
}

template NameFault EntryNameFault<char>(const char* name);
template NameFault EntryNameFault<NameUnit>(const NameUnit* name);

#ifdef _WIN32
#include <windows.h>
#endif

static bool IsAscii(const char* bytes, int32_t count)
{
    for (int32_t i = 0; i < count; i++)
        if ((uint8_t)bytes[i] >= 0x80)
            return false;
    return true;
}

// Bytes in the system's ANSI code page (on a DBCS system a lead byte and
// its trail byte make one character) into UTF-16; the same results as
// DecodeUtf8.
static int32_t DecodeAnsi(const char* bytes, int32_t count, NameUnit* units, int32_t unitsSize)
{
#ifdef _WIN32
    if (count == 0) {
        units[0] = 0;
        return 0;
    }
    int32_t needed = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, count, 0, 0);
    if (needed <= 0)
        return NameInvalid;
    if (needed > unitsSize - 1)
        return NameTooLong;
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, count, units, needed);
    units[needed] = 0;
    return needed;
#else
    if (count > unitsSize - 1)
        return NameTooLong;
    for (int32_t i = 0; i < count; i++)
        units[i] = (NameUnit)(uint8_t)bytes[i];
    units[count] = 0;
    return count;
#endif
}

// An approximation of a name that cannot be written, for the list and the
// warning only: its bytes in the ANSI code page (on other systems, for
// tests, as Latin-1), cut to what the units hold.
static void ShowBytes(EntryName& name)
{
    int32_t count = name.StoredLength < NameUnitsMax ? name.StoredLength : NameUnitsMax;
#ifdef _WIN32
    int32_t n = count > 0 ? MultiByteToWideChar(CP_ACP, 0, name.Stored, count, name.Units, NameUnitsMax) : 0;
#else
    int32_t n = count;
    for (int32_t i = 0; i < count; i++)
        name.Units[i] = (NameUnit)(uint8_t)name.Stored[i];
#endif
    name.Units[n > 0 ? n : 0] = 0;
}

void DecodeEntryName(EntryName& name)
{
    name.Units[0] = 0;
    int32_t n;
    if (IsAscii(name.Stored, name.StoredLength)) {
        // Most names: the same in every encoding, nothing to ask the system.
        n = name.StoredLength <= NameUnitsMax ? name.StoredLength : NameTooLong;
        for (int32_t i = 0; i < n; i++)
            name.Units[i] = (NameUnit)name.Stored[i];
        if (n >= 0)
            name.Units[n] = 0;
    } else if (name.IsUtf8) {
        n = DecodeUtf8(name.Stored, name.StoredLength, name.Units, NameUnitsMax + 1);
    } else {
        n = DecodeAnsi(name.Stored, name.StoredLength, name.Units, NameUnitsMax + 1);
    }
    if (n == NameTooLong)
        name.TooLong = true;
    name.Decoded = n >= 0 && !name.TooLong;
    if (!name.Decoded)
        ShowBytes(name);
}
