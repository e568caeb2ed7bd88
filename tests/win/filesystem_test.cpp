// The file-system helpers on a real file system: PathExists, ForceFolders,
// SetFileTimeFromDos; the walk's temporary folder; one entry's extraction
// where the system fails it.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "decode/SFXcrc.h"
#include "extract/SFXarch.h"
#include "extract/SFXentry.h"
#include "extract/SFXhdr.h"
#include "extract/SFXpath.h"
#include "extract/SFXtemp.h"
#include "startup/SFXlaunch.h"
#include "startup/SFXstate.h"
#include "ui/SFXwin.h"
#include "import_slot.h"
#include "win_files.h"

// The import slot through which the program's code creates folders.
extern "C" BOOL(WINAPI* __imp_CreateDirectoryW)(LPCWSTR, LPSECURITY_ATTRIBUTES);
// ...through which it looks at files and folders, and closes them.
extern "C" BOOL(WINAPI* __imp_GetFileInformationByHandle)(HANDLE, LPBY_HANDLE_FILE_INFORMATION);
extern "C" DWORD(WINAPI* __imp_GetFileAttributesW)(LPCWSTR);
extern "C" BOOL(WINAPI* __imp_CloseHandle)(HANDLE);
extern "C" BOOL(WINAPI* __imp_RemoveDirectoryW)(LPCWSTR);
extern "C" BOOL(WINAPI* __imp_DeleteFileW)(LPCWSTR);
// ...and through which it starts the program afterwards.
extern "C" HINSTANCE(WINAPI* __imp_ShellExecuteW)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
extern "C" BOOL(WINAPI* __imp_CreateProcessW)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                                               DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);

namespace {

std::vector<std::string>* RecordedCalls;
decltype(__imp_CreateDirectoryW) RealCreateDirectoryW;

BOOL WINAPI RecordingCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security)
{
    RecordedCalls->push_back(Narrow(path));
    return RealCreateDirectoryW(path, security);
}

// ForceFolders on path, returning every folder it asked the system to
// create, in order.
std::vector<std::string> ForceFoldersCalls(const std::string& path)
{
    std::vector<std::string> calls;
    RecordedCalls = &calls;
    ImportSlot<decltype(__imp_CreateDirectoryW)> slot(&__imp_CreateDirectoryW, RecordingCreateDirectoryW);
    RealCreateDirectoryW = slot.Original();
    ForceFolders(Wide(path).c_str());
    RecordedCalls = 0;
    return calls;
}

