// Folder selection dialog: a system-filled list of sub-folders and drives,
// each item drawn with the shell's small icon and display name.
#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>

#include "SFXsel.h"
#include "SFXnew.h"
#include "SFXres.h"
#include "SFXwin.h"
#include "../decode/SFXio.h"
#include "../extract/SFXpath.h"
#include "../startup/SFXdlls.h"
#include "../startup/SFXstate.h"

enum : int32_t {
    SystemPathSize = 256,     // the size the system calls that fill BrowseFolder get
    ItemTextMax = 255,
    ItemTextSize = ItemTextMax + 3,  // a folder name of 255 characters in its brackets
};

static const char ParentItem[] = "[..]";

int32_t SmallIconSize = 0;
HIMAGELIST SystemImageList = 0;

// comctl32 and mpr are not among the DLLs that Windows always takes from
// the system folder, so they are loaded by full path when first needed.
typedef BOOL(WINAPI* ImageListDrawProc)(HIMAGELIST, int, HDC, int, int, UINT);
typedef DWORD(WINAPI* ConnectionDialogProc)(HWND, DWORD);

static ImageListDrawProc DrawImage = 0;

static void* SystemProcedure(const char* library, const char* name)
{
    HMODULE module = (HMODULE)LoadSystemLibrary(library);
    return module != 0 ? (void*)GetProcAddress(module, name) : 0;
}

void ResolveLongPath()
{
    char* path = BrowseFolder;
    if (StrLength(path) < 4 || path[1] != ':' || path[2] != '\\')
        return;                              // a root, or no drive letter (UNC): left alone
    char original[SettingsBufferSize];
    if (!AddBackslash(path, SystemPathSize))
        return;
    CopyText(original, sizeof original, path);
    char search[SettingsBufferSize];
    CopyText(search, sizeof search, path);
    search[2] = ':';                         // the search starts after the root
    path[3] = 0;

    for (char* mark = search;; ) {
        while (*mark != 0 && *mark != '\\')
            mark++;
        if (*mark == 0)
            break;
        *mark = ':';                         // the next pass finds the following one
        char prefix[SettingsBufferSize];
        StringFromBuffer(original, (uint16_t)(mark - search), prefix, sizeof prefix);
        WIN32_FIND_DATAA found;
        HANDLE handle = FindFirstFileA(prefix, &found);
        if (handle == INVALID_HANDLE_VALUE)
            break;                           // keeps the part resolved so far
        FindClose(handle);
        if (!AppendText(path, SystemPathSize, found.cFileName) || !AddBackslash(path, SystemPathSize)) {
            // The long form does not fit: show the path as it was.
            CopyText(path, SystemPathSize, original);
            return;
        }
    }
}

static void RefreshFolderList(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_SEL_LIST);
    LockWindowUpdate(dialog);
    SetCurrentDirectoryA(BrowseFolder);
    // When entering failed this is the folder shown before. A folder whose
    // name does not fit the folder text could be neither shown nor handed
    // back: the nearest parent that fits is shown instead.
    for (int32_t level = 0; level < SystemPathSize / 2; level++) {
        DWORD length = GetCurrentDirectoryA(SystemPathSize, BrowseFolder);
        if ((length > 0 && length < (DWORD)SystemPathSize) || !SetCurrentDirectoryA(".."))
            break;
    }
    ResolveLongPath();
    DlgDirListA(dialog, BrowseFolder, IDC_SEL_LIST, IDC_SEL_PATH, DDL_DIRECTORY | DDL_DRIVES | DDL_EXCLUSIVE);
    GetCurrentDirectoryA(SystemPathSize, BrowseFolder);
    LRESULT parent = SendMessageA(list, LB_FINDSTRINGEXACT, 0, (LPARAM)ParentItem);
    if (parent != LB_ERR) {
        SendMessageA(list, LB_DELETESTRING, (WPARAM)parent, 0);
        SendMessageA(list, LB_INSERTSTRING, 0, (LPARAM)ParentItem);
    }
    SetFocus(list);
    SendMessageA(list, LB_SETCURSEL, 0, 0);
    LockWindowUpdate(0);
}

// The shell's icon index and display name for path; sets SystemImageList.
// For a folder given by name only, the shell looks at no file: the icon is
// that of any folder.
static int GetShellItemInfo(const char* path, bool folderByName, char* displayName, int32_t nameSize)
{
    displayName[0] = 0;
    SHFILEINFOA* info = (SHFILEINFOA*)AllocateBlock(sizeof(SHFILEINFOA));
    if (info == 0)
        return 0;
    UINT flags = SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_DISPLAYNAME;
    if (folderByName)
        flags |= SHGFI_USEFILEATTRIBUTES;
    SystemImageList = (HIMAGELIST)SHGetFileInfoA(path, folderByName ? FILE_ATTRIBUTE_DIRECTORY : 0, info,
                                                 sizeof(SHFILEINFOA), flags);
    int icon = info->iIcon;
    info->szDisplayName[MAX_PATH - 1] = 0;
    StringFromBuffer(info->szDisplayName, MAX_PATH, displayName, nameSize);
    ReleaseBlock(info);
    return icon;
}

