// The folder dialogs' code on a real list box and file system: what a draw
// request fetches and asks of the shell, CreateNewFolder, the new folder
// dialog's error box, and ResolveLongPath.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "startup/SFXstate.h"
#include "startup/SFXtext.h"
#include "ui/SFXnew.h"
#include "ui/SFXres.h"
#include "ui/SFXsel.h"
#include "import_slot.h"
#include "win_files.h"

// The import slots through which the program's code calls these.
extern "C" DWORD_PTR(WINAPI* __imp_SHGetFileInfoW)(LPCWSTR, DWORD, SHFILEINFOW*, UINT, UINT);
extern "C" BOOL(WINAPI* __imp_TextOutW)(HDC, int, int, LPCWSTR, int);
extern "C" int(WINAPI* __imp_MessageBoxW)(HWND, LPCWSTR, LPCWSTR, UINT);
extern "C" BOOL(WINAPI* __imp_CreateDirectoryW)(LPCWSTR, LPSECURITY_ATTRIBUTES);

namespace {

std::string CurrentFolder()
{
    wchar_t folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    return Narrow(std::wstring(folder, length < MAX_PATH ? length : 0));
}

// Tests that change the process's current folder get it back.
class InScratchFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = CurrentFolder();
        ASSERT_TRUE(SetCurrentDirectoryW(Wide(root_.Path()).c_str()));
    }
    void TearDown() override { SetCurrentDirectoryW(Wide(saved_).c_str()); }

    void SetBrowseFolder(const std::string& text)
    {
        std::wstring units = Wide(text);
        ASSERT_LT(units.size(), (size_t)FolderTextSize);
        wcscpy(BrowseFolder, units.c_str());
    }

    ScratchFolder root_;
    std::string saved_;
};

// ---- drawing the folder list --------------------------------------------------

struct ShellQuery {
    std::string path;
    bool byAttributes;
};

std::vector<ShellQuery>* ShellQueries;
std::vector<std::string>* DrawnTexts;
int ItemTextRequests;
WNDPROC ListProc;
decltype(__imp_SHGetFileInfoW) RealSHGetFileInfoW;

DWORD_PTR WINAPI RecordingSHGetFileInfoW(LPCWSTR path, DWORD attributes, SHFILEINFOW* info, UINT size,
                                         UINT flags)
{
    ShellQueries->push_back({Narrow(path), (flags & SHGFI_USEFILEATTRIBUTES) != 0});
    return RealSHGetFileInfoW(path, attributes, info, size, flags);
}

BOOL WINAPI RecordingTextOutW(HDC, int, int, LPCWSTR text, int length)
{
    DrawnTexts->push_back(Narrow(std::wstring(text, length)));
    return TRUE;
}

LRESULT CALLBACK CountingListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == LB_GETTEXT || message == LB_GETTEXTLEN)
        ItemTextRequests++;
    return CallWindowProcW(ListProc, list, message, wParam, lParam);
}

