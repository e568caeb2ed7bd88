// Entry extraction: password, overwrite policy, folders, decoding, CRC-32
// check, time stamp.
#include <windows.h>

#include "SFXentry.h"
#include "SFXarch.h"
#include "SFXhdr.h"
#include "SFXname.h"
#include "SFXpath.h"
#include "../decode/SFXcrypt.h"
#include "../decode/SFXinflt.h"
#include "../decode/SFXio.h"
#include "../decode/SFXstore.h"
#include "../startup/SFXstate.h"
#include "../startup/SFXtext.h"
#include "../ui/SFXovr.h"
#include "../ui/SFXpwd.h"
#include "../ui/SFXres.h"

enum : int32_t {
    PasswordTries = 3,
};

bool EntryAccepted = false;
static bool UnsafeNameWarned = false;

// The folder that the walk last found or made. Entries arrive folder by
// folder, and asking the file system again for every file is what costs
// most on a slow file system.
static char FolderOfLastEntry[PathTextSize];

static bool SameText(const char* a, const char* b)
{
    for (; *a == *b; a++, b++)
        if (*a == 0)
            return true;
    return false;
}

static void DeselectEntry(HWND list)
{
    SendMessageA(list, LB_SETSEL, FALSE, ListSearchIndex);
}

// Tries the remembered password, then asks up to three times. The 12 stored
// header bytes sit in the second half of the block so that every try
// decrypts them afresh into the first half.
static bool AcceptPassword()
{
    uint8_t block[2 * EncryptionHeaderSize] = {0};
    ReadArchive(block, EncryptionHeaderSize);
    for (int32_t i = 0; i < EncryptionHeaderSize; i++)
        block[EncryptionHeaderSize + i] = block[i];

    bool accepted = false;
    if (Password[0] != 0)
        accepted = CheckPassword(block, EncryptionHeaderSize, EntryHeader.Flags, EntryHeader.Crc32,
                                 EntryHeader.TimeDate, Password);
    for (int32_t tries = 0; !accepted && tries < PasswordTries; tries++) {
        AskForPassword();
        StringFromBuffer(PasswordText, (uint16_t)PasswordLength, Password, sizeof Password);
        accepted = CheckPassword(block, EncryptionHeaderSize, EntryHeader.Flags, EntryHeader.Crc32,
                                 EntryHeader.TimeDate, Password);
    }
    return accepted;
}

static void ShowPathError(const char* lead, const char* path, const char* caption)
{
    char text[PathTextSize + 32];
    CopyText(text, sizeof text, lead);
    AppendText(text, sizeof text, "\"");
    AppendText(text, sizeof text, path);
    AppendText(text, sizeof text, "\".");
    MessageBoxA(0, text, caption, MB_OK | MB_ICONHAND);
}

void BeginEntryWalk()
{
    UnsafeNameWarned = false;
    FolderOfLastEntry[0] = 0;
}

void RefuseUnsafeName(const char* name)
{
    // One box per run is enough to explain why such items stay selected;
    // a hostile archive may hold thousands of them.
    if (UnsafeNameWarned)
        return;
    UnsafeNameWarned = true;
    char text[PathTextSize + 128];
    CopyText(text, sizeof text, "The name \"");
    AppendText(text, sizeof text, name);
    AppendText(text, sizeof text, "\" would be written outside the destination folder or to a device. "
                                  "Files with such names are not extracted.");
    MessageBoxA(0, text, TEXT_WARNING_CAPTION, MB_OK | MB_ICONEXCLAMATION);
}

// A folder entry (name ending in a separator) is done when the folder exists.
static EntryOutcome ExtractFolderEntry(HWND list, char* target)
{
    ForceFolders(target);
    if (!PathExists(target)) {
        RemoveBackslash(target);
        MessageBoxA(0, target, TEXT_ERROR_IN_DIR, MB_OK | MB_ICONHAND);
        return EndWalk;
    }
    DeselectEntry(list);
    return Next;
}

