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
    SystemPathSize = FolderTextSize,  // the size the system calls that fill BrowseFolder get
    ItemTextMax = 255,
    ItemTextSize = ItemTextMax + 3,  // a folder name of 255 characters in its brackets
};

static const NameUnit ParentItem[] = L"[..]";

int32_t SmallIconSize = 0;
// Rows are as tall as the small icon or a line of the dialog's font, which
// the list measured for itself, whichever is taller: in pixels of the
// display's scaling, so at any DPI.
static int32_t FontHeight = 0;
static int32_t RowHeight = 0;
HIMAGELIST SystemImageList = 0;

// comctl32 and mpr are not among the DLLs that Windows always takes from
// the system folder: mpr is loaded by full path when first needed, comctl32
// (version 6, which start-up has loaded) by name.
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
    NameUnit* path = BrowseFolder;
    if (StrLength(path) < 4 || path[1] != ':' || path[2] != '\\')
        return;                              // a root, or no drive letter (UNC): left alone
    static NameUnit original[FolderTextSize];
    static NameUnit search[FolderTextSize];
    static NameUnit prefix[FolderTextSize];
    if (!AddBackslash(path, SystemPathSize))
        return;
    CopyText(original, FolderTextSize, path);
    CopyText(search, FolderTextSize, path);
    search[2] = ':';                         // the search starts after the root
    path[3] = 0;

    for (NameUnit* mark = search;; ) {
        while (*mark != 0 && *mark != '\\')
            mark++;
        if (*mark == 0)
            break;
        *mark = ':';                         // the next pass finds the following one
        CopyText(prefix, FolderTextSize, original);
        prefix[mark - search] = 0;
        WIN32_FIND_DATAW found;
        HANDLE handle = FindFirstFileW(prefix, &found);
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
    SetCurrentDirectoryW(BrowseFolder);
    // When entering failed this is the folder shown before. A folder whose
    // name does not fit the folder text could be neither shown nor handed
    // back: the nearest parent that fits is shown instead.
    for (int32_t level = 0; level < SystemPathSize / 2; level++) {
        DWORD length = GetCurrentDirectoryW(SystemPathSize, BrowseFolder);
        if ((length > 0 && length < (DWORD)SystemPathSize) || !SetCurrentDirectoryW(L".."))
            break;
    }
    ResolveLongPath();
    // The line is written here rather than by the system, which writes
    // at most MAX_PATH characters and (under Wine) in lower case: it shows
    // the folder in full and with the names as stored.
    DlgDirListW(dialog, BrowseFolder, IDC_SEL_LIST, 0, DDL_DIRECTORY | DDL_DRIVES | DDL_EXCLUSIVE);
    GetCurrentDirectoryW(SystemPathSize, BrowseFolder);
    SetItemText(dialog, IDC_SEL_PATH, BrowseFolder);
    LRESULT parent = SendMessageW(list, LB_FINDSTRINGEXACT, 0, (LPARAM)ParentItem);
    if (parent != LB_ERR) {
        SendMessageW(list, LB_DELETESTRING, (WPARAM)parent, 0);
        SendMessageW(list, LB_INSERTSTRING, 0, (LPARAM)ParentItem);
    }
    SetFocus(list);
    SendMessageW(list, LB_SETCURSEL, 0, 0);
    LockWindowUpdate(0);
}

// The shell's icon index and display name for path; sets SystemImageList.
// For a folder given by name only, the shell looks at no file: the icon is
// that of any folder.
static int GetShellItemInfo(const NameUnit* path, bool folderByName, NameUnit* displayName, int32_t nameSize)
{
    displayName[0] = 0;
    SHFILEINFOW* info = (SHFILEINFOW*)AllocateBlock(sizeof(SHFILEINFOW));
    if (info == 0)
        return 0;
    UINT flags = SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_DISPLAYNAME;
    if (folderByName)
        flags |= SHGFI_USEFILEATTRIBUTES;
    SystemImageList = (HIMAGELIST)SHGetFileInfoW(path, folderByName ? FILE_ATTRIBUTE_DIRECTORY : 0, info,
                                                 sizeof(SHFILEINFOW), flags);
    int icon = info->iIcon;
    info->szDisplayName[nameSize < MAX_PATH ? nameSize - 1 : MAX_PATH - 1] = 0;
    CopyText(displayName, nameSize, info->szDisplayName);
    ReleaseBlock(info);
    return icon;
}