// An owner-drawn list 2003 as the folder dialog has it, on a window that
// stands in for the dialog, and a bitmap to draw its items into.
class FolderListDrawing : public InScratchFolder {
protected:
    void SetUp() override
    {
        InScratchFolder::SetUp();
        owner_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 200, 0, 0, 0, 0);
        list_ = CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS, 0, 0,
                                380, 180, owner_, (HMENU)(INT_PTR)IDC_SEL_LIST, 0, 0);
        ASSERT_NE(list_, nullptr);
        ListProc = (WNDPROC)SetWindowLongPtrW(list_, GWLP_WNDPROC, (LONG_PTR)CountingListProc);
        HDC screen = GetDC(0);
        dc_ = CreateCompatibleDC(screen);
        bitmap_ = CreateCompatibleBitmap(screen, 380, 18);
        ReleaseDC(0, screen);
        previous_ = SelectObject(dc_, bitmap_);
        ShellQueries = &queries_;
        DrawnTexts = &texts_;
        ItemTextRequests = 0;
        RealSHGetFileInfoW = shell_.Original();
    }

    void TearDown() override
    {
        SelectObject(dc_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
        DestroyWindow(owner_);
        ShellQueries = 0;
        DrawnTexts = 0;
        InScratchFolder::TearDown();
    }

    void Add(const std::string& item) { SendMessageW(list_, LB_ADDSTRING, 0, (LPARAM)Wide(item).c_str()); }

    // Sends the folder dialog's procedure a draw request for one item.
    void Draw(UINT item, UINT action = ODA_DRAWENTIRE, UINT state = 0)
    {
        queries_.clear();
        texts_.clear();
        ItemTextRequests = 0;
        DRAWITEMSTRUCT request = {};
        request.CtlType = ODT_LISTBOX;
        request.CtlID = IDC_SEL_LIST;
        request.itemID = item;
        request.itemAction = action;
        request.itemState = state;
        request.hwndItem = list_;
        request.hDC = dc_;
        request.rcItem = {0, 0, 380, 18};
        SelectFolderProc(owner_, WM_DRAWITEM, IDC_SEL_LIST, (LPARAM)&request);
    }

    HWND owner_ = 0, list_ = 0;
    HDC dc_ = 0;
    HBITMAP bitmap_ = 0;
    HGDIOBJ previous_ = 0;
    std::vector<ShellQuery> queries_;
    std::vector<std::string> texts_;
    ImportSlot<decltype(__imp_SHGetFileInfoW)> shell_{&__imp_SHGetFileInfoW, RecordingSHGetFileInfoW};
    ImportSlot<decltype(__imp_TextOutW)> text_{&__imp_TextOutW, RecordingTextOutW};
};

// An empty list that gains the focus asks its owner to draw item -1.
TEST_F(FolderListDrawing, RequestForNoItemFetchesAndDrawsNothing)
{
    ASSERT_EQ(SendMessageW(list_, LB_GETCOUNT, 0, 0), 0);
    Draw((UINT)-1, ODA_FOCUS, ODS_FOCUS);
    EXPECT_EQ(ItemTextRequests, 0);
    EXPECT_TRUE(queries_.empty());
    EXPECT_TRUE(texts_.empty());
}

TEST_F(FolderListDrawing, EachKindOfItemIsAskedOfTheShellAndDrawn)
{
    MakeFolders(root_ / "plain");
    const std::string script = "\xD0\x97\xD0\xB0\xD0\xB3\xD1\x80-\xE9\xAC\xBC";   // Загр-鬼
    MakeFolders(root_ / script);
    // A name of 255 characters, the most a folder name has, from a folder
    // that puts it beyond the longest path the shell takes.
    const std::string longest(255, 'L');
    ASSERT_GT(root_.Path().size() + 1 + longest.size(), (size_t)MAX_PATH - 1);
    struct Case {
        std::string item, query;
        bool byAttributes;
        std::string drawn;                   // empty: whatever the shell calls it
    };
    const std::vector<Case> cases = {
        {"[..]", "..", false, ".."},
        {"[-c-]", "c:\\", false, ""},        // the root, not the drive's current folder
        {"[plain]", "plain", false, "plain"},
        {"[" + script + "]", script, false, script},       // shown exactly, whatever the code page
        {"[" + longest + "]", longest, true, longest},
    };
    for (const Case& c : cases)
        Add(c.item);
    for (size_t i = 0; i < cases.size(); i++) {
        const Case& c = cases[i];
        SCOPED_TRACE("item " + c.item.substr(0, 12));
        Draw((UINT)i);
        ASSERT_EQ(queries_.size(), 1u);
        EXPECT_EQ(queries_[0].path, c.query);
        EXPECT_EQ(queries_[0].byAttributes, c.byAttributes);
        ASSERT_EQ(texts_.size(), 1u);
        if (!c.drawn.empty())
            EXPECT_EQ(texts_[0], c.drawn);
        else
            EXPECT_FALSE(texts_[0].empty());
    }
}

