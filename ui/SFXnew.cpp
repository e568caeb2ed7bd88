// New folder dialog procedure.
#include <windows.h>

#include "SFXnew.h"
#include "SFXres.h"
#include "SFXwin.h"
#include "../extract/SFXpath.h"
#include "../startup/SFXstate.h"
#include "../startup/SFXtext.h"

enum : int32_t { NameTextSize = 260 };

bool CreateNewFolder(const char* base, const char* name)
{
    char folder[NameTextSize];
    StringFromBuffer(name, StrLength(name), folder, sizeof folder);
    for (const char* p = folder; *p != 0; p++)
        if (*p == ':')
            return false;                      // no drives: the folder goes below base
    // Leading separators would name the root; the folder goes below base.
    const char* relative = folder;
    while (*relative == '\\' || *relative == '/')
        relative++;
    if (*relative == 0)
        return false;

    char full[PathTextSize];
    if (!CopyText(full, sizeof full, base) || !AppendText(full, sizeof full, relative))
        return false;
    ForceFolders(full);

    char probe[NameTextSize + 1];
    if (!CopyText(probe, sizeof probe, relative) || !AppendText(probe, sizeof probe, "\\"))
        return false;
    if (!PathExists(probe))
        return false;
    return SetCurrentDirectoryA(relative) != 0;
}

static void OnInitDialog(HWND dialog)
{
    AddBackslash(BrowseFolder, SettingsBufferSize);
    CenterWindow(dialog);
    char current[NameTextSize];
    GetDlgItemTextA(GetParent(dialog), IDC_SEL_PATH, current, sizeof current);
    SetDlgItemTextA(dialog, IDC_NEW_CURRENT, current);
    SetFocus(GetDlgItem(dialog, IDC_NEW_NAME));
}

static void OnOk(HWND dialog)
{
    char name[NameTextSize];
    GetDlgItemTextA(dialog, IDC_NEW_NAME, name, sizeof name);
    if (name[0] == 0)
        return;
    if (!CreateNewFolder(BrowseFolder, name)) {
        MessageBoxA(dialog, TEXT_ERROR_IN_DIR, TEXT_WARNING_CAPTION, MB_OK | MB_ICONHAND);
        return;
    }
    // The selection dialog then shows the new folder; a path too long for
    // its buffer leaves it on the folder that holds the new one.
    if (StrLength(BrowseFolder) + StrLength(name) < 255)
        AppendText(BrowseFolder, SettingsBufferSize, name);
    EndDialog(dialog, IDC_OK);
}

INT_PTR CALLBACK NewFolderProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_OK)
            OnOk(dialog);
        else if (LOWORD(wParam) == IDC_CANCEL)
            EndDialog(dialog, IDC_CANCEL);
        break;
    }
    return FALSE;
}