std::vector<std::string> Entries(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((Literal(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = Narrow(found.cFileName);
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

bool Exists(const std::string& path)
{
    std::wstring units = Wide(path);
    units.resize(PathTextSize, 0);
    return PathExists(&units[0]);
}

typedef std::vector<std::string> Calls;

// A folder of about length characters below root, made of 100-character
// names.
std::string DeepFolder(const std::string& root, size_t length)
{
    std::string path = root;
    for (char c = 'a'; path.size() < length; c++)
        path += "\\" + std::string(std::min<size_t>(100, length - path.size()), c);
    return path;
}

// Every case in a folder of short path, and in one whose paths all go to
// the system behind "\\?\" (from 248 characters on), where the calls carry
// that form.
class ForceFoldersTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        base_ = GetParam() ? DeepFolder(root_.Path(), 300) : root_.Path();
        if (GetParam())
            MakeFolders(base_);
    }
    std::string operator/(const std::string& name) const { return base_ + "\\" + name; }
    std::string Call(const std::string& name) const { return (GetParam() ? "\\\\?\\" : "") + *this / name; }

    ScratchFolder root_;
    std::string base_;
};

TEST_P(ForceFoldersTest, CreatesTheMissingFoldersTopDown)
{
    Calls calls = ForceFoldersCalls(*this / "x\\y\\z\\");
    EXPECT_EQ(calls, (Calls{Call("x"), Call("x\\y"), Call("x\\y\\z")}));
    EXPECT_TRUE(IsFolder(*this / "x\\y\\z"));
}

TEST_P(ForceFoldersTest, ClimbsOnlyToTheFirstFolderThatExists)
{
    MakeFolders(*this / "x");
    Calls calls = ForceFoldersCalls(*this / "x\\y\\z");
    EXPECT_EQ(calls, (Calls{Call("x\\y"), Call("x\\y\\z")}));
    EXPECT_TRUE(IsFolder(*this / "x\\y\\z"));
}

TEST_P(ForceFoldersTest, ExistingFolderIsLeftAlone)
{
    MakeFolders(*this / "x");
    EXPECT_EQ(ForceFoldersCalls(*this / "x"), Calls{});
    EXPECT_EQ(ForceFoldersCalls(*this / "x\\"), Calls{});
}

TEST_P(ForceFoldersTest, EntryNamesWithForwardSlashes)
{
    // An entry's folder as the extraction builds it: destination, then the
    // name as stored in the archive.
    Calls calls = ForceFoldersCalls(base_ + "\\docs/api/v1");
    EXPECT_EQ(calls, (Calls{Call("docs"), Call("docs\\api"), Call("docs\\api\\v1")}));
    EXPECT_TRUE(IsFolder(*this / "docs\\api\\v1"));
}

TEST_P(ForceFoldersTest, PathNamingAnExistingFileDoesNothing)
{
    WriteFileBytes(*this / "file.txt", "data");
    EXPECT_EQ(ForceFoldersCalls(*this / "file.txt"), Calls{});
    EXPECT_TRUE(IsFile(*this / "file.txt"));
}

TEST_P(ForceFoldersTest, FolderBelowAFileFailsWithoutHarm)
{
    WriteFileBytes(*this / "file.txt", "data");
    Calls calls = ForceFoldersCalls(*this / "file.txt\\a\\b");
    EXPECT_EQ(calls, (Calls{Call("file.txt\\a"), Call("file.txt\\a\\b")}));
    EXPECT_TRUE(IsFile(*this / "file.txt"));
    EXPECT_EQ(Entries(base_), Calls{"file.txt"});
}

TEST_P(ForceFoldersTest, PathsShorterThanThreeCharactersAreNotCreated)
{
    for (const char* path : {"", "C", "C:", "C:\\", "\\\\"}) {
        SCOPED_TRACE(std::string("path \"") + path + "\"");
        EXPECT_EQ(ForceFoldersCalls(path), Calls{});
    }
}

// ParentPath does not shorten a path whose last separator is a ":" past the
// drive prefix; the climb must still end.
TEST_P(ForceFoldersTest, ColonPastTheDrivePrefixEndsTheClimb)
{
    size_t drive = Call("").find(':') + 1;
    for (const std::string name : {"out\\a:", "a:b\\c", "out\\a:\\"}) {
        SCOPED_TRACE("name \"" + name + "\"");
        Calls calls = ForceFoldersCalls(*this / name);
        EXPECT_LE(calls.size(), 3u);
        for (const std::string& call : calls)
            EXPECT_NE(call.find(':', drive), std::string::npos) << "created " << call;
        EXPECT_FALSE(IsFolder(*this / "out"));
    }
}

INSTANTIATE_TEST_SUITE_P(ShortAndLongPaths, ForceFoldersTest, ::testing::Bool());

// SystemPath: what the system is given for a path.
TEST(SystemPath, LongPathsTakeTheirFullFormBehindThePrefix)
{
    wchar_t current[MAX_PATH];
    DWORD n = GetCurrentDirectoryW(MAX_PATH, current);
    ASSERT_TRUE(n > 0 && n < MAX_PATH);
    std::string here = Narrow(current);
    if (here.back() == '\\')
        here.pop_back();
    const std::string name247(247, 'n'), name248(248, 'n');
    struct {
        std::string path, system;            // system "": refused
    } cases[] = {
        {"C:\\short\\file.txt", "C:\\short\\file.txt"},
        {"relative/with\\slashes", "relative/with\\slashes"},          // short: the system's own rules
        {"C:\\" + std::string(244, 'n'), "C:\\" + std::string(244, 'n')},  // 247: as it is
        {"C:\\" + std::string(245, 'n'), "\\\\?\\C:\\" + std::string(245, 'n')},
        {"C:\\a/./b\\..\\" + name248, "\\\\?\\C:\\a\\" + name248},          // resolved, then taken literally
        {name248, "\\\\?\\" + here + "\\" + name248},                     // relative to the current folder
        {"\\\\server\\share\\" + name248, "\\\\?\\UNC\\server\\share\\" + name248},
        {"\\\\?\\C:\\" + name248, "\\\\?\\C:\\" + name248},              // already literal
        {"\\\\?\\C:\\x", "\\\\?\\C:\\x"},
        {"C:\\" + std::string(32760, 'n'), "\\\\?\\C:\\" + std::string(32760, 'n')},  // the longest
        {"C:\\" + std::string(32761, 'n'), ""},                        // beyond what the system takes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.substr(0, 40) + " (" + std::to_string(c.path.size()) + ")");
        std::vector<wchar_t> out(PathTextSize, L'#');
        std::wstring in = Wide(c.path);
        bool made = SystemPath(in.c_str(), out.data());
        EXPECT_EQ(made, !c.system.empty());
        if (made) {
            EXPECT_EQ(Narrow(out.data()), c.system);
        }
        // The same in place.
        std::vector<wchar_t> same(PathTextSize, 0);
        std::copy(in.begin(), in.end(), same.begin());
        if (SystemPath(same.data(), same.data())) {
            EXPECT_EQ(Narrow(same.data()), c.system);
        }
    }
}

class PathExistsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MakeFolders(root_ / "full");
        WriteFileBytes(root_ / "full\\file.txt", "data");
        MakeFolders(root_ / "empty");
    }

    ScratchFolder root_;
};