// The shell resolves a relative name against the current folder and takes
// at most MAX_PATH - 1 characters; asked about a longer path, it describes
// some other item (under Wine, "My Computer").
static bool ShellReaches(const char* name)
{
    DWORD current = GetCurrentDirectoryA(0, 0);   // counts the terminator, standing in for the "\"
    return current + StrLength(name) < MAX_PATH;
}

static void FillItemBackground(const DRAWITEMSTRUCT* item, bool selected)
{
    SetTextColor(item->hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    SetBkColor(item->hDC, GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    FillRect(item->hDC, &item->rcItem, (HBRUSH)(INT_PTR)((selected ? COLOR_HIGHLIGHT : COLOR_WINDOW) + 1));
}

// Draws the whole item whatever the action: icon, then display name.
static void DrawFolderItem(UINT control, const DRAWITEMSTRUCT* item)
{
    if (control != IDC_SEL_LIST)
        return;
    bool selected = (item->itemState & ODS_SELECTED) != 0;
    FillItemBackground(item, selected);
    if (item->itemID == (UINT)-1)
        return;                              // an empty list gaining focus: no item to show

    char text[ItemTextSize];
    LRESULT length = SendMessageA(item->hwndItem, LB_GETTEXTLEN, item->itemID, 0);
    if (length == LB_ERR || length >= ItemTextSize)
        return;
    SendMessageA(item->hwndItem, LB_GETTEXT, item->itemID, (LPARAM)text);
    text[length] = 0;

    // "[name]", "[-c-]" or "[..]": the brackets go.
    char inner[ItemTextMax + 1] = "";
    if (length >= 2)
        StringFromBuffer(text + 1, (uint16_t)(length - 2), inner, sizeof inner);

    char path[8];
    const char* query = inner;
    bool parent = inner[0] == '.' && inner[1] == '.' && inner[2] == 0;
    bool drive = length == 5 && inner[0] == '-' && inner[2] == '-';
    if (drive) {
        path[0] = inner[1];
        path[1] = ':';
        path[2] = '\\';
        path[3] = 0;
        query = path;                        // a drive, shown by its root
    }
    bool folder = !drive && !parent;
    int32_t indent = folder ? SmallIconSize / 2 : 0;   // content of the current folder

    // A folder out of the shell's reach shows its own name.
    bool byName = folder && !ShellReaches(query);
    char displayName[ItemTextMax + 1];
    int icon = GetShellItemInfo(query, byName, displayName, sizeof displayName);
    const char* shown = parent ? ".." : byName ? inner : displayName;
    if (DrawImage == 0)
        DrawImage = (ImageListDrawProc)SystemProcedure("comctl32.dll", "ImageList_Draw");
    if (DrawImage != 0 && SystemImageList != 0)
        DrawImage(SystemImageList, icon, item->hDC, item->rcItem.left + indent + 3, item->rcItem.top + 1,
                  ILD_TRANSPARENT);
    TextOutA(item->hDC, item->rcItem.left + SmallIconSize + indent + 8, item->rcItem.top + 2, shown,
             StrLength(shown));
}

static void OnInitDialog(HWND dialog)
{
    AddBackslash(BrowseFolder, SettingsBufferSize);
    if (!PathExists(BrowseFolder))
        GetCurrentDirectoryA(SystemPathSize, BrowseFolder);
    SmallIconSize = GetSystemMetrics(SM_CYSMICON);
    SendDlgItemMessageA(dialog, IDC_SEL_LIST, LB_SETITEMHEIGHT, 0, SmallIconSize + 2);
    CenterWindow(dialog);
    RefreshFolderList(dialog);
}

static void OnNetwork(HWND dialog)
{
    ConnectionDialogProc connect = (ConnectionDialogProc)SystemProcedure("mpr.dll", "WNetConnectionDialog");
    if (connect != 0 && connect(dialog, RESOURCETYPE_DISK) == NO_ERROR)
        RefreshFolderList(dialog);
}

static void OnListNotification(HWND dialog, WORD code)
{
    switch (code) {
    case LBN_DBLCLK:
        // A folder comes back as "name\", the parent as "..\", a drive as
        // "c:", which the backslash turns into its root.
        DlgDirSelectExA(dialog, BrowseFolder, SystemPathSize, IDC_SEL_LIST);
        AddBackslash(BrowseFolder, SettingsBufferSize);
        RefreshFolderList(dialog);
        break;
    case LBN_SETFOCUS:
    case LBN_KILLFOCUS:
        InvalidateRect(GetDlgItem(dialog, IDC_SEL_LIST), 0, TRUE);
        break;
    }
}

INT_PTR CALLBACK SelectFolderProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        return FALSE;                        // the focus is on the list already
    case WM_DRAWITEM:
        DrawFolderItem((UINT)wParam, (const DRAWITEMSTRUCT*)lParam);
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_OK:
        case IDC_CANCEL:
            // The folder shown, not the highlighted item, is the answer.
            AddBackslash(BrowseFolder, SettingsBufferSize);
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        case IDC_SEL_NETWORK:
            OnNetwork(dialog);
            break;
        case IDC_SEL_LIST:
            OnListNotification(dialog, HIWORD(wParam));
            break;
        case IDC_SEL_CREATE:
            if (DialogBoxParamA(ModuleInstance, "DLGNEW", dialog, NewFolderProc, 0) == IDC_OK)
                RefreshFolderList(dialog);
            break;
        }
        return FALSE;
    }
    return FALSE;
}
