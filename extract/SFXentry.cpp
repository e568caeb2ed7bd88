// Entry extraction: password, overwrite policy, folders, decoding, CRC-32
// check, time stamp.
#include <windows.h>

#include "SFXentry.h"
#include "SFXarch.h"
#include "SFXhdr.h"
#include "SFXpath.h"
#include "SFXprog.h"
#include "SFXprof.h"
#include "SFXtemp.h"
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
// data are written to TempTarget, a file in the walk's temporary folder,
// which is renamed to the target only once it is whole and verified.
static NameUnit Target[PathTextSize];
static NameUnit SystemTarget[PathTextSize];
static NameUnit TempTarget[PathTextSize];

// The walk's temporary folder, made in the destination folder when the
// first file is written: one per walk, and a rename from it stays on the
// destination's volume. Only a folder that this walk's CreateDirectoryW
// made is used, and it is held open for the walk, without leave to delete
// or rename it, so that nobody can put another folder or a reparse point
// in its place. TempFolderState says how far it has come.
static NameUnit TempFolder[PathTextSize];
static HANDLE TempFolderHandle = INVALID_HANDLE_VALUE;
enum TempFolderStates : uint8_t { TempNotMade, TempMade, TempUnavailable };
static uint8_t TempFolderState = TempNotMade;
// A folder below the destination may be another volume (a mount point),
// which no rename reaches: an entry found to go there is moved into a
// temporary folder made in its own folder, which later entries for that
// folder are written in at once. One such folder at a time; the walk
// removes it when another is needed and at its end.
static NameUnit OtherTempFolder[PathTextSize];
static HANDLE OtherTempHandle = INVALID_HANDLE_VALUE;
static NameUnit OtherTempTarget[PathTextSize];
static NameUnit OtherTempParent[PathTextSize];    // the target's folder, as SystemTarget has it
// The temporary file that the entry is written to: TempTarget or OtherTempTarget.
static const NameUnit* CurrentTemp = TempTarget;
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
    TempFolderState = TempNotMade;
}

static void RemoveOtherTempFolder()
{
    if (OtherTempHandle != INVALID_HANDLE_VALUE)
        RemoveTempFolder(OtherTempFolder, OtherTempHandle);
    OtherTempHandle = INVALID_HANDLE_VALUE;
    OtherTempParent[0] = 0;
}

void EndEntryWalk()
{
    if (TempFolderState == TempMade)
        RemoveTempFolder(TempFolder, TempFolderHandle);
    TempFolderHandle = INVALID_HANDLE_VALUE;
    TempFolderState = TempNotMade;
    RemoveOtherTempFolder();
}

// One box per run is enough to explain why such items stay selected; a
// hostile archive may hold thousands of them. It gives the first one's
// reason.
static void RefuseName(const NameUnit* shown, NameFault fault)
{
    // By fault: NameLeavesFolder, NameForbiddenCharacter, NameTrailingDotOrBlank, NameNotDecodable,
    // NameReserved.
    static const char reasons[] =
        "\" would be written outside the destination folder or to a device. \0"
        "\" holds characters that Windows does not allow in file names. \0"
        "\" ends in a dot or a blank, which Windows does not keep. \0"
        "\" is not valid in the encoding that the archive gives for it. \0"
        "\" uses the name of the folder in which files are written before they take their names. \0";
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
// name is the entry's but for case, which on Windows names the same file
// (the policy decides about it as about any). An 8.3 alias or another
// spelling names some other file, which the entry must not replace or
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
    return CompareStringOrdinal(found.cFileName, -1, name, -1, TRUE) == CSTR_EQUAL;
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

// Makes the walk's temporary folder in the destination folder and the
// path of the file written in it. False when the destination is missing
// (ERROR_PATH_NOT_FOUND) or no folder could be made; then TempFolderState
// says which.
static bool MakeWalkTempFolder()
{
    static NameUnit destination[PathTextSize];
    if (!CopyText(destination, PathTextSize, DestFolder) || !AddBackslash(destination, PathTextSize)
        || !SystemPath(destination, destination, 0)) {
        TempFolderState = TempUnavailable;
        return false;
    }
    TempFolderHandle = MakeTempFolder(destination, TempFolder);
    if (TempFolderHandle == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_PATH_NOT_FOUND)
            TempFolderState = TempUnavailable;
        return false;
    }
    TempFolderState = TempMade;
    TempTarget[0] = 0;
    if (!AppendText(TempTarget, PathTextSize, TempFolder) || !AppendAscii(TempTarget, PathTextSize, "\\")
        || !AppendAscii(TempTarget, PathTextSize, TempFileName)) {
        RemoveTempFolder(TempFolder, TempFolderHandle);
        TempFolderHandle = INVALID_HANDLE_VALUE;
        TempFolderState = TempUnavailable;
        return false;
    }
    return true;
}