TEST_F(PathExistsTest, FoldersWithAndWithoutTrailingBackslash)
{
    EXPECT_TRUE(Exists(root_ / "full"));
    EXPECT_TRUE(Exists(root_ / "full\\"));
    EXPECT_TRUE(Exists(root_ / "empty"));
    EXPECT_TRUE(Exists(root_ / "empty\\"));     // "*.*" still finds "." there
    EXPECT_FALSE(Exists(root_ / "missing"));
    EXPECT_FALSE(Exists(root_ / "missing\\"));
}

TEST_F(PathExistsTest, FilesExistOnlyWithoutTrailingBackslash)
{
    EXPECT_TRUE(Exists(root_ / "full\\file.txt"));
    EXPECT_FALSE(Exists(root_ / "full\\file.txt\\"));
    EXPECT_FALSE(Exists(root_ / "full\\other.txt"));
}

// The extraction's test takes no wildcards: "*.txt" is a name, and none
// such is there, whatever else the folder holds.
TEST_F(PathExistsTest, WideTestTakesNamesLiterally)
{
    EXPECT_TRUE(WidePathExists(Wide(root_ / "full\\file.txt").c_str()));
    EXPECT_TRUE(WidePathExists(Wide(root_ / "full").c_str()));
    EXPECT_TRUE(WidePathExists(Wide(root_.Path() + "/full/file.txt").c_str()));
    for (const char* pattern : {"full\\*.txt", "full\\file.tx?", "ful?", "*"})
        EXPECT_FALSE(WidePathExists(Wide(root_ / pattern).c_str())) << pattern;
    EXPECT_FALSE(WidePathExists(Wide(root_ / "missing").c_str()));
}

