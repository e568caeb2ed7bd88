// Path texts and file-system helpers.
#include "SFXpath.h"

#ifdef _WIN32
#include <windows.h>
#endif

template <typename Unit> static bool IsSeparator(Unit c)
{
    return c == '\\' || c == '/' || c == ':';
}

template <typename Unit> uint16_t StrLength(const Unit* text)
{
    uint16_t n = 0;
    while (text[n] != 0 && n != 0xFFFF)
        n++;
    return n;
}

void StringFromBuffer(const char* buffer, uint16_t length, char* text, int32_t textSize)
{
    if (textSize <= 0)
        return;
    int32_t n = 0;
    while (n < length && n < textSize - 1 && buffer[n] != 0) {
        text[n] = buffer[n];
        n++;
    }
    text[n] = 0;
}

template <typename Unit> bool CopyText(Unit* buffer, int32_t size, const Unit* source)
{
    int32_t n = StrLength(source);
    if (n >= size)
        return false;
    for (int32_t i = 0; i <= n; i++)
        buffer[i] = source[i];
    return true;
}

template <typename Unit> bool AppendText(Unit* buffer, int32_t size, const Unit* source)
{
    int32_t used = StrLength(buffer);
    return used < size && CopyText(buffer + used, size - used, source);
}

// How many units of path its folder part takes (see ParentPath).
template <typename Unit> int32_t ParentLength(const Unit* path, int32_t length)
{
    int32_t n = 0;
    bool hasColon = false;
    for (int32_t i = 0; i < length; i++) {
        if (IsSeparator(path[i]))
            n = i + 1;
        if (path[i] == ':')
            hasColon = true;
    }
    // A drive's root keeps its backslash, also behind "\\?\".
    bool root = (n == 3 && path[1] == ':') || (n == 7 && path[5] == ':' && path[2] == '?');
    if (length == 3 && hasColon) {
        n = 3;                                   // C:\ stays C:\ .
    } else if (n > 0 && path[n - 1] != ':' && !root) {
        n--;                                     // C:\x keeps the root's backslash; other separators go.
    }
    return n;
}

template <typename Unit> void ParentPath(const Unit* path, Unit* parent, int32_t parentSize)
{
    int32_t n = ParentLength(path, StrLength(path));
    if (n > parentSize - 1)
        n = parentSize > 0 ? parentSize - 1 : 0;
    if (parentSize <= 0)
        return;
    for (int32_t i = 0; i < n; i++)
        parent[i] = path[i];
    parent[n] = 0;
}

template <typename Unit> void FileNamePart(const Unit* path, Unit* name, int32_t nameSize)
{
    int32_t start = 0;
    for (int32_t i = 0; path[i] != 0; i++)
        if (IsSeparator(path[i]))
            start = i + 1;
    int32_t limit = nameSize - 1 < FileNamePartMax ? nameSize - 1 : FileNamePartMax;
    if (limit < 0)
        return;
    int32_t n = 0;
    while (n < limit && path[start + n] != 0) {
        name[n] = path[start + n];
        n++;
    }
    name[n] = 0;
}

template <typename Unit> void SlashesToBackslashes(Unit* text)
{
    for (; *text != 0; text++)
        if (*text == '/')
            *text = '\\';
}

template <typename Unit> bool HasPartEndingInDotOrBlank(const Unit* path)
{
    int32_t start = 0;
    for (int32_t i = 0;; i++) {
        if (path[i] == 0 || path[i] == '\\' || path[i] == '/') {
            int32_t length = i - start;
            bool dots = (length == 1 && path[start] == '.') || (length == 2 && path[start] == '.' && path[start + 1] == '.');
            if (length > 0 && !dots && (path[i - 1] == '.' || path[i - 1] == ' '))
                return true;
            if (path[i] == 0)
                return false;
            start = i + 1;
        }
    }
}

template <typename Unit> bool AddBackslash(Unit* text, int32_t size)
{
    int32_t n = StrLength(text);
    if (n > 0 && text[n - 1] == '\\')
        return true;
    if (n + 2 > size)
        return false;
    text[n] = '\\';
    text[n + 1] = 0;
    return true;
}

template <typename Unit> void RemoveBackslash(Unit* text)
{
    int32_t n = StrLength(text);
    if (n > 0 && text[n - 1] == '\\')
        text[n - 1] = 0;
}

template <typename Unit> bool SameText(const Unit* a, const Unit* b)
{
    while (*a != 0 && *a == *b)
        a++, b++;
    return *a == *b;
}

const char* NthText(const char* list, int32_t n)
{
    for (; n > 0 && *list != 0; n--)
        list += StrLength(list) + 1;
    return list;
}

bool AppendAscii(NameUnit* buffer, int32_t size, const char* ascii)
{
    int32_t used = StrLength(buffer);
    int32_t n = StrLength(ascii);
    if (used + n >= size)
        return false;
    for (int32_t i = 0; i <= n; i++)
        buffer[used + i] = (NameUnit)(uint8_t)ascii[i];
    return true;
}

#ifdef _WIN32

