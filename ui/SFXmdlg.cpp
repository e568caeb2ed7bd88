// Main dialog procedure: the settings become the state of the controls,
// the file lists are filled by a listing walk, "&Unzip" runs the
// extracting walk and, when every selected file was dealt with, launches
// the configured program and closes.
#include <windows.h>

#include "SFXmdlg.h"
#include "SFXres.h"
#include "SFXsel.h"
#include "SFXwin.h"
#include "../decode/SFXio.h"
#include "../extract/SFXpath.h"
#include "../extract/SFXrun.h"
#include "../startup/SFXcmd.h"
#include "../startup/SFXlaunch.h"
#include "../startup/SFXstate.h"
#include "../startup/SFXtext.h"

static const char RunCaptionLead[] = "After Extraction, E&xecute ";

// The initial destination: the default folder when it fits DestFolder,
// otherwise the current folder. A longer default is not cut, since a cut
// path names some other folder.
static void UseCurrentFolder()
{
    DWORD length = GetCurrentDirectoryW(DestFolderSize, DestFolder);
    if (length == 0 || length >= (DWORD)DestFolderSize)
        DestFolder[0] = 0;
}

static void SetInitialFolder()
{
    if (!HasDefaultFolder || !CopyText(DestFolder, DestFolderSize, DefaultFolder))
        UseCurrentFolder();
}

// Appends the file-name part of one command part to the caption.
static void AppendCommandName(NameUnit* caption, int32_t size, int32_t part)
{
    NameUnit* text = BuildCommandPart(part);
    if (text == 0)
        return;
    NameUnit name[FileNamePartMax + 1];
    FileNamePart(text, name, FileNamePartMax + 1);
    AppendText(caption, size, name);
    ReleaseBlock(text);
}

static void SetUpRunCheckBox(HWND runCheck)
{
    if (!HasRunCommand) {
        ShowWindow(runCheck, SW_HIDE);
        return;
    }
    enum : int32_t { Size = sizeof RunCaptionLead + 2 * FileNamePartMax + 2 };
    NameUnit caption[Size] = {0};
    AppendAscii(caption, Size, RunCaptionLead);
    AppendCommandName(caption, Size, 1);
    AppendAscii(caption, Size, " ");
    AppendCommandName(caption, Size, 2);
    SendMessageW(runCheck, WM_SETTEXT, 0, (LPARAM)caption);
    SendMessageW(runCheck, BM_SETCHECK, NoRunSwitch ? BST_UNCHECKED : BST_CHECKED, 0);
    if (!ShowRunCheckBox)
        ShowWindow(runCheck, SW_HIDE);   // hidden, and still checked
}

static void RemoveOverwriteOptions(HWND dialog)
{
    DestroyWindow(GetDlgItem(dialog, IDC_OVERWRITE_ALWAYS));
    DestroyWindow(GetDlgItem(dialog, IDC_OVERWRITE_NEVER));
    DestroyWindow(GetDlgItem(dialog, IDC_OVERWRITE_CONFIRM));
    DestroyWindow(GetDlgItem(dialog, IDC_OVERWRITE_LABEL));
}

static void OnInitDialog(HWND dialog)
{
    HWND runCheck = GetDlgItem(dialog, IDC_RUN_CHECK);
    SetInitialFolder();
    // Before the folder box is filled: building the command adds the
    // trailing backslash that the box then shows.
    SetUpRunCheckBox(runCheck);
    SendDlgItemMessageW(dialog, IDC_FOLDER_EDIT, WM_SETTEXT, 0, (LPARAM)DestFolder);
    SendDlgItemMessageW(dialog, IDC_FOLDER_EDIT, EM_SETSEL, 0, 0x7FFF);
    SendDlgItemMessageW(dialog, OverwriteMode, BM_SETCHECK, BST_CHECKED, 0);
    OverwriteChoice = (uint8_t)(OverwriteMode - OverwriteAlways);
    if (HideOverwriteOptions)
        RemoveOverwriteOptions(dialog);
    if (HasTitle)
        SendMessageW(dialog, WM_SETTEXT, 0, (LPARAM)TitleText);
    CenterWindow(dialog);
    ProcessArchive(dialog, IDC_FILE_LIST, true);
    if (UserSelectsFiles) {
        ShowWindow(GetDlgItem(dialog, IDC_PLAIN_LIST), SW_HIDE);
    } else {
        ShowWindow(GetDlgItem(dialog, IDC_FILE_LIST), SW_HIDE);
        ProcessArchive(dialog, IDC_PLAIN_LIST, true);
    }
    SendDlgItemMessageW(dialog, IDC_FILE_LIST, LB_SETSEL, TRUE, -1);
    MainWindow = dialog;
    // Unzip at once, once the dialog shows (a silent run presses it itself).
    if (AutomaticRun && !SilentRun)
        PostMessageW(dialog, WM_COMMAND, IDC_OK, 0);
}