TEST_F(PathExistsTest, ConvertsSlashesInTheCallersBuffer)
{
    std::wstring found = Wide(root_.Path() + "/full/file.txt"), missing = Wide(root_.Path() + "/none/dir");
    found.resize(PathTextSize, 0);
    missing.resize(PathTextSize, 0);
    EXPECT_TRUE(PathExists(&found[0]));
    EXPECT_EQ(Narrow(found.c_str()), root_ / "full\\file.txt");
    EXPECT_FALSE(PathExists(&missing[0]));
    EXPECT_EQ(Narrow(missing.c_str()), root_ / "none\\dir");
}

TEST_F(PathExistsTest, TrailingBackslashSearchesACopy)
{
    std::wstring original = Wide(root_.Path() + "/full\\");
    std::wstring path = original;
    path.resize(PathTextSize, 0);
    EXPECT_TRUE(PathExists(&path[0]));
    EXPECT_EQ(Narrow(path.c_str()), Narrow(original));
}

// The folder "full" written with enough "\." steps to give the path exactly
// length characters, ending in a backslash.
std::string PaddedFolder(const std::string& folder, size_t length)
{
    std::string path = folder;
    while (path.size() + 1 < length)
        path += (length - path.size()) % 2 == 1 ? "\\." : "\\";
    return path + "\\";
}

// No length below what the system takes makes a folder missing: the old
// ANSI limit (251 characters with the pattern) is gone.
TEST_F(PathExistsTest, FolderPathsOfAnyLengthAreSearched)
{
    for (size_t length : {251u, 252u, 300u, 519u, 5000u}) {
        std::string path = PaddedFolder(root_ / "full", length);
        ASSERT_EQ(path.size(), length);
        EXPECT_TRUE(Exists(path)) << "length " << length;
    }
    std::string deep = DeepFolder(root_.Path(), 700);
    MakeFolders(deep);
    WriteFileBytes(deep + "\\file.txt", "deep");
    EXPECT_TRUE(Exists(deep + "\\"));
    EXPECT_TRUE(Exists(deep + "\\file.txt"));
    EXPECT_FALSE(Exists(deep + "\\other.txt"));
}

// The DOS stamp of 1998-06-15 12:30:00.
const uint32_t Stamp = (uint32_t)(((1998 - 1980) << 9) | (6 << 5) | 15) << 16 | (12 << 11) | (30 << 5);

SYSTEMTIME LocalWriteTime(const std::string& path)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    FILETIME written = {}, local = {};
    GetFileTime(file, 0, 0, &written);
    CloseHandle(file);
    FileTimeToLocalFileTime(&written, &local);
    SYSTEMTIME time = {};
    FileTimeToSystemTime(&local, &time);
    return time;
}

TEST(SetFileTimeFromDos, StampIsTakenAsLocalTime)
{
    ScratchFolder root;
    std::string path = root / "stamped.txt";
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, 0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written;
    WriteFile(file, "contents", 8, &written, 0);
    SetFileTimeFromDos(file, Stamp);
    CloseHandle(file);

    SYSTEMTIME time = LocalWriteTime(path);
    EXPECT_EQ(time.wYear, 1998);
    EXPECT_EQ(time.wMonth, 6);
    EXPECT_EQ(time.wDay, 15);
    EXPECT_EQ(time.wHour, 12);
    EXPECT_EQ(time.wMinute, 30);
    EXPECT_EQ(time.wSecond, 0);
}

// The stamp test tells local time from UTC only where they differ: the test
// run sets TZ (Wine takes the zone from it) to a zone away from UTC.
TEST(SetFileTimeFromDos, RunsInTheConfiguredTimeZone)
{
    if (getenv("TZ") == 0)
        GTEST_SKIP() << "TZ is not set; the stamp test runs in the machine's zone";
    TIME_ZONE_INFORMATION zone;
    GetTimeZoneInformation(&zone);
    EXPECT_NE(zone.Bias, 0) << "TZ=" << getenv("TZ") << " gives no offset from UTC";
}

// ---- the walk's temporary folder --------------------------------------------