// Creates a temporary file, never opening one that is there already: a
// file of that name that this run did not leave is taken away first (in
// the run's own folder it can only be a link that someone planted there).
static HANDLE CreateTempFile(const NameUnit* path)
{
    CurrentTemp = path;
    for (int32_t tries = 0;; tries++) {
        HANDLE file = CreateFileW(path, GENERIC_WRITE | DELETE, FILE_SHARE_WRITE, 0, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, 0);
        if (file != INVALID_HANDLE_VALUE || tries > 0 || GetLastError() != ERROR_FILE_EXISTS
            || !DeleteFileW(path))
            return file;
    }
}

// The target's folder, with its backslash, as SystemTarget has it, into
// folder; false when it does not fit.
static bool TargetFolderOf(NameUnit* folder)
{
    if (!CopyText(folder, PathTextSize, SystemTarget))
        return false;
    folder[ParentLength(folder, StrLength(folder))] = 0;
    return AddBackslash(folder, PathTextSize);
}

// Creates the temporary file: in the folder for another volume when the
// target lies in that folder, else in the walk's folder, made with the
// first file.
static HANDLE CreateTemp()
{
    if (OtherTempHandle != INVALID_HANDLE_VALUE) {
        static NameUnit folder[PathTextSize];
        if (TargetFolderOf(folder) && SameText(folder, OtherTempParent))
            return CreateTempFile(OtherTempTarget);
    }
    if (TempFolderState != TempMade) {
        if (TempFolderState == TempUnavailable || !MakeWalkTempFolder()) {
            if (TempFolderState == TempNotMade)
                SetLastError(ERROR_PATH_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
    }
    return CreateTempFile(TempTarget);
}

// The whole, verified file in the walk's folder lies on another volume
// than its target: it is moved (copied, then deleted) into a temporary
// folder made in the target's own folder, and opened there. False, with
// OutputHandle open on whichever file there is (or 0), when it could not.
static bool MoveToTargetVolume()
{
    static NameUnit folder[PathTextSize];
    RemoveOtherTempFolder();
    if (!TargetFolderOf(OtherTempParent) || !SystemPath(OtherTempParent, folder, 0))
        return false;
    OtherTempHandle = MakeTempFolder(folder, OtherTempFolder);
    OtherTempTarget[0] = 0;
    if (OtherTempHandle == INVALID_HANDLE_VALUE || !AppendText(OtherTempTarget, PathTextSize, OtherTempFolder)
        || !AppendAscii(OtherTempTarget, PathTextSize, "\\")
        || !AppendAscii(OtherTempTarget, PathTextSize, TempFileName)) {
        RemoveOtherTempFolder();
        return false;
    }
    bool closed = CloseHandle(OutputHandle) != 0;
    bool moved = closed && MoveFileExW(TempTarget, OtherTempTarget, MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH);
    CurrentTemp = moved ? OtherTempTarget : TempTarget;
    OutputHandle = CreateFileW(CurrentTemp, GENERIC_WRITE | DELETE, FILE_SHARE_WRITE, 0, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, 0);
    if (OutputHandle == INVALID_HANDLE_VALUE) {
        OutputHandle = 0;
        return false;
    }
    SetFileTimeFromDos(OutputHandle, EntryHeader.TimeDate);
    return moved;
}

// Gives the open temporary file the target's name; through its handle, so
// that the system need not find the file again. A file that it replaces
// is the user's only copy until then: the new data go to the disk first,
// so that a power cut cannot leave the name with data that never arrived.
static bool RenameTemp(bool replace)
{
    if (replace)
        FlushFileBuffers(OutputHandle);
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
};

// Opens the temporary file for writing. The walk's temporary folder is made
// with the first one; the destination's folders too, when the system says
// that they are missing.
static TargetOutcome OpenTemp(bool& noFolder)
{
    noFolder = false;
    OutputHandle = CreateTemp();
    if (OutputHandle == INVALID_HANDLE_VALUE && TempFolderState == TempNotMade
        && GetLastError() == ERROR_PATH_NOT_FOUND) {
        if (!MakeTargetFolder()) {
            noFolder = true;
            return TargetFailed;
        }
        OutputHandle = CreateTemp();
    }
    if (OutputHandle != INVALID_HANDLE_VALUE)
        return TargetOpen;
    OutputHandle = 0;
    ShowPathError("Cannot Open File ", "Cannot Open File.");
    return TargetFailed;
}

// Gives the whole, verified file the target's name. A new target, by far
// the most common case, costs this one rename; a file that came about since
// the target was looked at is judged now. False when the temporary file is
// still there.
static bool CommitTarget(HWND list, bool replace)
{
    bool renamed = RenameTemp(replace);
    if (!renamed && GetLastError() == ERROR_NOT_SAME_DEVICE && CurrentTemp == TempTarget) {
        if (!MoveToTargetVolume()) {
            ShowPathError("Cannot Open File ", "Cannot Open File.");
            return false;
        }
        renamed = RenameTemp(replace);
    }
    if (renamed) {
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

// An entry whose file was written, or kept, fails after all: its item is
// selected again and the walk counts it.
static void FailEntry(HWND list)
{
    SendMessageW(list, LB_SETSEL, TRUE, ListSearchIndex);
    EntryDone = false;
    EntryKept = false;
}

// Takes the temporary file away through its handle, before it is closed.
static bool DiscardTemp()
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(OutputHandle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
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

    // One look at the target tells whether it exists, whether it is
    // read-only, and whether its folder is missing.
    DWORD attributes = GetFileAttributesW(SystemTarget);
    bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    bool folderMissing = !exists && GetLastError() == ERROR_PATH_NOT_FOUND;

    // An entry that cannot be written is found out before its target is
    // created or emptied; an existing file that the policy keeps is done
    // all the same, whatever the entry holds.
    bool unknownMethod = EntryHeader.Method != MethodStored && EntryHeader.Method != MethodDeflated;
    if (unknownMethod || EntryLacksData()) {
        if (exists && JudgeExisting(list) != Replace)
            return Next;
        if (!unknownMethod)
            return Next;                   // fails; the target is not touched
        ShowNotice("Unknown compression type", TEXT_WARNING_CAPTION, MB_ICONHAND);
        return Abort;
    }

    // An existing file is judged before anything is written: another
    // file's name fails, the policy may keep it, and a read-only file
    // cannot be replaced (the rename would fail only after the decoding).
    bool replace = false;
    if (exists) {
        if (JudgeExisting(list) != Replace)
            return Next;
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            ShowPathError("Cannot Open File ", "Cannot Open File.");
            return Next;
        }
        replace = true;
    }
    if (folderMissing && !MakeTargetFolder())
        return EndWalk;
    bool noFolder;
    TargetOutcome opened = OpenTemp(noFolder);
    ProfileMark(ProfileCreate);
    if (noFolder)
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
    bool discarded = committed || (OutputHandle != 0 && DiscardTemp());
    bool closed = OutputHandle == 0 || CloseHandle(OutputHandle) != 0;
    OutputHandle = 0;
    if (!closed) {
        // The system may have lost data that it had taken: the file that
        // has the target's name is not known to be whole.
        ShowPathError("Cannot Close File ", "Cannot close the file");
        if (committed)
            FailEntry(list);
    }
    if (!discarded && !DeleteFileW(CurrentTemp)) {
        // Left behind in the temporary folder, which then stays too.
        ShowPathError("Cannot Delete File ", "Cannot delete the file");
        FailEntry(list);
    }
    ProfileMark(ProfileClose);
    return Next;
}