TEST_F(FolderListDrawing, ItemTextsLongerThanAnyFolderNameStayWithinTheBuffers)
{
    for (size_t length : {258u, 300u, 1000u}) {
        SendMessageW(list_, LB_RESETCONTENT, 0, 0);
        Add("[" + std::string(length - 2, 'X') + "]");
        Draw(0);
        for (const std::string& text : texts_)
            EXPECT_LE(text.size(), 255u) << "item of " << length;
        for (const ShellQuery& query : queries_)
            EXPECT_LE(query.path.size(), 255u) << "item of " << length;
    }
}

// ---- the new folder dialog -------------------------------------------------------

std::vector<std::string>* CreatedFolders;
decltype(__imp_CreateDirectoryW) RealCreateDirectoryW;

BOOL WINAPI RecordingCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security)
{
    CreatedFolders->push_back(Narrow(path));
    return RealCreateDirectoryW(path, security);
}

class CreateNewFolderTest : public InScratchFolder {
protected:
    void SetUp() override
    {
        InScratchFolder::SetUp();
        CreatedFolders = &created_;
        RealCreateDirectoryW = slot_.Original();
    }
    void TearDown() override
    {
        CreatedFolders = 0;
        InScratchFolder::TearDown();
    }

    std::vector<std::string> created_;
    ImportSlot<decltype(__imp_CreateDirectoryW)> slot_{&__imp_CreateDirectoryW, RecordingCreateDirectoryW};

    bool Create(const std::string& base, const std::string& name)
    {
        return CreateNewFolder(Wide(base).c_str(), Wide(name).c_str());
    }
};

TEST_F(CreateNewFolderTest, NestedNameCreatesEachLevelInOrderAndEntersTheLast)
{
    EXPECT_TRUE(Create(root_.Path() + "\\", "x\\y\\z"));
    EXPECT_EQ(created_, (std::vector<std::string>{root_ / "x", root_ / "x\\y", root_ / "x\\y\\z"}));
    EXPECT_EQ(CurrentFolder(), root_ / "x\\y\\z");
}

// A name outside the ANSI code page, and a folder whose path is longer than
// 248 characters, which the system takes only behind "\\?\".
TEST_F(CreateNewFolderTest, NamesInAnyScriptAndLongPathsAreCreated)
{
    const std::string name = "\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xB0\xD1\x8F-\xE9\xAC\xBC";   // Новая-鬼
    EXPECT_TRUE(Create(root_.Path() + "\\", name));
    EXPECT_EQ(created_, std::vector<std::string>{root_ / name});
    EXPECT_EQ(CurrentFolder(), root_ / name);
    created_.clear();
    const std::string deep = std::string(120, 'd') + "\\" + std::string(120, 'e');
    EXPECT_TRUE(Create(root_ / name + "\\", deep));
    ASSERT_EQ(created_.size(), 2u);
    EXPECT_EQ(created_.back(), "\\\\?\\" + root_ / name + "\\" + deep);
    EXPECT_TRUE(IsFolder(root_ / name + "\\" + deep));
}

TEST_F(CreateNewFolderTest, RefusedNamesCreateNothingAndStayInTheFolder)
{
    WriteFileBytes(root_ / "file.txt", "data");
    for (const char* name : {"d:\\other", "\\\\\\", "file.txt"}) {
        SCOPED_TRACE(std::string("name ") + name);
        created_.clear();
        EXPECT_FALSE(Create(root_.Path() + "\\", name));
        EXPECT_EQ(created_, std::vector<std::string>{});
        EXPECT_EQ(CurrentFolder(), root_.Path());
    }
}

struct MessageBoxCall {
    HWND owner;
    std::string text, caption;
    UINT type;
};

std::vector<MessageBoxCall>* MessageBoxCalls;

int WINAPI RecordingMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    MessageBoxCalls->push_back({owner, Narrow(text), Narrow(caption), type});
    return IDOK;
}

class NewFolderDialog : public InScratchFolder {};