const char MarkText[] =
    "An extraction wrote its files in this folder and was stopped before it\r\n"
    "could remove it. Nothing here is needed: delete the folder.\r\n";

std::string MadeFolder(HANDLE handle, const std::wstring& folder)
{
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
    std::string made = Narrow(folder.c_str());
    return made.substr(made.rfind('\\') + 1);
}

TEST(TempFolder, IsMadeMarkedHeldAndRemoved)
{
    ScratchFolder root;
    std::wstring parent = Wide(root.Path() + "\\");
    std::vector<wchar_t> folder(PathTextSize);
    HANDLE handle = MakeTempFolder(parent.c_str(), folder.data());
    EXPECT_EQ(MadeFolder(handle, folder.data()), "~SFXTMP");
    EXPECT_TRUE(IsFile(root / "~SFXTMP\\README.TXT"));      // (Wine lists no folder held so)
    // Nobody else may delete or rename it while it is held.
    EXPECT_FALSE(RemoveDirectoryW(Wide(root / "~SFXTMP").c_str()));
    EXPECT_FALSE(MoveFileW(Wide(root / "~SFXTMP").c_str(), Wide(root / "moved").c_str()));
    // No short name of its own, through which an entry could reach it.
    wchar_t shortName[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(Wide(root / "~SFXTMP").c_str(), shortName, MAX_PATH), 0u);
    EXPECT_EQ(Narrow(shortName).substr(Narrow(shortName).rfind('\\') + 1), "~SFXTMP");
    RemoveTempFolder(folder.data(), handle);
    EXPECT_EQ(Entries(root.Path()), Calls{});
}

