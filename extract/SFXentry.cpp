// Entry extraction: password, overwrite policy, folders, decoding, CRC-32
// check, time stamp.
#include <windows.h>

#include "SFXentry.h"
#include "SFXarch.h"
#include "SFXhdr.h"
#include "SFXpath.h"
#include "SFXprog.h"
#include "SFXprof.h"
#include "../decode/SFXcrypt.h"
#include "../decode/SFXinflt.h"
#include "../decode/SFXio.h"
#include "../decode/SFXstore.h"
#include "../startup/SFXstate.h"
#include "../startup/SFXtext.h"
#include "../ui/SFXovr.h"
#include "../ui/SFXpwd.h"

enum : int32_t {
    PasswordTries = 3,
    ShownPathSize = DestFolderSize + NameShownSize,   // the folder, "\" and the name as shown
};

bool EntryAccepted = false;
static bool UnsafeNameWarned = false;

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
    char text[ShownPathSize + 32];
    CopyText(text, sizeof text, lead);
    AppendText(text, sizeof text, "\"");
    AppendText(text, sizeof text, path);
    AppendText(text, sizeof text, "\".");
    MessageBoxA(0, text, caption, MB_OK | MB_ICONHAND);
}

void BeginEntryWalk()
{
    UnsafeNameWarned = false;
}

// One box per run is enough to explain why such items stay selected; a
// hostile archive may hold thousands of them. It gives the first one's
// reason.
static void RefuseName(const char* shown, NameFault fault)
{
    if (UnsafeNameWarned)
        return;
    UnsafeNameWarned = true;
    static const char* const reasons[] = {
        "",
        "\" would be written outside the destination folder or to a device. ",
        "\" holds characters that Windows does not allow in file names. ",
        "\" is not valid in the encoding that the archive gives for it. ",
    };
    char text[NameShownSize + 160];
    CopyText(text, sizeof text, "The name \"");
    AppendText(text, sizeof text, shown);
    AppendText(text, sizeof text, reasons[fault]);
    AppendText(text, sizeof text, "Files with such names are not extracted.");
    MessageBoxA(0, text, TEXT_WARNING_CAPTION, MB_OK | MB_ICONEXCLAMATION);
}

// A folder entry (name ending in a separator) is done when the folder exists.
static EntryOutcome ExtractFolderEntry(HWND list, const NameUnit* target, char* shown)
{
    ForceFolders(target);
    if (!WidePathExists(target)) {
        RemoveBackslash(shown);
        MessageBoxA(0, shown, TEXT_ERROR_IN_DIR, MB_OK | MB_ICONHAND);
        return EndWalk;
    }
    DeselectEntry(list);
    return Next;
}

