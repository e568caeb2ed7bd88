// Overwrite prompt procedure.
#include <windows.h>

#include "SFXovr.h"
#include "SFXres.h"
#include "SFXwin.h"
#include "../extract/SFXpath.h"
#include "../startup/SFXstate.h"

static void OnInitDialog(HWND dialog)
{
    CenterWindow(dialog);   // the template has no DS_CENTER
    enum : int32_t { Size = FileNamePartMax + 64 };
    NameUnit question[Size];
    CopyText(question, Size, OverwriteFileName);
    AppendAscii(question, Size, "Already Exists in destination Folder. Overwrite?");
    SendDlgItemMessageW(dialog, IDC_OVR_QUESTION, WM_SETTEXT, 0, (LPARAM)question);
}

// The button pressed answers for this file. With the check box set it also
// becomes the policy for every later file, shown in the main dialog (whose
// radio buttons may have been removed; then the messages go nowhere).
static void OnAnswer(HWND dialog, WORD id)
{
    bool overwrite = id == IDC_OK;
    OverwriteAnswer = overwrite;
    if (SendDlgItemMessageW(dialog, IDC_OVR_DONT_ASK, BM_GETCHECK, 0, 0) == BST_CHECKED) {
        SendDlgItemMessageW(MainWindow, IDC_OVERWRITE_CONFIRM, BM_SETCHECK, BST_UNCHECKED, 0);
        SendDlgItemMessageW(MainWindow, overwrite ? IDC_OVERWRITE_ALWAYS : IDC_OVERWRITE_NEVER,
                            BM_SETCHECK, BST_CHECKED, 0);
        OverwriteChoice = overwrite ? 0 : 1;
    }
    EndDialog(dialog, id);
}

INT_PTR CALLBACK FileExistProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_OK || LOWORD(wParam) == IDC_CANCEL) {
            OnAnswer(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

void AskToOverwrite()
{
    DialogBoxParamW(ModuleInstance, L"FileExist", 0, FileExistProc, 0);
}
