// The file-system helpers on a real file system: PathExists, ForceFolders,
// SetFileTimeFromDos.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "extract/SFXpath.h"
#include "import_slot.h"
#include "win_files.h"

// The import slot through which the program's code creates folders.
extern "C" BOOL(WINAPI* __imp_CreateDirectoryW)(LPCWSTR, LPSECURITY_ATTRIBUTES);

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

}  // namespace
