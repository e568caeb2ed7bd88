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
#include "../ui/SFXwin.h"

enum : int32_t { PasswordTries = 3 };

bool EntryAccepted = false;
static bool UnsafeNameWarned = false;

// The current entry's target: as it is shown (the destination, "\" and the
// name, every "/" a "\"), and as the system takes it (SystemPath).
static NameUnit Target[PathTextSize];
static NameUnit SystemTarget[PathTextSize];
// Room for a message that names a path.
static NameUnit BoxText[PathTextSize + 200];

static void DeselectEntry(HWND list)
{
    SendMessageW(list, LB_SETSEL, FALSE, ListSearchIndex);
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

static void ShowPathError(const char* lead, const char* caption)
{
    BoxText[0] = 0;
    AppendAscii(BoxText, PathTextSize + 200, lead);
    AppendAscii(BoxText, PathTextSize + 200, "\"");
    AppendText(BoxText, PathTextSize + 200, Target);
    AppendAscii(BoxText, PathTextSize + 200, "\".");
    ShowMessage(BoxText, caption, MB_ICONHAND);
}

void BeginEntryWalk()
{
    UnsafeNameWarned = false;
}

// One box per run is enough to explain why such items stay selected; a
// hostile archive may hold thousands of them. It gives the first one's
// reason.
static void RefuseName(const NameUnit* shown, NameFault fault)
{
    if (UnsafeNameWarned)
        return;
    UnsafeNameWarned = true;
    static const char* const reasons[] = {
        "",
        "\" would be written outside the destination folder or to a device. ",
        "\" holds characters that Windows does not allow in file names. ",
        "\" ends in a dot or a blank, which Windows does not keep. ",
        "\" is not valid in the encoding that the archive gives for it. ",
    };
    enum : int32_t { Size = NameUnitsMax + 200 };
    BoxText[0] = 0;
    AppendAscii(BoxText, Size, "The name \"");
    AppendText(BoxText, Size, shown);
    AppendAscii(BoxText, Size, reasons[fault]);
    AppendAscii(BoxText, Size, "Files with such names are not extracted.");
    ShowMessage(BoxText, TEXT_WARNING_CAPTION, MB_ICONEXCLAMATION);
}

// "Error in directory", with the folder as the text.
static void ShowFolderError(NameUnit* folder)
{
    ShowMessage(folder, TEXT_ERROR_IN_DIR, MB_ICONHAND);
}

// A folder entry (name ending in a separator) is done when the folder exists.
static EntryOutcome ExtractFolderEntry(HWND list)
{
    ForceFolders(SystemTarget);
    if (!WidePathExists(SystemTarget)) {
        RemoveBackslash(Target);
        ShowFolderError(Target);
        return EndWalk;
    }
    DeselectEntry(list);
    return Next;
}

// Applies the overwrite policy to an existing target. True: write it.
static bool MayOverwrite(HWND list)
{
    switch (OverwriteChoice) {
    case 1:
        DeselectEntry(list);
        return false;
    case 2:
        FileNamePart(Target, OverwriteFileName, FileNamePartMax + 1);
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
static bool MakeTargetFolder()
{
    // The folder is the target cut at its last separator, for as long as
    // the folders are made.
    int32_t parent = ParentLength(SystemTarget, StrLength(SystemTarget));
    NameUnit cut = SystemTarget[parent];
    SystemTarget[parent] = 0;
    ForceFolders(SystemTarget);
    bool made = WidePathExists(SystemTarget);
    SystemTarget[parent] = cut;
    if (!made) {
        Target[ParentLength(Target, StrLength(Target))] = 0;
        ShowFolderError(Target);
    }
    return made;
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
static TargetOutcome OpenTarget(HWND list)
{
    OutputHandle = CreateTarget(SystemTarget, CREATE_NEW);
    if (OutputHandle != INVALID_HANDLE_VALUE)
        return TargetOpen;
    DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) {
        if (!MakeTargetFolder())
            return TargetNoFolder;
        OutputHandle = CreateTarget(SystemTarget, CREATE_NEW);
        if (OutputHandle != INVALID_HANDLE_VALUE)
            return TargetOpen;
        error = GetLastError();
    }
    if (error == ERROR_FILE_EXISTS || WidePathExists(SystemTarget)) {
        if (!MayOverwrite(list))
            return TargetKept;
        OutputHandle = CreateTarget(SystemTarget, CREATE_ALWAYS);
        if (OutputHandle != INVALID_HANDLE_VALUE)
            return TargetOpen;
    }
    ShowPathError("Cannot Open File ", "Cannot Open File.");
    return TargetFailed;
}

// Takes at most one waiting message, so the dialog stays responsive and a
// radio click takes effect for the next existing file.
static void DispatchOneMessage()
{
    MSG message;
    if (PeekMessageW(&message, 0, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
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

// Target and SystemTarget for the entry: DestFolder, "\" and the decoded
// name, every "/" a "\". False when the path is longer than the system
// takes.
static bool BuildTarget(const EntryName& name)
{
    AddBackslash(DestFolder, DestFolderSize);
    RemoveBackslash(DestFolder);
    Target[0] = 0;
    bool fits = AppendText(Target, PathTextSize, DestFolder) && AppendAscii(Target, PathTextSize, "\\")
             && AppendText(Target, PathTextSize, name.Units);
    SlashesToBackslashes(Target);
    return fits && SystemPath(Target, SystemTarget);
}

EntryOutcome ExtractEntry(HWND list, const EntryName& name)
{
    EntryAccepted = false;
    NameFault fault = name.Decoded ? EntryNameFault(name.Units) : NameNotDecodable;
    if (fault != NameFine) {
        EntryAccepted = true;              // taken up, and failed: the run reports it
        RefuseName(name.Units, fault);
        return Next;
    }

    if (EntryHeader.Flags & FlagEncrypted) {
        EntryAccepted = AcceptPassword();
        if (!EntryAccepted)
            return EndWalk;
    } else {
        EntryAccepted = true;
    }

    if (!BuildTarget(name)) {
        // Longer than the system's paths: the entry fails, the run goes on.
        ShowPathError("Cannot Open File ", "Cannot Open File.");
        return Next;
    }
    uint16_t length = StrLength(Target);
    if (Target[length - 1] == '\\')
        return ExtractFolderEntry(list);

    // An entry that cannot be written is found out before its target is
    // created or emptied; an existing file that the policy keeps is done
    // all the same, whatever the entry holds.
    bool unknownMethod = EntryHeader.Method != MethodStored && EntryHeader.Method != MethodDeflated;
    if (unknownMethod || EntryLacksData()) {
        if (WidePathExists(SystemTarget) && !MayOverwrite(list))
            return Next;
        if (!unknownMethod)
            return Next;                   // fails; the target is not touched
        MessageBoxA(0, "Unknown compression type", TEXT_WARNING_CAPTION, MB_OK | MB_ICONHAND);
        return Abort;
    }

    TargetOutcome opened = OpenTarget(list);
    ProfileMark(ProfileCreate);
    if (opened == TargetNoFolder)
        return EndWalk;
    if (opened != TargetOpen)
        return Next;

    ShowProgress(Target);
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
        ShowPathError("Cannot Close File ", "Cannot close the file");
    OutputHandle = 0;
    return Next;
}