TEST(TempFolder, ALeftoverIsRemovedOnlyWhenProvablyARunsOwn)
{
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;   // name, contents ("/": a folder)
        bool removed;
    };
    const std::string mark = MarkText;
    const Case cases[] = {
        {"the mark and a partial file", {{"README.TXT", mark}, {"DATA.TMP", "partial"}}, true},
        {"the mark alone", {{"README.TXT", mark}}, true},
        {"the mark in other case", {{"readme.txt", mark}, {"data.tmp", "x"}}, true},
        {"nothing", {}, false},
        {"a user's file", {{"readme.txt", "the user's"}}, false},
        {"the mark and a user's file", {{"README.TXT", mark}, {"notes.txt", "mine"}}, false},
        {"the mark and a folder", {{"README.TXT", mark}, {"DATA.TMP", "/"}}, false},
        {"another mark", {{"README.TXT", mark + "more"}, {"DATA.TMP", "partial"}}, false},
        {"a short mark", {{"README.TXT", mark.substr(1)}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder root;
        MakeFolders(root / "~SFXTMP");
        for (const auto& file : c.files) {
            if (file.second == "/")
                MakeFolders(root / ("~SFXTMP\\" + file.first));
            else
                WriteFileBytes(root / ("~SFXTMP\\" + file.first), file.second);
        }
        std::wstring parent = Wide(root.Path() + "\\");
        std::vector<wchar_t> folder(PathTextSize);
        HANDLE handle = MakeTempFolder(parent.c_str(), folder.data());
        EXPECT_EQ(MadeFolder(handle, folder.data()), c.removed ? "~SFXTMP" : "~SFXTMP.1");
        if (!c.removed) {
            EXPECT_EQ(Entries(root / "~SFXTMP").size(), c.files.size()) << "the folder was touched";
        }
        RemoveTempFolder(folder.data(), handle);
        EXPECT_EQ(Entries(root.Path()), c.removed ? Calls{} : Calls{"~SFXTMP"});
    }
}

// The system reports the first folder it is asked about as a reparse point.
int ReparseReports;
decltype(__imp_GetFileInformationByHandle) RealGetFileInformationByHandle;

BOOL WINAPI FirstIsReparsePoint(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information)
{
    BOOL answered = RealGetFileInformationByHandle(file, information);
    if (answered && ReparseReports-- > 0)
        information->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return answered;
}

TEST(TempFolder, AReparsePointIsNeverUsedNorEmptied)
{
    // A folder that this run made and that is a reparse point when it is
    // opened (replaced in between): nothing is written into it, and the
    // next name is taken. A leftover that is one is not emptied.
    for (bool leftover : {false, true}) {
        SCOPED_TRACE(leftover ? "a leftover" : "made by this run");
        ScratchFolder root;
        if (leftover) {
            MakeFolders(root / "~SFXTMP");
            WriteFileBytes(root / "~SFXTMP\\README.TXT", MarkText);
            WriteFileBytes(root / "~SFXTMP\\DATA.TMP", "partial");
        }
        ReparseReports = 1;
        ImportSlot<decltype(__imp_GetFileInformationByHandle)> slot(&__imp_GetFileInformationByHandle,
                                                                      FirstIsReparsePoint);
        RealGetFileInformationByHandle = slot.Original();
        std::wstring parent = Wide(root.Path() + "\\");
        std::vector<wchar_t> folder(PathTextSize);
        HANDLE handle = MakeTempFolder(parent.c_str(), folder.data());
        EXPECT_EQ(MadeFolder(handle, folder.data()), "~SFXTMP.1");
        EXPECT_EQ(Entries(root / "~SFXTMP"), leftover ? (Calls{"DATA.TMP", "README.TXT"}) : Calls{});
        RemoveTempFolder(folder.data(), handle);
        EXPECT_EQ(Entries(root.Path()), Calls{"~SFXTMP"});
    }
}

// ---- one entry's extraction ---------------------------------------------------

void EnsureCrc()
{
    static uint32_t table[257];                 // as the program allocates it: 1,028 bytes
    if (CrcTable == 0) {
        CrcTable = table;
        BuildCrcTable();
    }
}

// A stored entry's local header, name and data.
std::string StoredEntry(const std::string& name, const std::string& data)
{
    EnsureCrc();
    uint32_t crc = 0xFFFFFFFF;
    CrcUpdateBuffer((const uint8_t*)data.data(), (int32_t)data.size(), crc);
    crc ^= 0xFFFFFFFF;
    LocalHeader header = {};
    header.Signature = 0x04034B50;
    header.VersionNeeded = 10;
    header.Crc32 = crc;
    header.CompressedSize = header.UncompressedSize = (uint32_t)data.size();
    header.NameLength = (uint16_t)name.size();
    return std::string((const char*)&header, sizeof header) + name + data;
}

// The program's state for a silent walk over one entry, written into an
// archive file, with a list box holding its item, selected.
class OneEntry {
public:
    explicit OneEntry(const std::string& archive)
    {
        EnsureCrc();
        WriteFileBytes(root_ / "archive.zip", archive);
        ArchiveHandle = CreateFileW(Wide(root_ / "archive.zip").c_str(), GENERIC_READ, FILE_SHARE_READ, 0,
                                    OPEN_EXISTING, 0, 0);
        list_ = CreateWindowW(L"LISTBOX", L"", LBS_MULTIPLESEL | LBS_HASSTRINGS, 0, 0, 100, 100, 0, 0, 0, 0);
        SendMessageW(list_, LB_ADDSTRING, 0, (LPARAM)L"entry");
        SendMessageW(list_, LB_SETSEL, TRUE, 0);
        SilentRun = 1;
        OverwriteChoice = 0;
        ListSearchIndex = 0;
    }
    ~OneEntry()
    {
        CloseHandle(ArchiveHandle);
        ArchiveHandle = INVALID_HANDLE_VALUE;
        DestroyWindow(list_);
        SilentRun = 0;
    }

    // Walks to the entry and extracts it into destination.
    EntryOutcome Extract(const std::string& destination)
    {
        CopyText(DestFolder, DestFolderSize, Wide(destination).c_str());
        PrepareExpectedSignature();
        SeekArchive(0, ArchiveFromStart);
        EntryName name;
        if (!ReadLocalHeader())
            return Abort;
        ReadEntryName(0, name);
        BeginEntryWalk();
        ForgetMessage();
        EntryOutcome outcome = ExtractEntry(list_, name);
        EndEntryWalk();
        return outcome;
    }
    bool Selected() const { return SendMessageW(list_, LB_GETSEL, 0, 0) > 0; }
    std::string Message() const { return Narrow(LastMessage()); }
    const ScratchFolder& Root() const { return root_; }

private:
    ScratchFolder root_;
    HWND list_;
};

int CloseFailures;
decltype(__imp_CloseHandle) RealCloseHandle;

// Closes the handle, and says that it failed, for the entry's output.
BOOL WINAPI FailingOutputClose(HANDLE handle)
{
    BOOL closed = RealCloseHandle(handle);
    if (handle == OutputHandle && CloseFailures-- > 0) {
        SetLastError(ERROR_IO_DEVICE);
        return FALSE;
    }
    return closed;
}

TEST(Extraction, AFailedCloseAfterTheRenameFailsTheEntry)
{
    OneEntry entry(StoredEntry("file.txt", "the data") + std::string("PK\5\6", 4) + std::string(18, '\0'));
    std::string out = entry.Root() / "out";
    MakeFolders(out);
    CloseFailures = 1;
    ImportSlot<decltype(__imp_CloseHandle)> slot(&__imp_CloseHandle, FailingOutputClose);
    RealCloseHandle = slot.Original();
    EXPECT_EQ(entry.Extract(out), Next);
    EXPECT_FALSE(EntryDone) << "counted as done";
    EXPECT_TRUE(entry.Selected());
    EXPECT_EQ(entry.Message().substr(0, 45), "Cannot close the file: Cannot Close File \"" + out.substr(0, 3));
    EXPECT_EQ(Entries(out), Calls{"file.txt"}) << "the temporary folder is gone";
}

std::vector<std::string>* Changes;
decltype(__imp_RemoveDirectoryW) RealRemoveDirectoryW;
decltype(__imp_DeleteFileW) RealDeleteFileW;

BOOL WINAPI RecordingRemoveDirectoryW(LPCWSTR path)
{
    Changes->push_back("rd " + Narrow(path));
    return RealRemoveDirectoryW(path);
}

BOOL WINAPI RecordingDeleteFileW(LPCWSTR path)
{
    Changes->push_back("del " + Narrow(path));
    return RealDeleteFileW(path);
}

BOOL WINAPI RecordingCreateDirectoryW2(LPCWSTR path, LPSECURITY_ATTRIBUTES security)
{
    Changes->push_back("md " + Narrow(path));
    return RealCreateDirectoryW(path, security);
}

// The destination's folders are all there, whatever the path.
DWORD WINAPI NoFileThere(LPCWSTR)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
}

