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
bool EntryDone = false;
bool EntryKept = false;
static bool UnsafeNameWarned = false;

// The current entry's target: as it is shown (the destination, "\" and the
// name, every "/" a "\"), and as the system takes it (SystemPath). The
// data are written to TempTarget, a file of the target's name in the
// temporary folder inside the target's own folder, which is renamed to the
// target only once it is whole and verified.
static NameUnit Target[PathTextSize];
static NameUnit SystemTarget[PathTextSize];
static NameUnit TempTarget[PathTextSize];
static int32_t TempFolderLength = 0;           // TempTarget's folder part
// The temporary folder that this walk made last, if any; removed (when
// empty) when the walk moves on to another folder and at its end.
static NameUnit MadeTempFolder[PathTextSize];
// Room for a message that names a path.
static NameUnit BoxText[PathTextSize + 200];

static void DeselectEntry(HWND list)
{
    SendMessageW(list, LB_SETSEL, FALSE, ListSearchIndex);
    EntryDone = true;
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
    // A silent run asks nobody: without /P, or with a wrong one, it fails.
    for (int32_t tries = 0; !accepted && !SilentRun && tries < PasswordTries; tries++) {
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

static void RemoveTempFolder()
{
    if (MadeTempFolder[0] != 0)
        RemoveDirectoryW(MadeTempFolder);
    MadeTempFolder[0] = 0;
}

void EndEntryWalk()
{
    RemoveTempFolder();
}

// One box per run is enough to explain why such items stay selected; a
// hostile archive may hold thousands of them. It gives the first one's
// reason.
static void RefuseName(const NameUnit* shown, NameFault fault)
{
    // By fault: NameLeavesFolder, NameForbiddenCharacter, NameTrailingDotOrBlank, NameNotDecodable.
    static const char reasons[] =
        "\" would be written outside the destination folder or to a device. \0"
        "\" holds characters that Windows does not allow in file names. \0"
        "\" ends in a dot or a blank, which Windows does not keep. \0"
        "\" is not valid in the encoding that the archive gives for it. \0";
    enum : int32_t { Size = NameUnitsMax + 200 };
    BoxText[0] = 0;
    AppendAscii(BoxText, Size, "The name \"");
    AppendText(BoxText, Size, shown);
    AppendAscii(BoxText, Size, NthText(reasons, fault - 1));
    AppendAscii(BoxText, Size, "Files with such names are not extracted.");
    if (UnsafeNameWarned) {
        NoteMessage(BoxText, TEXT_WARNING_CAPTION);     // for the log
        return;
    }
    UnsafeNameWarned = true;
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
        EntryKept = true;
        return false;
    case 2:
        FileNamePart(Target, OverwriteFileName, FileNamePartMax + 1);
        AskToOverwrite();
        if (!OverwriteAnswer) {
            DeselectEntry(list);
            EntryKept = true;
            return false;
        }
        return true;
    default:
        return true;
    }
}

// Whether the existing file at the target is the entry's own: its stored
// name is the entry's, exactly. An 8.3 alias or another spelling (another
// case too) names some other file, which the entry must not replace or
// count as kept.
static bool TargetIsEntrysOwn()
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(SystemTarget, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    NameUnit name[FileNamePartMax + 1];
    FileNamePart(Target, name, FileNamePartMax + 1);
    return SameText(found.cFileName, name);
}

enum ExistingVerdict {
    Replace,            // the policy says write it
    Kept,               // the policy keeps it: done, the item deselected
    Refused,            // another file's name: the entry fails
};

// The target exists: what becomes of it.
static ExistingVerdict JudgeExisting(HWND list)
{
    if (!TargetIsEntrysOwn()) {
        ShowPathError("Cannot Open File ", "Cannot Open File.");
        return Refused;
    }
    return MayOverwrite(list) ? Replace : Kept;
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

// Creates the temporary file, and the temporary folder when the entry's
// folder is not the one that this walk used last.
static HANDLE CreateTemp()
{
    TempTarget[TempFolderLength] = 0;
    if (!SameText(TempTarget, MadeTempFolder)) {
        RemoveTempFolder();
        CreateDirectoryW(TempTarget, 0);
        CopyText(MadeTempFolder, PathTextSize, TempTarget);
    }
    TempTarget[TempFolderLength] = '\\';
    return CreateFileW(TempTarget, GENERIC_WRITE | DELETE, FILE_SHARE_WRITE, 0, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, 0);
}

// Gives the open temporary file the target's name; through its handle, so
// that the system need not find the file again.
static bool RenameTemp(bool replace)
{
    static struct {
        FILE_RENAME_INFO Info;
        NameUnit Room[PathTextSize];
    } rename;
    rename.Info.ReplaceIfExists = replace;
    CopyText(rename.Info.FileName, PathTextSize, SystemTarget);
    rename.Info.FileNameLength = StrLength(SystemTarget) * (DWORD)sizeof(NameUnit);
    return SetFileInformationByHandle(OutputHandle, FileRenameInfo, &rename, sizeof rename) != 0;
}

enum TargetOutcome {
    TargetOpen,         // OutputHandle is the temporary file
    TargetFailed,       // "Cannot Open File": the entry fails
    TargetNoFolder,     // "Error in directory": the walk ends
};

// Opens the temporary file for writing; one left by a run that was ended
// mid-entry is taken over. Folders are made only when the system says that
// the path is missing.
static TargetOutcome OpenTemp()
{
    OutputHandle = CreateTemp();
    if (OutputHandle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
        // The entry's folder is missing (or the temporary one has gone).
        MadeTempFolder[0] = 0;
        if (!MakeTargetFolder())
            return TargetNoFolder;
        OutputHandle = CreateTemp();
    }
    if (OutputHandle != INVALID_HANDLE_VALUE)
        return TargetOpen;
    ShowPathError("Cannot Open File ", "Cannot Open File.");
    return TargetFailed;
}

// Gives the whole, verified file the target's name. A new target, by far
// the most common case, costs this one rename; an existing one that was not
// judged before (the policy was to overwrite) is judged now. False when the
// temporary file is still there.
static bool CommitTarget(HWND list, bool replace)
{
    if (RenameTemp(replace)) {
        DeselectEntry(list);
        return true;
    }
    DWORD error = GetLastError();
    if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
        ExistingVerdict verdict = JudgeExisting(list);
        if (verdict != Replace)
            return false;
        if (RenameTemp(true)) {
            DeselectEntry(list);
            return true;
        }
    }
    ShowPathError("Cannot Open File ", "Cannot Open File.");
    return false;
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

// The temporary folder's name. It ends in a dot, so no entry's name can
// have it as a part (such names are refused), and only a literal path
// ("\\?\") can create it. Writing there rather than beside the target keeps
// the new name's test for a file of the same name (which a file system that
// folds case may make by reading the folder) to the rename alone.
static const char TempFolderName[] = "~sfx.";

// Target, SystemTarget and TempTarget for the entry: DestFolder, "\" and
// the decoded name, every "/" a "\". False when the path is longer than
// the system takes.
static bool BuildTarget(const EntryName& name)
{
    AddBackslash(DestFolder, DestFolderSize);
    RemoveBackslash(DestFolder);
    Target[0] = 0;
    bool fits = AppendText(Target, PathTextSize, DestFolder) && AppendAscii(Target, PathTextSize, "\\")
             && AppendText(Target, PathTextSize, name.Units);
    SlashesToBackslashes(Target);
    if (!fits || !SystemPath(Target, SystemTarget) || !SystemPath(Target, TempTarget, 0))
        return false;
    int32_t nameStart = StrLength(TempTarget);
    while (TempTarget[nameStart - 1] != '\\')
        nameStart--;
    NameUnit last[FileNamePartMax + 1];
    if (!CopyText(last, FileNamePartMax + 1, TempTarget + nameStart))
        return false;
    TempTarget[nameStart] = 0;
    AppendAscii(TempTarget, PathTextSize, TempFolderName);
    TempFolderLength = StrLength(TempTarget);
    return AppendAscii(TempTarget, PathTextSize, "\\") && AppendText(TempTarget, PathTextSize, last);
}

EntryOutcome ExtractEntry(HWND list, const EntryName& name)
{
    EntryAccepted = false;
    EntryDone = false;
    EntryKept = false;
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
        if (WidePathExists(SystemTarget) && JudgeExisting(list) != Replace)
            return Next;
        if (!unknownMethod)
            return Next;                   // fails; the target is not touched
        ShowNotice("Unknown compression type", TEXT_WARNING_CAPTION, MB_ICONHAND);
        return Abort;
    }

    // A policy that may keep an existing file is asked before anything is
    // written; overwriting needs no test now, the rename finds the file.
    bool replace = false;
    if (OverwriteChoice != 0 && WidePathExists(SystemTarget)) {
        if (JudgeExisting(list) != Replace)
            return Next;
        replace = true;
    }
    TargetOutcome opened = OpenTemp();
    ProfileMark(ProfileCreate);
    if (opened == TargetNoFolder)
        return EndWalk;
    if (opened != TargetOpen)
        return Next;

    ShowProgress(Target);
    TakeQueuedMessage();
    ProfileMark(ProfileProgress);

    DecodingEntry = 1;
    DecodeIntoOutput();
    DecodingEntry = 0;
    ProfileMark(ProfileDecode);
    bool whole = EntryDataComplete && (RunningCrc ^ 0xFFFFFFFF) == EntryHeader.Crc32;

    SetFileTimeFromDos(OutputHandle, EntryHeader.TimeDate);
    ProfileMark(ProfileStamp);
    // Only a whole file takes the target's name; anything else goes, and
    // the existing file stays as it was.
    bool committed = whole && CommitTarget(list, replace);
    ProfileMark(ProfileCommit);
    bool closed = CloseHandle(OutputHandle);
    OutputHandle = 0;
    if (!closed)
        ShowPathError("Cannot Close File ", "Cannot close the file");
    if (!committed)
        DeleteFileW(TempTarget);
    ProfileMark(ProfileClose);
    return Next;
}