// The shell resolves a relative name against the current folder and takes
// at most MAX_PATH - 1 characters; asked about a longer path, it describes
// some other item (under Wine, "My Computer").
static bool ShellReaches(const NameUnit* name)
{
    DWORD current = GetCurrentDirectoryW(0, 0);   // counts the terminator, standing in for the "\"
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

    NameUnit text[ItemTextSize];
    LRESULT length = SendMessageW(item->hwndItem, LB_GETTEXTLEN, item->itemID, 0);
    if (length == LB_ERR || length >= ItemTextSize)
        return;
    SendMessageW(item->hwndItem, LB_GETTEXT, item->itemID, (LPARAM)text);
    text[length] = 0;

    // "[name]", "[-c-]" or "[..]": the brackets go.
    NameUnit inner[ItemTextMax + 1] = {0};
    for (int32_t i = 0; i + 2 < length; i++)
        inner[i] = text[i + 1];

    NameUnit path[8];
    const NameUnit* query = inner;
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
    int32_t left = item->rcItem.left + indent;
    int32_t top = item->rcItem.top;

    // A folder out of the shell's reach shows its own name.
    bool byName = folder && !ShellReaches(query);
    NameUnit displayName[ItemTextMax + 1];
    int icon = GetShellItemInfo(query, byName, displayName, ItemTextMax + 1);
    const NameUnit* shown = parent ? L".." : byName ? inner : displayName;
    if (DrawImage == 0)
        DrawImage = (ImageListDrawProc)(void*)GetProcAddress((HMODULE)LoadCommonControls(), "ImageList_Draw");
    // Margins in proportion to the icon: 3 and 8 pixels at 16.
    if (DrawImage != 0 && SystemImageList != 0)
        DrawImage(SystemImageList, icon, item->hDC, left + SmallIconSize / 5, top + (RowHeight - SmallIconSize) / 2,
                  ILD_TRANSPARENT);
    TextOutW(item->hDC, left + SmallIconSize + SmallIconSize / 2, top + (RowHeight - FontHeight) / 2, shown,
             StrLength(shown));
}

static void OnInitDialog(HWND dialog)
{
    AddBackslash(BrowseFolder, FolderTextSize);
    if (!PathExists(BrowseFolder))
        GetCurrentDirectoryW(SystemPathSize, BrowseFolder);
    SmallIconSize = GetSystemMetrics(SM_CYSMICON);
    FontHeight = (int32_t)SendDlgItemMessageW(dialog, IDC_SEL_LIST, LB_GETITEMHEIGHT, 0, 0);
    RowHeight = (SmallIconSize > FontHeight ? SmallIconSize : FontHeight) + 2;
    SendDlgItemMessageW(dialog, IDC_SEL_LIST, LB_SETITEMHEIGHT, 0, RowHeight);
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
        DlgDirSelectExW(dialog, BrowseFolder, SystemPathSize, IDC_SEL_LIST);
        AddBackslash(BrowseFolder, FolderTextSize);
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
            AddBackslash(BrowseFolder, FolderTextSize);
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        case IDC_SEL_NETWORK:
            OnNetwork(dialog);
            break;
        case IDC_SEL_LIST:
            OnListNotification(dialog, HIWORD(wParam));
            break;
        case IDC_SEL_CREATE:
            if (DialogBoxParamW(ModuleInstance, L"DLGNEW", dialog, NewFolderProc, 0) == IDC_OK)
                RefreshFolderList(dialog);
            break;
        }
        return FALSE;
    }
    return FALSE;
}