TEST(Extraction, APathAtTheLimitFailsItsEntryAndTouchesNothing)
{
    // Full paths of 32,758 to 32,767 units, where the target or the
    // temporary folder beside the destination no longer fits what the
    // system takes: "Cannot Open File", and no folder or file made or
    // removed. (The system is told that every folder exists: none so deep
    // can be made here.)
    for (size_t length = 32758; length <= 32767; length++) {
        SCOPED_TRACE(length);
        OneEntry entry(StoredEntry("x", "data"));
        std::string destination = "C:\\" + std::string(length - 5, 'd');   // and "\\x"
        std::vector<std::string> changes;
        Changes = &changes;
        ImportSlot<decltype(__imp_GetFileAttributesW)> attributes(&__imp_GetFileAttributesW, NoFileThere);
        ImportSlot<decltype(__imp_CreateDirectoryW)> md(&__imp_CreateDirectoryW, RecordingCreateDirectoryW2);
        ImportSlot<decltype(__imp_RemoveDirectoryW)> rd(&__imp_RemoveDirectoryW, RecordingRemoveDirectoryW);
        ImportSlot<decltype(__imp_DeleteFileW)> del(&__imp_DeleteFileW, RecordingDeleteFileW);
        RealCreateDirectoryW = md.Original();
        RealRemoveDirectoryW = rd.Original();
        RealDeleteFileW = del.Original();
        EXPECT_EQ(entry.Extract(destination), Next);
        Changes = 0;
        EXPECT_FALSE(EntryDone);
        EXPECT_EQ(entry.Message().substr(0, 37), "Cannot Open File.: Cannot Open File \"");
        for (const std::string& change : changes)
            ADD_FAILURE() << change.substr(0, 60);
    }
}

