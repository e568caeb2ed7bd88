// Main dialog procedure.
#include <windows.h>

#include "SFXmdlg.h"
#include "SFXres.h"
#include "SFXwin.h"
#include "../startup/SFXstate.h"
#include "../extract/SFXpath.h"

// The initial destination: the default folder when it fits the 255
// characters of DestFolder, otherwise the current folder. A longer default
// (only the system's temporary folder can be) is not cut, since a cut path
// names some other folder.
static void SetInitialFolder()
{
    if (HasDefaultFolder && CopyText(DestFolder, DestFolderSize, DefaultFolder))
        return;
    DWORD length = GetCurrentDirectoryA(DestFolderSize, DestFolder);
    if (length == 0 || length >= (DWORD)DestFolderSize)
        DestFolder[0] = 0;
}

static void OnInitDialog(HWND dialog)
{
    HWND runCheck = GetDlgItem(dialog, IDC_RUN_CHECK);
    SetInitialFolder();
    ShowWindow(runCheck, SW_HIDE);
    SendDlgItemMessageA(dialog, IDC_FOLDER_EDIT, WM_SETTEXT, 0, (LPARAM)DestFolder);
    SendDlgItemMessageA(dialog, IDC_FOLDER_EDIT, EM_SETSEL, 0, 0x7FFF);
    SendDlgItemMessageA(dialog, OverwriteMode, BM_SETCHECK, BST_CHECKED, 0);
    OverwriteChoice = (uint8_t)(OverwriteMode - OverwriteAlways);
    if (HideOverwriteOptions) {
        DestroyWindow(GetDlgItem(dialog, IDC_OVERWRITE_ALWAYS));
        DestroyWindow(GetDlgItem(dialog, IDC_OVERWRITE_NEVER));
        DestroyWindow(GetDlgItem(dialog, IDC_OVERWRITE_CONFIRM));
        DestroyWindow(GetDlgItem(dialog, IDC_OVERWRITE_LABEL));
    }
    if (HasTitle)
        SetWindowTextA(dialog, TitleText);
    CenterWindow(dialog);
    if (UserSelectsFiles)
        ShowWindow(GetDlgItem(dialog, IDC_PLAIN_LIST), SW_HIDE);
    else
        ShowWindow(GetDlgItem(dialog, IDC_FILE_LIST), SW_HIDE);
    SendDlgItemMessageA(dialog, IDC_FILE_LIST, LB_SETSEL, TRUE, -1);
    MainWindow = dialog;
}

static INT_PTR OnCommand(HWND dialog, WORD id)
{
    switch (id) {
    case IDC_CANCEL:
        EndDialog(dialog, IDC_CANCEL);
        return TRUE;
    case IDC_OVERWRITE_ALWAYS:
    case IDC_OVERWRITE_NEVER:
    case IDC_OVERWRITE_CONFIRM:
        OverwriteChoice = (uint8_t)(id - IDC_OVERWRITE_ALWAYS);
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        return FALSE;
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam));
    }
    return FALSE;
}