// The destination as typed, resolved once against the current folder, into
// DestFolder and the folder box, so that the user sees where the files go.
// False, with nothing extracted, when there is none: a part that ends in a
// dot or a blank names a folder that Windows would make without them
// ("Error in directory", with the path as typed).
static bool ResolveDestination(HWND dialog)
{
    static NameUnit typed[DestFolderSize];
    UINT length = GetItemText(dialog, IDC_FOLDER_EDIT, typed, DestFolderSize);
    typed[length < (UINT)DestFolderSize ? length : DestFolderSize - 1] = 0;
    if (typed[0] == 0) {
        UseCurrentFolder();
        // An empty folder would put the files at the root of the drive.
        // The current folder always fits DestFolder, so this is a system
        // that cannot say where it is: nothing is extracted.
        if (DestFolder[0] == 0)
            return false;
    } else {
        if (HasPartEndingInDotOrBlank(typed)) {
            ShowMessage(typed, TEXT_ERROR_IN_DIR, MB_ICONHAND);
            return false;
        }
        DWORD full = GetFullPathNameW(typed, DestFolderSize, DestFolder, 0);
        if (full == 0 || full >= (DWORD)DestFolderSize) {
            DestFolder[0] = 0;
            ShowMessage(typed, TEXT_ERROR_IN_DIR, MB_ICONHAND);
            return false;
        }
    }
    // A drive's root keeps its backslash in the box.
    if (StrLength(DestFolder) > 3)
        RemoveBackslash(DestFolder);
    SetItemText(dialog, IDC_FOLDER_EDIT, DestFolder);
    return true;
}

static void OnUnzip(HWND dialog)
{
    if (!UserSelectsFiles) {
        // Every file is extracted: the selectable list, all selected,
        // takes the plain list's place so the user can watch the walk.
        SendDlgItemMessageW(dialog, IDC_FILE_LIST, LB_SETSEL, TRUE, -1);
        ShowWindow(GetDlgItem(dialog, IDC_PLAIN_LIST), SW_HIDE);
        ShowWindow(GetDlgItem(dialog, IDC_FILE_LIST), SW_SHOW);
    }
    if (!ResolveDestination(dialog))
        return;

    WalkInProgress = 1;
    WalkStopRequested = 0;
    ProcessArchive(dialog, IDC_FILE_LIST, false);
    WalkInProgress = 0;

    if (WalkStopRequested) {
        EndDialog(dialog, IDC_CANCEL);  // Close was pressed during the walk
        return;
    }
    if (ExtractionSucceeded) {
        int32_t state = (int32_t)SendDlgItemMessageW(dialog, IDC_RUN_CHECK, BM_GETCHECK, 0, 0);
        if (!LaunchAfterExtraction(state))
            ExitCode = ExitNotStarted;
        EndDialog(dialog, IDC_OK);
    }
}

static void OnBrowse(HWND dialog)
{
    // The selection dialog moves the current folder as the user browses;
    // a relative destination is resolved against the one from before.
    static NameUnit current[PathTextSize];
    DWORD kept = GetCurrentDirectoryW(PathTextSize, current);
    UINT length = GetItemText(dialog, IDC_FOLDER_EDIT, BrowseFolder, FolderTextSize);
    BrowseFolder[length < (UINT)FolderTextSize ? length : FolderTextSize - 1] = 0;
    if (DialogBoxParamW(ModuleInstance, L"DLGSEL", dialog, SelectFolderProc, 0) == IDC_OK)
        SetItemText(dialog, IDC_FOLDER_EDIT, BrowseFolder);
    if (kept > 0 && kept < (DWORD)PathTextSize)
        SetCurrentDirectoryW(current);
}

static INT_PTR OnCommand(HWND dialog, WORD id)
{
    switch (id) {
    case IDC_OK:
        // The walk dispatches messages between entries; a second walk
        // on the same entry state must not start inside it.
        if (!WalkInProgress)
            OnUnzip(dialog);
        return TRUE;
    case IDC_CANCEL:
        // The walk still uses this dialog's controls: ask it to stop, and
        // end the dialog when it has returned.
        if (WalkInProgress)
            WalkStopRequested = 1;
        else
            EndDialog(dialog, IDC_CANCEL);
        return TRUE;
    case IDC_OVERWRITE_ALWAYS:
    case IDC_OVERWRITE_NEVER:
    case IDC_OVERWRITE_CONFIRM:
        OverwriteChoice = (uint8_t)(id - IDC_OVERWRITE_ALWAYS);
        return TRUE;
    case IDC_BROWSE:
        if (!WalkInProgress)
            OnBrowse(dialog);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        return FALSE;
    case WM_COMMAND:
        // Sent by another program while an entry is decoded: its turn comes
        // after the entry, as a click's would.
        if (DecodingEntry) {
            PostMessageW(dialog, message, wParam, lParam);
            return TRUE;
        }
        return OnCommand(dialog, LOWORD(wParam));
    }
    return FALSE;
}

void RunSilently()
{
    // The main dialog's own template without WS_VISIBLE: the walk keeps its
    // books in the dialog's file list, and nothing is ever shown.
    HRSRC found = FindResourceW(ModuleInstance, L"MAINDIALOG", MAKEINTRESOURCEW(5));   // RT_DIALOG
    DWORD size = found != 0 ? SizeofResource(ModuleInstance, found) : 0;
    const void* original = size != 0 ? LockResource(LoadResource(ModuleInstance, found)) : 0;
    DLGTEMPLATE* hidden = original != 0 ? (DLGTEMPLATE*)AllocateBlock(size) : 0;
    if (hidden == 0)
        return;
    __builtin_memcpy(hidden, original, size);
    hidden->style &= ~(DWORD)WS_VISIBLE;
    HWND dialog = CreateDialogIndirectParamW(ModuleInstance, hidden, 0, MainDialogProc, 0);
    ReleaseBlock(hidden);
    if (dialog == 0)
        return;
    SendMessageW(dialog, WM_COMMAND, IDC_OK, 0);
    DestroyWindow(dialog);
}