// The box goes to the new folder dialog, which the system then disables
// until it is answered; the name is not taken.
TEST_F(NewFolderDialog, RefusalIsReportedInABoxTheDialogOwns)
{
    WriteFileBytes(root_ / "file.txt", "data");
    std::vector<MessageBoxCall> calls;
    MessageBoxCalls = &calls;
    ImportSlot<decltype(__imp_MessageBoxW)> box(&__imp_MessageBoxW, RecordingMessageBoxW);
    HWND dialog = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 100, 0, 0, 0, 0);
    CreateWindowExW(0, L"EDIT", L"", WS_CHILD, 0, 0, 200, 20, dialog, (HMENU)(INT_PTR)IDC_NEW_NAME, 0, 0);
    const std::string base = root_.Path() + "\\";
    for (const char* name : {"d:\\other", "file.txt"}) {
        SCOPED_TRACE(std::string("name ") + name);
        calls.clear();
        SetBrowseFolder(base);
        SetDlgItemTextW(dialog, IDC_NEW_NAME, Wide(name).c_str());
        NewFolderProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_OK, BN_CLICKED), 0);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].owner, dialog);
        EXPECT_EQ(calls[0].text, TEXT_ERROR_IN_DIR);
        EXPECT_EQ(calls[0].caption, "neat-Sfx - WARNiNG");
        EXPECT_EQ(calls[0].type, (UINT)(MB_OK | MB_ICONHAND));
        EXPECT_EQ(Narrow(BrowseFolder), base);
    }
    DestroyWindow(dialog);
    MessageBoxCalls = 0;
}

// ---- ResolveLongPath ---------------------------------------------------------------

class ResolveLongPathTest : public InScratchFolder {
protected:
    std::string ShortForm(const std::string& path)
    {
        wchar_t shortPath[MAX_PATH];
        DWORD length = GetShortPathNameW(Wide(path).c_str(), shortPath, MAX_PATH);
        return length > 0 && length < MAX_PATH ? Narrow(std::wstring(shortPath, length)) : std::string();
    }

    std::string Resolve(const std::string& path)
    {
        SetBrowseFolder(path);
        ResolveLongPath();
        return Narrow(BrowseFolder);
    }
};

TEST_F(ResolveLongPathTest, ShortFormBecomesTheStoredLongForm)
{
    const std::string folder = root_ / "Long Folder Name\\Mixed Case Inner";
    MakeFolders(folder);
    const std::string shortForm = ShortForm(folder);
    ASSERT_NE(shortForm, "");
    ASSERT_EQ(shortForm.find("Long Folder Name"), std::string::npos) << shortForm;
    std::string lower = shortForm;           // the root as it was, the rest in lower case
    std::transform(lower.begin() + 3, lower.end(), lower.begin() + 3, ::tolower);
    EXPECT_EQ(Resolve(shortForm), folder + "\\");
    EXPECT_EQ(Resolve(lower), folder + "\\");
    EXPECT_EQ(Resolve(shortForm + "\\"), folder + "\\");
}

TEST_F(ResolveLongPathTest, MissingComponentKeepsThePartResolvedSoFar)
{
    const std::string folder = root_ / "Long Folder Name";
    MakeFolders(folder);
    const std::string shortForm = ShortForm(folder);
    ASSERT_NE(shortForm, "");
    EXPECT_EQ(Resolve(shortForm + "\\gone\\deeper"), folder + "\\");
}

// The long form of names outside the ANSI code page is found too.
TEST_F(ResolveLongPathTest, NamesInAnyScriptAreResolved)
{
    const std::string folder = root_ / "\xD0\x97\xD0\xB0\xD0\xB3\xD1\x80\xD1\x83\xD0\xB7\xD0\xBA\xD0\xB8-\xE9\xAC\xBC folder";
    MakeFolders(folder);
    const std::string shortForm = ShortForm(folder);
    ASSERT_NE(shortForm, "");
    EXPECT_EQ(Resolve(shortForm), folder + "\\");
}

}  // namespace