// Applies the overwrite policy to an existing target. True: write it.
static bool MayOverwrite(HWND list, const char* target)
{
    switch (OverwriteChoice) {
    case 1:
        DeselectEntry(list);
        return false;
    case 2:
        FileNamePart(target, OverwriteFileName, sizeof OverwriteFileName);
        AskToOverwrite();
        if (!OverwriteAnswer) {
            DeselectEntry(list);
            return false;
        }
        return true;
    default:
        return true;
    }
}

// Takes at most one waiting message, so the dialog stays responsive and a
// radio click takes effect for the next existing file.
static void DispatchOneMessage()
{
    MSG message;
    if (PeekMessageA(&message, 0, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

static void DecodeIntoOutput()
{
    RunningCrc = 0xFFFFFFFF;
    DataRemaining = EntryDataSize();
    if (EntryHeader.Method == MethodStored)
        CopyStoredEntry();
    else
        InflateEntry();
}

EntryOutcome ExtractEntry(HWND dialog, HWND list, const char* name)
{
    EntryAccepted = false;
    if (EntryNameFault(name) != NameFine) {
        EntryAccepted = true;              // taken up, and failed: the run reports it
        RefuseUnsafeName(name);
        return Next;
    }

    if (EntryHeader.Flags & FlagEncrypted) {
        EntryAccepted = AcceptPassword();
        if (!EntryAccepted)
            return EndWalk;
    } else {
        EntryAccepted = true;
    }

    AddBackslash(DestFolder, DestFolderSize);
    RemoveBackslash(DestFolder);
    char target[PathTextSize];
    if (!CopyText(target, sizeof target, DestFolder) || !AppendText(target, sizeof target, "\\")
        || !AppendText(target, sizeof target, name) || StrLength(target) >= MAX_PATH) {
        // Longer than the system's paths: the entry fails, the run goes on.
        ShowPathError("Cannot Open File ", target, "Cannot Open File.");
        return Next;
    }

    bool exists = PathExists(target);     // also turns "/" into "\"
    uint16_t length = StrLength(target);
    if (target[length - 1] == '\\')
        return ExtractFolderEntry(list, target);

    // Decide on the method before the target is touched: an existing file
    // must not be emptied for an entry that cannot be decoded.
    if (EntryHeader.Method != MethodStored && EntryHeader.Method != MethodDeflated) {
        MessageBoxA(0, "Unknown compression type", TEXT_WARNING_CAPTION, MB_OK | MB_ICONHAND);
        return Abort;
    }
    if (EntryLacksData())
        return Next;                       // fails; the target is not touched

    if (exists) {
        if (!MayOverwrite(list, target))
            return Next;
    } else {
        char folder[PathTextSize];
        ParentPath(target, folder, sizeof folder);
        if (!SameText(folder, FolderOfLastEntry)) {
            ForceFolders(folder);
            if (!PathExists(folder)) {
                MessageBoxA(0, folder, TEXT_ERROR_IN_DIR, MB_OK | MB_ICONHAND);
                return EndWalk;
            }
            CopyText(FolderOfLastEntry, sizeof FolderOfLastEntry, folder);
        }
    }

    OutputHandle = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_WRITE, 0, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, 0);
    if (OutputHandle == INVALID_HANDLE_VALUE) {
        ShowPathError("Cannot Open File ", target, "Cannot Open File.");
        return Next;
    }

    char progress[PathTextSize + 16] = "Uncompressing ";
    AppendText(progress, sizeof progress, target);
    SendDlgItemMessageA(dialog, IDC_FOOTER, WM_SETTEXT, 0, (LPARAM)progress);
    DispatchOneMessage();

    DecodeIntoOutput();
    if (EntryDataComplete && (RunningCrc ^ 0xFFFFFFFF) == EntryHeader.Crc32)
        DeselectEntry(list);

    SetFileTimeFromDos(OutputHandle, EntryHeader.TimeDate);
    if (!CloseHandle(OutputHandle))
        ShowPathError("Cannot Close File ", target, "Cannot close the file");
    OutputHandle = 0;
    return Next;
}