// ---- the launch -----------------------------------------------------------------

// The volume and file index of an existing file; 0 for none.
uint64_t FileIdentity(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                              OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION information;
    bool known = GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    return known ? (uint64_t)information.dwVolumeSerialNumber << 48 ^ (uint64_t)information.nFileIndexHigh << 32
                       ^ information.nFileIndexLow
                 : 0;
}

std::vector<std::wstring>* Launched;

HINSTANCE WINAPI RefusingShellExecuteW(HWND, LPCWSTR, LPCWSTR file, LPCWSTR, LPCWSTR, INT)
{
    Launched->push_back(std::wstring(L"shell ") + file);
    return (HINSTANCE)2;                       // the shell could not start it
}

BOOL WINAPI RecordingCreateProcessW(LPCWSTR application, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                                    DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION)
{
    Launched->push_back(std::wstring(L"process ") + (application ? application : L"(none)"));
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

TEST(Launch, AProgramPathOf300UnitsReachesTheShellInAFormItTakes)
{
    // (Under Wine the program itself does not start: its CreateProcess
    // takes the long name of any form it is given into a buffer of 260
    // units.) What the stub hands over: the short form, shorter than 260
    // units and naming the program; the same to CreateProcessW when the
    // shell fails. A path of 259 units is handed over as before.
    for (size_t length : {300, 259}) {
        SCOPED_TRACE(length);
        ScratchFolder root;
        std::string base = root.Path() + "\\" + std::string(100, 'o');
        std::string folder = base + "\\" + std::string(length - base.size() - 1 - std::string("\\tools\\x.exe").size(), 'p');
        MakeFolders(folder + "\\tools");
        std::string program = folder + "\\tools\\x.exe";
        ASSERT_EQ(program.size(), length);
        WriteFileBytes(program, "MZ");
        CopyText(DestFolder, DestFolderSize, Wide(folder).c_str());
        CopyText(RunCommand, SettingsBufferSize, L"><tools\\x.exe|--in ><");
        HasRunCommand = 1;
        std::vector<std::wstring> launched;
        Launched = &launched;
        ImportSlot<decltype(__imp_ShellExecuteW)> shell(&__imp_ShellExecuteW, RefusingShellExecuteW);
        ImportSlot<decltype(__imp_CreateProcessW)> process(&__imp_CreateProcessW, RecordingCreateProcessW);
        EXPECT_FALSE(LaunchAfterExtraction(BST_CHECKED));
        Launched = 0;
        HasRunCommand = 0;
        ASSERT_GE(launched.size(), 1u);
        std::wstring given = launched[0].substr(6);
        EXPECT_LT(given.size(), (size_t)MAX_PATH);
        ASSERT_NE(FileIdentity(Literal(program)), 0u);
        EXPECT_EQ(FileIdentity(Literal(Narrow(given.c_str()))), FileIdentity(Literal(program)))
            << Narrow(given.c_str());
        if (length >= MAX_PATH) {
            ASSERT_EQ(launched.size(), 2u);
            EXPECT_EQ(launched[1], L"process " + given);
        } else {
            EXPECT_EQ(launched.size(), 1u) << "a short path goes to the shell alone, as ever";
        }
    }
}

}  // namespace
