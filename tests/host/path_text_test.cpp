// Path texts: splitting, joining and trailing backslashes.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "extract/SFXname.h"
#include "extract/SFXpath.h"
#include "startup/SFXcmd.h"
#include "startup/SFXstate.h"

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

TEST(HasPartEndingInDotOrBlank, FindsThePartsThatWindowsWouldShorten)
{
    for (const char* path : {"C:\\t1\\foo ", "C:\\foo..", "C:\\foo.\\bar", "C:/a /b", "MyApp.", "x\\...\\y",
                             "\\\\server\\share \\x", " ", "."  "\\. "})
        EXPECT_TRUE(HasPartEndingInDotOrBlank(path)) << path;
    for (const char* path : {"C:\\t1\\foo", "C:\\", "C:", "MyApp", "..\\up\\.\\here", ".\\x", "a.b\\c d",
                             "\\\\?\\C:\\long", "C:\\dir\\", "", "a\\\\b"})
        EXPECT_FALSE(HasPartEndingInDotOrBlank(path)) << path;
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

// Each name is tested as bytes and as UTF-16 units: the extractor tests the
// decoded name, the packer its UTF-8 text.
static NameFault FaultBothWays(const std::string& name)
{
    std::u16string units;
    for (unsigned char c : name)
        units += (char16_t)c;                 // the bytes as Latin-1 characters
    NameFault asBytes = EntryNameFault(name.c_str());
    EXPECT_EQ(EntryNameFault(units.c_str()), asBytes) << name;
    return asBytes;
}

TEST(EntryNameFault, ClassifiesNames)
{
    struct {
        NameFault fault;
        std::vector<std::string> names;
    } cases[] = {
        {NameFine, {"a.txt", "dir/sub/file.txt", "dir\\sub\\file", "dir/", "./a", "a/./b", "..a", ".a.b",
                    "a..b/c", "COM\xB4", "LPT\xB9x", "\xB9" "COM", "cone/x", "console", "COM10", "LPT", "nul_file", "my file.txt", ".hidden",
                    "\xC3\x9C" "bersicht.txt", "\xE6\x97\xA5\xE6\x9C\xAC/\xE8\xAA\x9E", "x[1]{2}#%&'+,;=@^`~"}},
        {NameLeavesFolder, {"../x", "a/../../x", "..\\x", "a\\..", "..", "/etc/passwd", "\\x",
                            "\\\\server\\share\\x", "C:\\x", "C:x", "a/b:c", "file:stream", ".../x", ". ./x",
                            ".. /x", "a/ ../b", "CON", "con", "nul.txt", "dir/NUL", "AUX.tar.gz", "prn",
                            "COM1", "lpt9.x", "CON /x", "conin$", "CONOUT$", "dir/com3/file", "a*/../../x",
                            "COM\xB9", "com\xB2.txt", "LPT\xB3", "dir/lpt\xB9.log/x", "COM\xB9 .x"}},
        {NameTrailingDotOrBlank, {"a.", "a ", "dir./file", "dir /file", "file.txt.", "a/b. ", "x/y..",
                                  "a..", "LPT\xB0."}},
        {NameReserved, {"~SFXTMP", "~sfxtmp", "~SfxTmp/x.txt", "dir/~SFXTMP.1/readme.txt", "~sfxtmp.99",
                        "~SFXTMP.txt", "~sfxtmp.anything.at.all/x"}},
        {NameFine, {"~SFXTMP1", "~sfxtmpx/readme.txt", "SFXTMP", "~SFXTM", "x~SFXTMP", "~sfx.txt"}},
        {NameForbiddenCharacter, {"*.txt", "a?.txt", "dir/<x>", "say \"hi\"", "a|b", "tab\there",
                                  std::string("bell\x07"), "dir*/file", "\x1F"}},
    };
    for (const auto& group : cases)
        for (const std::string& name : group.names)
            EXPECT_EQ(FaultBothWays(name), group.fault) << name;
}

static std::u16string Decoded(const std::string& bytes, int32_t unitsSize = NameUnitsMax + 1)
{
    std::vector<NameUnit> units((size_t)unitsSize + 1, u'#');
    int32_t n = DecodeUtf8(bytes.data(), (int32_t)bytes.size(), units.data(), unitsSize);
    if (n < 0)
        return n == NameInvalid ? u"<invalid>" : u"<too long>";
    EXPECT_EQ(units[(size_t)n], 0);
    return std::u16string(units.data(), (size_t)n);
}

TEST(DecodeUtf8, AcceptsOnlyTheShortestFormOfScalarValues)
{
    struct {
        std::string bytes;
        std::u16string units;
    } cases[] = {
        {"plain.txt", u"plain.txt"},
        {"\xC3\x9C" "bersicht-\xC3\xA9.txt", u"\u00DCbersicht-\u00E9.txt"},
        {"\xC2\x80\xDF\xBF", u"\u0080\u07FF"},                      // two-byte bounds
        {"\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF", u"\u0800\uD7FF\uE000\uFFFF"},
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"},  // surrogate pairs
        {"\xC0\xAF", u"<invalid>"},                                 // overlong "/"
        {"\xC1\xBF", u"<invalid>"},
        {"\xE0\x80\xAF", u"<invalid>"},
        {"\xE0\x9F\xBF", u"<invalid>"},
        {"\xF0\x80\x80\xAF", u"<invalid>"},
        {"\xF0\x8F\xBF\xBF", u"<invalid>"},
        {"\xED\xA0\x80", u"<invalid>"},                             // surrogates
        {"\xED\xBF\xBF", u"<invalid>"},
        {"\xF4\x90\x80\x80", u"<invalid>"},                         // past U+10FFFF
        {"\xF5\x80\x80\x80", u"<invalid>"},
        {"\xFF", u"<invalid>"},
        {"a\x80", u"<invalid>"},                                    // stray continuation
        {"\xC3", u"<invalid>"},                                     // cut short
        {"\xE6\x97", u"<invalid>"},
        {"\xC3(", u"<invalid>"},                                    // missing continuation
        {std::string("a\0b", 3), u"<invalid>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Decoded(c.bytes), c.units) << c.bytes;
}

TEST(DecodeUtf8, ToldWhenTheUnitsDoNotFit)
{
    EXPECT_EQ(Decoded("abc", 4), u"abc");
    EXPECT_EQ(Decoded("abcd", 4), u"<too long>");
    EXPECT_EQ(Decoded("ab\xF0\x90\x80\x80", 4), u"<too long>");   // a pair is not split
    EXPECT_EQ(Decoded("a\xF0\x90\x80\x80", 4), u"a\U00010000");
}

// Extra fields: (id, data) in order.
static std::vector<uint8_t> Extra(const std::vector<std::pair<uint16_t, std::string>>& fields)
{
    std::vector<uint8_t> out;
    for (const auto& f : fields) {
        out.push_back((uint8_t)f.first), out.push_back((uint8_t)(f.first >> 8));
        out.push_back((uint8_t)f.second.size()), out.push_back((uint8_t)(f.second.size() >> 8));
        out.insert(out.end(), f.second.begin(), f.second.end());
    }
    return out;
}

static std::string UnicodePath(uint8_t version, uint32_t crc, const std::string& name)
{
    std::string data(1, (char)version);
    for (int i = 0; i < 4; i++)
        data += (char)(crc >> (8 * i));
    return data + name;
}

TEST(FindUnicodePath, TakesOnlyAVersionOneFieldThatMatchesTheName)
{
    const uint32_t crc = 0x12345678;
    const std::string name = "\xC3\x9C" "bersicht.txt";
    struct {
        std::vector<uint8_t> extra;
        const char* found;                 // nullptr: none
    } cases[] = {
        {Extra({{0x7075, UnicodePath(1, crc, name)}}), name.c_str()},
        {Extra({{0x5455, "\x03" "abcdefgh"}, {0x7875, "\x01\x04"}, {0x7075, UnicodePath(1, crc, name)}}),
         name.c_str()},
        {Extra({{0x7075, UnicodePath(1, crc + 1, name)}}), nullptr},       // name changed since
        {Extra({{0x7075, UnicodePath(2, crc, name)}}), nullptr},           // unknown version
        {Extra({{0x7075, "\x01\x78\x56\x34"}}), nullptr},                  // too short
        {Extra({{0x7075, UnicodePath(1, crc, "")}}), ""},
        {Extra({{0x6375, UnicodePath(1, crc, name)}}), nullptr},           // Unicode comment
    };
    for (auto& c : cases) {
        const char* utf8 = nullptr;
        int32_t length = -1;
        bool found = FindUnicodePath(c.extra.data(), (int32_t)c.extra.size(), crc, utf8, length);
        EXPECT_EQ(found, c.found != nullptr);
        if (found && c.found)
            EXPECT_EQ(std::string(utf8, (size_t)length), c.found);
    }
    // A field that claims more than the extra field holds ends the search.
    std::vector<uint8_t> cut = Extra({{0x7075, UnicodePath(1, crc, name)}});
    cut.pop_back();
    const char* utf8;
    int32_t length;
    EXPECT_FALSE(FindUnicodePath(cut.data(), (int32_t)cut.size(), crc, utf8, length));
}

}  // namespace

// ---- the command line's switches

struct Switches {
    int silent, automatic, noRun, help, overwrite;
    std::u16string folder, password, log, extra, bad = u"(none)";
};

bool operator==(const Switches& a, const Switches& b)
{
    return a.silent == b.silent && a.automatic == b.automatic && a.noRun == b.noRun && a.help == b.help &&
           a.overwrite == b.overwrite && a.folder == b.folder && a.password == b.password && a.log == b.log &&
           a.extra == b.extra && a.bad == b.bad;
}

std::ostream& operator<<(std::ostream& out, const Switches& s)
{
    auto text = [](const std::u16string& t) { return std::string(t.begin(), t.end()); };
    return out << "{S " << s.silent << ", A " << s.automatic << ", NORUN " << s.noRun << ", ? " << s.help << ", O "
               << s.overwrite << ", D '" << text(s.folder) << "', P '" << text(s.password) << "', LOG '"
               << text(s.log) << "', -- '" << text(s.extra) << "', bad '" << text(s.bad) << "'}";
}

Switches Read(const std::u16string& line)
{
    SilentRun = AutomaticRun = NoRunSwitch = HelpAsked = 0;
    SwitchOverwrite = 0;
    SwitchFolder = SwitchPassword = LogPath = BadSwitch = ExtraParameters = nullptr;
    static std::u16string buffer;
    buffer = line;
    ReadSwitches(&buffer[0]);
    auto text = [](const NameUnit* t) { return t ? std::u16string(t) : std::u16string(); };
    return {SilentRun, AutomaticRun, NoRunSwitch, HelpAsked, SwitchOverwrite, text(SwitchFolder),
            text(SwitchPassword), text(LogPath), text(ExtraParameters), BadSwitch ? text(BadSwitch) : u"(none)"};
}

TEST(ReadSwitches, SplitsAsTheRuntimeDoesAndReadsEachSwitch)
{
    const int A = OverwriteAlways, N = OverwriteNever;
    const std::pair<std::u16string, Switches> cases[] = {
        {u"sfx.exe", {}},
        {u"\"C:\\Program Files\\sfx.exe\" /S", {1}},
        {u"C:\\dl\\sfx.exe\t/s -A  /NoRun /?", {1, 1, 1, 1}},
        {u"sfx.exe \"/D=C:\\Program Files\\App\" /o=a", {0, 0, 0, 0, A, u"C:\\Program Files\\App"}},
        {u"sfx.exe /D=\"C:\\a b\\\\\" -O=N", {0, 0, 0, 0, N, u"C:\\a b\\"}},
        {u"sfx.exe /D=C:\\x\\y\\ /P=a\\\"b\\\\c", {0, 0, 0, 0, 0, u"C:\\x\\y\\", u"a\"b\\\\c"}},
        {u"sfx.exe \"/P=say \"\"hi\"\"\" /LOG=log.txt", {0, 0, 0, 0, 0, u"", u"say \"hi\"", u"log.txt"}},
        // Everything after "--" as it stands, quotes and all.
        {u"setup.exe /S -- /quiet \"/x y\"  /norestart", {1, 0, 0, 0, 0, u"", u"", u"", u"/quiet \"/x y\"  /norestart"}},
        {u"setup.exe --", {}},
        // Not understood: the first one is named, and nothing is extracted.
        {u"sfx.exe readme.txt /X", {0, 0, 0, 0, 0, u"", u"", u"", u"", u"readme.txt"}},
        {u"sfx.exe /S /X /Y", {1, 0, 0, 0, 0, u"", u"", u"", u"", u"/X"}},
        {u"sfx.exe /O=X", {0, 0, 0, 0, 0, u"", u"", u"", u"", u"/O=X"}},
        {u"sfx.exe /O=always", {0, 0, 0, 0, 0, u"", u"", u"", u"", u"/O=always"}},
        {u"sfx.exe /D=", {0, 0, 0, 0, 0, u"", u"", u"", u"", u"/D="}},
        {u"sfx.exe /D", {0, 0, 0, 0, 0, u"", u"", u"", u"", u"/D"}},
        {u"sfx.exe /SILENT", {0, 0, 0, 0, 0, u"", u"", u"", u"", u"/SILENT"}},
        {u"sfx.exe --x", {0, 0, 0, 0, 0, u"", u"", u"", u"", u"--x"}},
        {u"sfx.exe \"\"", {0, 0, 0, 0, 0, u"", u"", u"", u"", u""}},
    };
    for (const auto& c : cases) {
        std::string line(c.first.begin(), c.first.end());
        SCOPED_TRACE(line);
        EXPECT_EQ(Read(c.first), c.second);
    }
}
