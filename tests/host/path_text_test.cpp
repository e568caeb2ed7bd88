// Path texts: splitting, joining and trailing backslashes.
#include <gtest/gtest.h>

#include <string>

#include "extract/SFXpath.h"

namespace {

std::string Parent(const std::string& path)
{
    char out[PathTextSize];
    ParentPath(path.c_str(), out, sizeof out);
    return out;
}

std::string NamePart(const std::string& path)
{
    char out[256];
    FileNamePart(path.c_str(), out, sizeof out);
    return out;
}

TEST(ParentPath, DropsTheLastComponent)
{
    EXPECT_EQ(Parent("C:\\a\\file"), "C:\\a");
    EXPECT_EQ(Parent("C:\\a\\b\\c"), "C:\\a\\b");
    EXPECT_EQ(Parent("a/b/c"), "a/b");
    EXPECT_EQ(Parent("dir\\"), "dir");
    EXPECT_EQ(Parent("dir/"), "dir");
}

TEST(ParentPath, KeepsDriveRootsAndPrefixes)
{
    EXPECT_EQ(Parent("C:\\"), "C:\\");
    EXPECT_EQ(Parent("C:/"), "C:/");
    EXPECT_EQ(Parent("C:\\file"), "C:\\");
    EXPECT_EQ(Parent("C:xy"), "C:");
}

TEST(ParentPath, NoSeparatorGivesEmptyText)
{
    EXPECT_EQ(Parent("plain.txt"), "");
    EXPECT_EQ(Parent(""), "");
}

TEST(ParentPath, ColonBeyondTheDriveIsNotShortened)
{
    // The path comes back whole; ForceFolders must notice and stop climbing.
    EXPECT_EQ(Parent("C:\\out\\a:"), "C:\\out\\a:");
}

TEST(ParentPath, CutsToTheCallersBuffer)
{
    char out[4];
    ParentPath("C:\\abcdef\\x", out, sizeof out);
    EXPECT_STREQ(out, "C:\\");
}

TEST(FileNamePart, TakesTextAfterTheLastSeparator)
{
    EXPECT_EQ(NamePart("C:\\a\\b.txt"), "b.txt");
    EXPECT_EQ(NamePart("b.txt"), "b.txt");
    EXPECT_EQ(NamePart("C:b"), "b");
    EXPECT_EQ(NamePart("dir/sub/x.bin"), "x.bin");
    EXPECT_EQ(NamePart("-s"), "-s");
    EXPECT_EQ(NamePart("/s"), "s");
    EXPECT_EQ(NamePart("dir\\"), "");
}

TEST(FileNamePart, KeepsAtMost255Characters)
{
    std::string longName(300, 'n');
    longName[0] = 'a';
    EXPECT_EQ(NamePart("C:\\" + longName), longName.substr(0, 255));
}

TEST(StringFromBuffer, StopsAtTheFirstNul)
{
    const char bytes[] = {'a', 'b', 0, 'c', 'd'};
    char text[16];
    StringFromBuffer(bytes, 5, text, sizeof text);
    EXPECT_STREQ(text, "ab");
    StringFromBuffer(bytes, 0, text, sizeof text);
    EXPECT_STREQ(text, "");
    StringFromBuffer("abcdef", 4, text, sizeof text);
    EXPECT_STREQ(text, "abcd");
    StringFromBuffer("abcdef", 6, text, 3);
    EXPECT_STREQ(text, "ab");
}

TEST(StrLength, CountsBytesBeforeTheNul)
{
    EXPECT_EQ(StrLength(""), 0);
    EXPECT_EQ(StrLength("abc"), 3);
    std::string big(70000, 'x');
    EXPECT_EQ(StrLength(big.c_str()), 0xFFFF);
}

TEST(Backslash, AddAndRemoveChangeTheBufferInPlace)
{
    char text[8] = "C:\\dir";
    EXPECT_TRUE(AddBackslash(text, sizeof text));
    EXPECT_STREQ(text, "C:\\dir\\");
    EXPECT_TRUE(AddBackslash(text, sizeof text));      // no second one
    EXPECT_STREQ(text, "C:\\dir\\");
    RemoveBackslash(text);
    EXPECT_STREQ(text, "C:\\dir");
    RemoveBackslash(text);                              // no backslash: unchanged
    EXPECT_STREQ(text, "C:\\dir");

    char empty[4] = "";
    EXPECT_TRUE(AddBackslash(empty, sizeof empty));
    EXPECT_STREQ(empty, "\\");
    char none[4] = "";
    RemoveBackslash(none);
    EXPECT_STREQ(none, "");
}

TEST(Backslash, AddRefusesWhenTheBufferIsFull)
{
    char text[4] = "abc";
    EXPECT_FALSE(AddBackslash(text, sizeof text));
    EXPECT_STREQ(text, "abc");
}

TEST(SlashesToBackslashes, ConvertsEveryForwardSlash)
{
    char text[] = "a/b/c\\d/";
    SlashesToBackslashes(text);
    EXPECT_STREQ(text, "a\\b\\c\\d\\");
}

TEST(Texts, CopyAndAppendRefuseWhatDoesNotFit)
{
    char text[6];
    EXPECT_TRUE(CopyText(text, sizeof text, "abc"));
    EXPECT_FALSE(AppendText(text, sizeof text, "def"));
    EXPECT_STREQ(text, "abc");
    EXPECT_TRUE(AppendText(text, sizeof text, "de"));
    EXPECT_STREQ(text, "abcde");
    EXPECT_FALSE(CopyText(text, sizeof text, "abcdef"));
    EXPECT_STREQ(text, "abcde");
}

}  // namespace

namespace {

TEST(NameStaysInside, AcceptsOrdinaryRelativeNames)
{
    for (const char* name : {"a.txt", "dir/sub/file.txt", "dir\\sub\\file", "dir/", "./a", "a/./b",
                             "..a", "a..", "a..b/c", "cone/x", "console", "COM10", "LPT", "nul_file",
                             "my file.txt", ".hidden"})
        EXPECT_TRUE(NameStaysInside(name)) << name;
}

TEST(NameStaysInside, RefusesNamesThatLeaveTheFolder)
{
    for (const char* name : {"../x", "a/../../x", "..\\x", "a\\..", "..", "/etc/passwd", "\\x",
                             "\\\\server\\share\\x", "C:\\x", "C:x", "a/b:c", "file:stream",
                             ".../x", ". ./x", ".. /x", "a/ ../b"})
        EXPECT_FALSE(NameStaysInside(name)) << name;
}

TEST(NameStaysInside, RefusesDeviceNamesInAnyComponent)
{
    for (const char* name : {"CON", "con", "nul.txt", "dir/NUL", "AUX.tar.gz", "prn", "COM1", "lpt9.x",
                             "CON /x", "conin$", "CONOUT$", "dir/com3/file"})
        EXPECT_FALSE(NameStaysInside(name)) << name;
}

}  // namespace
