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

// The import slots through which the program's code creates folders: the
// dialogs with ANSI paths, the extraction with UTF-16 ones.
extern "C" BOOL(WINAPI* __imp_CreateDirectoryA)(LPCSTR, LPSECURITY_ATTRIBUTES);
extern "C" BOOL(WINAPI* __imp_CreateDirectoryW)(LPCWSTR, LPSECURITY_ATTRIBUTES);

namespace {

std::vector<std::string>* RecordedCalls;
decltype(__imp_CreateDirectoryA) RealCreateDirectoryA;
decltype(__imp_CreateDirectoryW) RealCreateDirectoryW;

void Record(std::string call)
{
    std::replace(call.begin(), call.end(), '/', '\\');
    RecordedCalls->push_back(call);
}

BOOL WINAPI RecordingCreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security)
{
    Record(path);
    return RealCreateDirectoryA(path, security);
}

BOOL WINAPI RecordingCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security)
{
    Record(std::string(path, path + wcslen(path)));      // the tests' paths are ASCII
    return RealCreateDirectoryW(path, security);
}

// ForceFolders on path, as ANSI text or as UTF-16, returning every folder it
// asked the system to create, in order (with "/" shown as "\").
std::vector<std::string> ForceFoldersCalls(const std::string& path, bool wide)
{
    std::vector<std::string> calls;
    RecordedCalls = &calls;
    ImportSlot<decltype(__imp_CreateDirectoryA)> slotA(&__imp_CreateDirectoryA, RecordingCreateDirectoryA);
    ImportSlot<decltype(__imp_CreateDirectoryW)> slotW(&__imp_CreateDirectoryW, RecordingCreateDirectoryW);
    RealCreateDirectoryA = slotA.Original();
    RealCreateDirectoryW = slotW.Original();
    if (wide)
        ForceFolders(std::wstring(path.begin(), path.end()).c_str());
    else
        ForceFolders(path.c_str());
    RecordedCalls = 0;
    return calls;
}

