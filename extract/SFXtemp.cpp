// The walk's temporary folder: made only by this run, its mark, and the
// removal of a killed run's leftover.
#include <windows.h>

#include "SFXtemp.h"
#include "SFXpath.h"

const char TempFileName[] = "DATA.TMP";
const char TempMarkName[] = "README.TXT";
// The mark's text, for a person who opens a leftover as much as for the
// next run.
static const char MarkText[] =
    "An extraction wrote its files in this folder and was stopped before it\r\n"
    "could remove it. Nothing here is needed: delete the folder.\r\n";
enum : int32_t { MarkLength = sizeof MarkText - 1 };

HANDLE OpenPlainFolder(const NameUnit* path)
{
    HANDLE folder = CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, 0);
    if (folder == INVALID_HANDLE_VALUE)
        return folder;
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(folder, &information)
        || (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
               != FILE_ATTRIBUTE_DIRECTORY) {
        CloseHandle(folder);
        return INVALID_HANDLE_VALUE;
    }
    return folder;
}

// folder, "\" and name into path; false when it does not fit.
static bool InFolder(NameUnit* path, const NameUnit* folder, const char* name)
{
    path[0] = 0;
    return AppendText(path, PathTextSize, folder) && AppendAscii(path, PathTextSize, "\\")
        && AppendAscii(path, PathTextSize, name);
}

static bool WriteMark(const NameUnit* folder)
{
    static NameUnit path[PathTextSize];
    if (!InFolder(path, folder, TempMarkName))
        return false;
    HANDLE mark = CreateFileW(path, GENERIC_WRITE, 0, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, 0);
    if (mark == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool whole = WriteFile(mark, MarkText, MarkLength, &written, 0) && written == (DWORD)MarkLength;
    return CloseHandle(mark) && whole;
}

static bool IsMark(const NameUnit* path)
{
    HANDLE mark = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, 0);
    if (mark == INVALID_HANDLE_VALUE)
        return false;
    char text[MarkLength + 1];
    DWORD read = 0;
    bool same = ReadFile(mark, text, MarkLength + 1, &read, 0) && read == (DWORD)MarkLength;
    CloseHandle(mark);
    for (int32_t i = 0; same && i < MarkLength; i++)
        same = text[i] == MarkText[i];
    return same;
}

// Deletes the folder through its handle (it cannot have been replaced
// meanwhile), and closes the handle.
static void DeleteFolder(const NameUnit* folder, HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    bool deleting = SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
    CloseHandle(handle);
    if (!deleting)
        RemoveDirectoryW(folder);
}

// Whether a name of a directory listing is the ASCII text.
static bool IsName(const WCHAR* name, DWORD bytes, const char* ascii)
{
    NameUnit text[16] = {0};
    AppendAscii(text, 16, ascii);
    return CompareStringOrdinal(name, (int)(bytes / sizeof(WCHAR)), text, -1, TRUE) == CSTR_EQUAL;
}

// Whether the folder holds its mark and at most the temporary file, both
// plain files. Listed through the folder's own handle: the folder that is
// looked into is the one that is held.
static bool HoldsOnlyRunFiles(HANDLE handle)
{
    static uint64_t listing[4096 / sizeof(uint64_t)];
    bool marked = false;
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(handle, kind, listing, sizeof listing)) {
        kind = FileIdBothDirectoryInfo;
        const uint8_t* at = (const uint8_t*)listing;
        for (;;) {
            const FILE_ID_BOTH_DIR_INFO* item = (const FILE_ID_BOTH_DIR_INFO*)at;
            bool dots = IsName(item->FileName, item->FileNameLength, ".")
                     || IsName(item->FileName, item->FileNameLength, "..");
            bool plain = (item->FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
            if (plain && IsName(item->FileName, item->FileNameLength, TempMarkName))
                marked = true;
            else if (!dots && !(plain && IsName(item->FileName, item->FileNameLength, TempFileName)))
                return false;
            if (item->NextEntryOffset == 0)
                break;
            at += item->NextEntryOffset;
        }
    }
    return marked && GetLastError() == ERROR_NO_MORE_FILES;
}

// Removes a folder of a temporary folder's name that a killed run left:
// true when it is gone. One that is not provably such a leftover stays.
static bool RemoveLeftover(const NameUnit* folder)
{
    HANDLE handle = OpenPlainFolder(folder);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    static NameUnit mark[PathTextSize], data[PathTextSize];
    bool removed = InFolder(mark, folder, TempMarkName) && InFolder(data, folder, TempFileName)
                && HoldsOnlyRunFiles(handle) && IsMark(mark)
                && (DeleteFileW(data) || GetLastError() == ERROR_FILE_NOT_FOUND) && DeleteFileW(mark);
    if (removed)
        DeleteFolder(folder, handle);
    else
        CloseHandle(handle);
    return removed;
}

// The n-th name: TempFolderBase, then TempFolderBase "." n.
static bool NameTempFolder(NameUnit* folder, const NameUnit* parent, int32_t n)
{
    char suffix[4];
    int32_t at = 0;
    if (n > 0) {
        suffix[at++] = '.';
        if (n >= 10)
            suffix[at++] = (char)('0' + n / 10);
        suffix[at++] = (char)('0' + n % 10);
    }
    suffix[at] = 0;
    folder[0] = 0;
    return AppendText(folder, PathTextSize, parent) && AppendAscii(folder, PathTextSize, TempFolderBase)
        && AppendAscii(folder, PathTextSize, suffix);
}

HANDLE MakeTempFolder(const NameUnit* parent, NameUnit* folder)
{
    for (int32_t n = 0; n < TempFolderTries; n++) {
        if (!NameTempFolder(folder, parent, n)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return INVALID_HANDLE_VALUE;
        }
        bool made = CreateDirectoryW(folder, 0) != 0;
        if (!made) {
            DWORD error = GetLastError();
            if (error != ERROR_ALREADY_EXISTS) {
                SetLastError(error);
                return INVALID_HANDLE_VALUE;
            }
            made = RemoveLeftover(folder) && CreateDirectoryW(folder, 0);
        }
        if (!made)
            continue;
        // Ours until now; from here on held open, and checked once more in
        // case it was replaced between the two calls.
        HANDLE handle = OpenPlainFolder(folder);
        if (handle == INVALID_HANDLE_VALUE)
            continue;
        if (WriteMark(folder))
            return handle;
        RemoveTempFolder(folder, handle);
    }
    SetLastError(ERROR_CANNOT_MAKE);
    return INVALID_HANDLE_VALUE;
}

void RemoveTempFolder(const NameUnit* folder, HANDLE handle)
{
    static NameUnit mark[PathTextSize];
    if (InFolder(mark, folder, TempMarkName))
        DeleteFileW(mark);
    DeleteFolder(folder, handle);
}
