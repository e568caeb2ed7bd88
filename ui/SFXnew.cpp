// New folder dialog procedure.
#include <windows.h>

#include "SFXnew.h"
#include "SFXres.h"
#include "SFXwin.h"
#include "../extract/SFXpath.h"
#include "../startup/SFXstate.h"
#include "../startup/SFXtext.h"

enum : int32_t { NameTextSize = 260 };

bool CreateNewFolder(const NameUnit* base, const NameUnit* name)
{
    for (const NameUnit* p = name; *p != 0; p++)
        if (*p == ':')
            return false;                      // no drives: the folder goes below base
    // Leading separators would name the root; the folder goes below base.
    const NameUnit* relative = name;
    while (*relative == '\\' || *relative == '/')
        relative++;
    if (*relative == 0)
        return false;
    // Windows would make the folder without its trailing dots and blanks
    // (and "\\?\" with them, which Explorer cannot open): neither is the
    // folder asked for.
    if (HasPartEndingInDotOrBlank(relative))
        return false;

    // The folder is made by its full path, which may be longer than the
    // current folder's own calls take; it is entered by its name.
    static NameUnit full[PathTextSize];
    if (!CopyText(full, PathTextSize, base) || !AppendText(full, PathTextSize, relative))
        return false;
    ForceFolders(full);
    if (!AddBackslash(full, PathTextSize) || !PathExists(full))
        return false;
    // A folder too deep for the system's current folder is made all the
    // same; the selection dialog then stays on the folder that holds it.
    SetCurrentDirectoryW(relative);
    return true;
}

static void OnInitDialog(HWND dialog)
{
    AddBackslash(BrowseFolder, FolderTextSize);
    CenterWindow(dialog);
    NameUnit current[NameTextSize];
    GetItemText(GetParent(dialog), IDC_SEL_PATH, current, NameTextSize);
    SetItemText(dialog, IDC_NEW_CURRENT, current);
    SetFocus(GetDlgItem(dialog, IDC_NEW_NAME));
}

static void OnOk(HWND dialog)
{
    NameUnit name[NameTextSize];
    GetItemText(dialog, IDC_NEW_NAME, name, NameTextSize);
    if (name[0] == 0)
        return;
    if (!CreateNewFolder(BrowseFolder, name)) {
        ShowNotice(TEXT_ERROR_IN_DIR, TEXT_WARNING_CAPTION, MB_ICONHAND, dialog);
        return;
    }
    // The selection dialog then shows the new folder.
    AppendText(BrowseFolder, FolderTextSize, name);
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