std::vector<std::string> Entries(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

bool Exists(std::string path)
{
    std::vector<char> buffer(path.begin(), path.end());
    buffer.resize(PathTextSize, 0);
    return PathExists(buffer.data());
}

typedef std::vector<std::string> Calls;

// Every case for the ANSI paths of the dialogs and the UTF-16 paths of the
// extraction.
class ForceFoldersTest : public ::testing::TestWithParam<bool> {
protected:
    Calls ForceFoldersCalls(const std::string& path) { return ::ForceFoldersCalls(path, GetParam()); }

    ScratchFolder root_;
};

TEST_P(ForceFoldersTest, CreatesTheMissingFoldersTopDown)
{
    Calls calls = ForceFoldersCalls(root_ / "x\\y\\z\\");
    EXPECT_EQ(calls, (Calls{root_ / "x", root_ / "x\\y", root_ / "x\\y\\z"}));
    EXPECT_TRUE(IsFolder(root_ / "x\\y\\z"));
}

TEST_P(ForceFoldersTest, ClimbsOnlyToTheFirstFolderThatExists)
{
    ASSERT_TRUE(CreateDirectoryA((root_ / "x").c_str(), 0));
    Calls calls = ForceFoldersCalls(root_ / "x\\y\\z");
    EXPECT_EQ(calls, (Calls{root_ / "x\\y", root_ / "x\\y\\z"}));
    EXPECT_TRUE(IsFolder(root_ / "x\\y\\z"));
}

TEST_P(ForceFoldersTest, ExistingFolderIsLeftAlone)
{
    ASSERT_TRUE(CreateDirectoryA((root_ / "x").c_str(), 0));
    EXPECT_EQ(ForceFoldersCalls(root_ / "x"), Calls{});
    EXPECT_EQ(ForceFoldersCalls(root_ / "x\\"), Calls{});
}

TEST_P(ForceFoldersTest, EntryNamesWithForwardSlashes)
{
    // An entry's folder as the extraction builds it: destination, then the
    // name as stored in the archive.
    Calls calls = ForceFoldersCalls(root_.Path() + "\\docs/api/v1");
    EXPECT_EQ(calls, (Calls{root_ / "docs", root_ / "docs\\api", root_ / "docs\\api\\v1"}));
    EXPECT_TRUE(IsFolder(root_ / "docs\\api\\v1"));
}

TEST_P(ForceFoldersTest, PathNamingAnExistingFileDoesNothing)
{
    WriteFileBytes(root_ / "file.txt", "data");
    EXPECT_EQ(ForceFoldersCalls(root_ / "file.txt"), Calls{});
    EXPECT_TRUE(IsFile(root_ / "file.txt"));
}

TEST_P(ForceFoldersTest, FolderBelowAFileFailsWithoutHarm)
{
    WriteFileBytes(root_ / "file.txt", "data");
    Calls calls = ForceFoldersCalls(root_ / "file.txt\\a\\b");
    EXPECT_EQ(calls, (Calls{root_ / "file.txt\\a", root_ / "file.txt\\a\\b"}));
    EXPECT_TRUE(IsFile(root_ / "file.txt"));
    EXPECT_EQ(Entries(root_.Path()), Calls{"file.txt"});
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
    for (const std::string name : {"out\\a:", "a:b\\c", "out\\a:\\"}) {
        SCOPED_TRACE("name \"" + name + "\"");
        Calls calls = ForceFoldersCalls(root_ / name);
        EXPECT_LE(calls.size(), 3u);
        for (const std::string& call : calls)
            EXPECT_NE(call.find(':', 2), std::string::npos) << "created " << call;
        EXPECT_FALSE(IsFolder(root_ / "out"));
    }
}

INSTANTIATE_TEST_SUITE_P(AnsiAndWide, ForceFoldersTest, ::testing::Bool());

class PathExistsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CreateDirectoryA((root_ / "full").c_str(), 0));
        WriteFileBytes(root_ / "full\\file.txt", "data");
        ASSERT_TRUE(CreateDirectoryA((root_ / "empty").c_str(), 0));
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
    auto wide = [](const std::string& path) { return std::wstring(path.begin(), path.end()); };
    EXPECT_TRUE(WidePathExists(wide(root_ / "full\\file.txt").c_str()));
    EXPECT_TRUE(WidePathExists(wide(root_ / "full").c_str()));
    EXPECT_TRUE(WidePathExists(wide(root_.Path() + "/full/file.txt").c_str()));
    for (const char* pattern : {"full\\*.txt", "full\\file.tx?", "ful?", "*"})
        EXPECT_FALSE(WidePathExists(wide(root_ / pattern).c_str())) << pattern;
    EXPECT_FALSE(WidePathExists(wide(root_ / "missing").c_str()));
}

TEST_F(PathExistsTest, ConvertsSlashesInTheCallersBuffer)
{
    char found[PathTextSize], missing[PathTextSize];
    strcpy(found, (root_.Path() + "/full/file.txt").c_str());
    strcpy(missing, (root_.Path() + "/none/dir").c_str());
    EXPECT_TRUE(PathExists(found));
    EXPECT_EQ(std::string(found), root_ / "full\\file.txt");
    EXPECT_FALSE(PathExists(missing));
    EXPECT_EQ(std::string(missing), root_ / "none\\dir");
}

TEST_F(PathExistsTest, TrailingBackslashSearchesACopy)
{
    char path[PathTextSize];
    std::string original = root_.Path() + "/full\\";
    strcpy(path, original.c_str());
    EXPECT_TRUE(PathExists(path));
    EXPECT_EQ(std::string(path), original);
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

TEST_F(PathExistsTest, LongestFolderPathThatCanBeSearched)
{
    std::string path = PaddedFolder(root_ / "full", 251);
    ASSERT_EQ(path.size(), 251u);
    EXPECT_TRUE(Exists(path));
}

TEST_F(PathExistsTest, OverlongFolderPathTestsAsMissing)
{
    for (size_t length : {300u, 400u, 519u}) {
        std::string path = PaddedFolder(root_ / "full", length);
        ASSERT_EQ(path.size(), length);
        EXPECT_FALSE(Exists(path)) << "length " << length;
    }
}

// The DOS stamp of 1998-06-15 12:30:00.
const uint32_t Stamp = (uint32_t)(((1998 - 1980) << 9) | (6 << 5) | 15) << 16 | (12 << 11) | (30 << 5);

SYSTEMTIME LocalWriteTime(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
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
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
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
