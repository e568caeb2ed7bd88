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
    if (length == 3 && hasColon) {
        n = 3;                                   // C:\ stays C:\ .
    } else if (n > 0 && path[n - 1] != ':') {
        if (!(n == 3 && path[1] == ':'))         // C:\x keeps the root's backslash.
            n--;                                 // Otherwise the separator goes.
    }
    return n;
}

void ParentPath(const char* path, char* parent, int32_t parentSize)
{
    StringFromBuffer(path, (uint16_t)ParentLength(path, StrLength(path)), parent, parentSize);
}

void FileNamePart(const char* path, char* name, int32_t nameSize)
{
    int32_t start = 0;
    for (int32_t i = 0; path[i] != 0; i++)
        if (IsSeparator(path[i]))
            start = i + 1;
    int32_t limit = nameSize - 1 < FileNamePartMax ? nameSize - 1 : FileNamePartMax;
    StringFromBuffer(path + start, (uint16_t)limit, name, nameSize);
}

template <typename Unit> void SlashesToBackslashes(Unit* text)
{
    for (; *text != 0; text++)
        if (*text == '/')
            *text = '\\';
}

bool AddBackslash(char* text, int32_t size)
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

void RemoveBackslash(char* text)
{
    int32_t n = StrLength(text);
    if (n > 0 && text[n - 1] == '\\')
        text[n - 1] = 0;
}

#ifdef _WIN32

bool PathExists(char* path)
{
    int32_t n = StrLength(path);
    HANDLE search;
    WIN32_FIND_DATAA found;
    if (n > 0 && path[n - 1] == '\\') {
        // A folder "exists" when it has an entry; a path too long for the
        // system's ANSI calls cannot be searched and tests as missing.
        char pattern[MAX_PATH];
        if (!CopyText(pattern, sizeof pattern, path) || !AppendText(pattern, sizeof pattern, "*.*"))
            return false;
        SlashesToBackslashes(pattern);
        search = FindFirstFileA(pattern, &found);
    } else {
        SlashesToBackslashes(path);
        search = FindFirstFileA(path, &found);
    }
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

bool WidePathExists(const NameUnit* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

static bool FolderExists(char* path)
{
    return PathExists(path);
}

static bool FolderExists(NameUnit* path)
{
    return WidePathExists(path);
}

static void CreateFolder(const char* path)
{
    CreateDirectoryA(path, 0);
}

static void CreateFolder(const NameUnit* path)
{
    CreateDirectoryW(path, 0);
}

// folder holds length units; each parent is made by cutting the text in
// place, so a deep path costs no copy per level.
template <typename Unit> static void ForceFoldersIn(Unit* folder, int32_t length)
{
    if (length < 3 || FolderExists(folder))
        return;
    // A parent that is no shorter (a ":" past the drive prefix) has nothing
    // above it to create; climbing on would never end.
    int32_t parent = ParentLength(folder, length);
    if (parent < length) {
        Unit cut = folder[parent];
        folder[parent] = 0;
        ForceFoldersIn(folder, parent);
        folder[parent] = cut;
    }
    CreateFolder(folder);
}

template <typename Unit> void ForceFolders(const Unit* path)
{
    Unit folder[PathTextSize];
    if (!CopyText(folder, PathTextSize, path))
        return;
    int32_t length = StrLength(folder);
    if (length > 0 && folder[length - 1] == '\\')
        folder[--length] = 0;
    ForceFoldersIn(folder, length);
}

template void ForceFolders<char>(const char* path);
template void ForceFolders<NameUnit>(const NameUnit* path);

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
template int32_t ParentLength<NameUnit>(const NameUnit* path, int32_t length);
template void SlashesToBackslashes<char>(char* text);
template void SlashesToBackslashes<NameUnit>(NameUnit* text);