// Applies the overwrite policy to an existing target. True: write it.
static bool MayOverwrite(HWND list, const char* shown)
{
    switch (OverwriteChoice) {
    case 1:
        DeselectEntry(list);
        return false;
    case 2:
        FileNamePart(shown, OverwriteFileName, sizeof OverwriteFileName);
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

// Creates the target's folders. False after "Error in directory".
static bool MakeTargetFolder(const NameUnit* target, const char* shown)
{
    NameUnit folder[PathTextSize];
    CopyText(folder, PathTextSize, target);
    folder[ParentLength(folder, StrLength(folder))] = 0;
    ForceFolders(folder);
    if (WidePathExists(folder))
        return true;
    char shownFolder[ShownPathSize];
    ParentPath(shown, shownFolder, sizeof shownFolder);
    MessageBoxA(0, shownFolder, TEXT_ERROR_IN_DIR, MB_OK | MB_ICONHAND);
    return false;
}

static HANDLE CreateTarget(const NameUnit* target, DWORD disposition)
{
    return CreateFileW(target, GENERIC_WRITE, FILE_SHARE_WRITE, 0, disposition, FILE_ATTRIBUTE_NORMAL, 0);
}

enum TargetOutcome {
    TargetOpen,         // OutputHandle is the target, new or emptied
    TargetKept,         // an existing file that the policy keeps: done
    TargetFailed,       // "Cannot Open File": the entry fails
    TargetNoFolder,     // "Error in directory": the walk ends
};

// Opens the target for writing. A new file in a folder that exists, by far
// the most common case, costs one call: the file is created only if it is
// not there, the policy is asked only when it is, and folders are made only
// when the system says that the path is missing. (Asking first whether the
// target exists costs as much as creating it on a file system that folds
// case by reading the folder.)
static TargetOutcome OpenTarget(HWND list, const NameUnit* target, const char* shown)
{
    OutputHandle = CreateTarget(target, CREATE_NEW);
    if (OutputHandle != INVALID_HANDLE_VALUE)
        return TargetOpen;
    DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) {
        if (!MakeTargetFolder(target, shown))
            return TargetNoFolder;
        OutputHandle = CreateTarget(target, CREATE_NEW);
        if (OutputHandle != INVALID_HANDLE_VALUE)
            return TargetOpen;
        error = GetLastError();
    }
    if (error == ERROR_FILE_EXISTS || WidePathExists(target)) {
        if (!MayOverwrite(list, shown))
            return TargetKept;
        OutputHandle = CreateTarget(target, CREATE_ALWAYS);
        if (OutputHandle != INVALID_HANDLE_VALUE)
            return TargetOpen;
    }
    ShowPathError("Cannot Open File ", shown, "Cannot Open File.");
    return TargetFailed;
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

// The target as the system takes it (DestFolder, "\", the decoded name,
// every "/" a "\") and as the dialogs show it. False when it is longer than
// the system's paths.
static bool BuildTarget(const EntryName& name, NameUnit* target, char* shown)
{
    AddBackslash(DestFolder, DestFolderSize);
    RemoveBackslash(DestFolder);
    CopyText(shown, ShownPathSize, DestFolder);
    AppendText(shown, ShownPathSize, "\\");
    AppendText(shown, ShownPathSize, name.Shown);
    SlashesToBackslashes(shown);
    int32_t folder = MultiByteToWideChar(CP_ACP, 0, DestFolder, -1, target, PathTextSize);
    if (folder <= 0)
        return false;
    static const NameUnit backslash[] = {'\\', 0};
    if (!AppendText(target, PathTextSize, backslash) || !AppendText(target, PathTextSize, name.Units))
        return false;
    SlashesToBackslashes(target);
    return StrLength(target) < MAX_PATH;
}

EntryOutcome ExtractEntry(HWND list, const EntryName& name)
{
    EntryAccepted = false;
    NameFault fault = name.Decoded ? EntryNameFault(name.Units) : NameNotDecodable;
    if (fault != NameFine) {
        EntryAccepted = true;              // taken up, and failed: the run reports it
        RefuseName(name.Shown, fault);
        return Next;
    }

    if (EntryHeader.Flags & FlagEncrypted) {
        EntryAccepted = AcceptPassword();
        if (!EntryAccepted)
            return EndWalk;
    } else {
        EntryAccepted = true;
    }

    NameUnit target[PathTextSize];
    char shown[ShownPathSize];
    if (!BuildTarget(name, target, shown)) {
        // Longer than the system's paths: the entry fails, the run goes on.
        ShowPathError("Cannot Open File ", shown, "Cannot Open File.");
        return Next;
    }
    uint16_t length = StrLength(target);
    if (target[length - 1] == '\\')
        return ExtractFolderEntry(list, target, shown);

    // An entry that cannot be written is found out before its target is
    // created or emptied; an existing file that the policy keeps is done
    // all the same, whatever the entry holds.
    bool unknownMethod = EntryHeader.Method != MethodStored && EntryHeader.Method != MethodDeflated;
    if (unknownMethod || EntryLacksData()) {
        if (WidePathExists(target) && !MayOverwrite(list, shown))
            return Next;
        if (!unknownMethod)
            return Next;                   // fails; the target is not touched
        MessageBoxA(0, "Unknown compression type", TEXT_WARNING_CAPTION, MB_OK | MB_ICONHAND);
        return Abort;
    }

    TargetOutcome opened = OpenTarget(list, target, shown);
    ProfileMark(ProfileCreate);
    if (opened == TargetNoFolder)
        return EndWalk;
    if (opened != TargetOpen)
        return Next;

    ShowProgress(shown);
    DispatchOneMessage();
    ProfileMark(ProfileProgress);

    DecodingEntry = 1;
    DecodeIntoOutput();
    DecodingEntry = 0;
    ProfileMark(ProfileDecode);
    if (EntryDataComplete && (RunningCrc ^ 0xFFFFFFFF) == EntryHeader.Crc32)
        DeselectEntry(list);
    ProfileMark(ProfileDeselect);

    SetFileTimeFromDos(OutputHandle, EntryHeader.TimeDate);
    ProfileMark(ProfileStamp);
    bool closed = CloseHandle(OutputHandle);
    ProfileMark(ProfileClose);
    if (!closed)
        ShowPathError("Cannot Close File ", shown, "Cannot close the file");
    OutputHandle = 0;
    return Next;
}
