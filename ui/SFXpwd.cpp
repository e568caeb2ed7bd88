// Password prompt procedure.
#include <windows.h>

#include "SFXpwd.h"
#include "SFXres.h"
#include "SFXwin.h"
#include "../startup/SFXstate.h"

static void OnOk(HWND dialog)
{
    // The typed text in the ANSI code page, as archives made on this
    // system hold their passwords.
    UINT length = GetDlgItemTextA(dialog, IDC_PWD_EDIT, PasswordText, PasswordTextSize);
    if (length >= (UINT)PasswordTextSize)
        length = PasswordTextSize - 1;
    PasswordLength = (int32_t)length;
    PasswordText[length] = 0;
    EndDialog(dialog, IDC_OK);
}

INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        CenterWindow(dialog);
        SetFocus(GetDlgItem(dialog, IDC_PWD_EDIT));
        return FALSE;                    // keep the focus where it was put
    case WM_COMMAND:
        // Only OK (or Enter) ends the prompt; Esc and Alt+F4 are ignored.
        if (LOWORD(wParam) == IDC_OK)
            OnOk(dialog);
        return FALSE;
    }
    return FALSE;
}

void AskForPassword()
{
    DialogBoxParamW(ModuleInstance, L"PASSWD", 0, PasswordProc, 0);
}