static bool StartsWith(const NameUnit* text, const char* ascii)
{
    for (; *ascii != 0; text++, ascii++)
        if (*text != (NameUnit)*ascii)
            return false;
    return true;
}

bool SystemPath(const NameUnit* path, NameUnit* system, int32_t from)
{
    // The full form is made apart: GetFullPathNameW may not write into
    // its own input.
    static NameUnit full[PathTextSize];
    int32_t length = StrLength(path);
    if (length < from || StartsWith(path, "\\\\?\\")) {
        if (system != path && !CopyText(system, PathTextSize, path))
            return false;
        return true;
    }
    DWORD n = GetFullPathNameW(path, PathTextSize, full, 0);
    if (n == 0 || n >= (DWORD)PathTextSize)
        return false;
    // A drive path takes "\\?\", a share "\\?\UNC\" in place of its
    // two backslashes; a device path is left as it is.
    const NameUnit* rest = full;
    system[0] = 0;
    if (StartsWith(full, "\\\\")) {
        if (!StartsWith(full, "\\\\.\\") && !StartsWith(full, "\\\\?\\")) {
            AppendAscii(system, PathTextSize, "\\\\?\\UNC\\");
            rest = full + 2;
        }
    } else {
        AppendAscii(system, PathTextSize, "\\\\?\\");
    }
    return AppendText(system, PathTextSize, rest);
}

bool PathExists(NameUnit* path)
{
    // A folder "exists" when it has an entry.
    static NameUnit pattern[PathTextSize];
    // With a trailing backslash the search goes to a copy; without, the
    // caller's path itself has its "/" turned into "\\".
    int32_t n = StrLength(path);
    bool folder = n > 0 && path[n - 1] == '\\';
    if (!folder)
        SlashesToBackslashes(path);
    if (!CopyText(pattern, PathTextSize, path) || (folder && !AppendAscii(pattern, PathTextSize, "*.*")))
        return false;
    SlashesToBackslashes(pattern);
    if (!SystemPath(pattern, pattern))
        return false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

bool WidePathExists(const NameUnit* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// folder holds length units; each parent is made by cutting the text in
// place, so a deep path costs no copy per level.
static void ForceFoldersIn(NameUnit* folder, int32_t length)
{
    if (length < 3 || WidePathExists(folder))
        return;
    // A parent that is no shorter (a ":" past the drive prefix) has nothing
    // above it to create; climbing on would never end.
    int32_t parent = ParentLength(folder, length);
    if (parent < length) {
        NameUnit cut = folder[parent];
        folder[parent] = 0;
        ForceFoldersIn(folder, parent);
        folder[parent] = cut;
    }
    CreateDirectoryW(folder, 0);
}

void ForceFolders(const NameUnit* path)
{
    static NameUnit folder[PathTextSize];
    if (!SystemPath(path, folder))
        return;
    SlashesToBackslashes(folder);
    int32_t length = StrLength(folder);
    if (length > 0 && folder[length - 1] == '\\')
        folder[--length] = 0;
    ForceFoldersIn(folder, length);
}

void SetFileTimeFromDos(void* file, uint32_t timeDate)
{
    FILETIME local, utc;
    DosDateTimeToFileTime((WORD)(timeDate >> 16), (WORD)timeDate, &local);
    LocalFileTimeToFileTime(&local, &utc);
    SetFileTime((HANDLE)file, 0, 0, &utc);
}

#endif

template uint16_t StrLength<char>(const char* text);
template uint16_t StrLength<NameUnit>(const NameUnit* text);
template bool CopyText<char>(char* buffer, int32_t size, const char* source);
template bool CopyText<NameUnit>(NameUnit* buffer, int32_t size, const NameUnit* source);
template bool AppendText<char>(char* buffer, int32_t size, const char* source);
template bool AppendText<NameUnit>(NameUnit* buffer, int32_t size, const NameUnit* source);
template int32_t ParentLength<char>(const char* path, int32_t length);
template int32_t ParentLength<NameUnit>(const NameUnit* path, int32_t length);
template void ParentPath<char>(const char* path, char* parent, int32_t parentSize);
template void ParentPath<NameUnit>(const NameUnit* path, NameUnit* parent, int32_t parentSize);
template void FileNamePart<char>(const char* path, char* name, int32_t nameSize);
template void FileNamePart<NameUnit>(const NameUnit* path, NameUnit* name, int32_t nameSize);
template void SlashesToBackslashes<char>(char* text);
template void SlashesToBackslashes<NameUnit>(NameUnit* text);
template bool HasPartEndingInDotOrBlank<char>(const char* path);
template bool HasPartEndingInDotOrBlank<NameUnit>(const NameUnit* path);
template bool AddBackslash<char>(char* text, int32_t size);
template bool AddBackslash<NameUnit>(NameUnit* text, int32_t size);
template void RemoveBackslash<char>(char* text);
template void RemoveBackslash<NameUnit>(NameUnit* text);
template bool SameText<char>(const char* a, const char* b);
template bool SameText<NameUnit>(const NameUnit* a, const NameUnit* b);
