// ReadSettingsBlock over real files: the block behind the executable, its
// flags, its three strings, and files that end early.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "startup/SFXsett.h"
#include "startup/SFXstate.h"
#include "win_files.h"

namespace {

const wchar_t Untouched = (wchar_t)0xA5A5;   // fill of buffers the reader must not write
const char Filler = 'x';               // the executable's bytes, the block's unused rest
const std::string ArchiveStart("PK\x03\x04\x14\x00\x00\x00", 8);

std::string Stub(uint32_t length = StubSizeMin)
{
    return std::string(length, Filler);
}

// The headers of an image whose sections' data lie at (offset, size) in its
// file: MZ header, PE signature, file header and an optional header of
// optionalSize bytes (224 in PE32, 240 in PE32+), then the section table.
std::string ImageHeaders(uint16_t optionalSize, const std::vector<std::pair<uint32_t, uint32_t>>& sections)
{
    std::string h(4096, '\0');
    auto put16 = [&](size_t at, uint32_t v) { h[at] = (char)v, h[at + 1] = (char)(v >> 8); };
    auto put32 = [&](size_t at, uint32_t v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); };
    const size_t pe = 0x80;
    h[0] = 'M', h[1] = 'Z';
    put32(0x3C, pe);
    h.replace(pe, 4, std::string("PE\0\0", 4));
    put16(pe + 6, (uint32_t)sections.size());
    put16(pe + 20, optionalSize);
    for (size_t i = 0; i < sections.size(); i++) {
        size_t at = pe + 24 + optionalSize + 40 * i;
        put32(at + 16, sections[i].second);
        put32(at + 20, sections[i].first);
    }
    return h;
}

// "MPU", flags, the three lengths and the strings, padded to 256 bytes.
std::string Block(uint8_t flags, const std::string& title = "", const std::string& folder = "",
                  const std::string& command = "")
{
    std::string block = "MPU";
    block += (char)flags;
    block += (char)title.size();
    block += (char)folder.size();
    block += (char)command.size();
    block += title + folder + command;
    if (block.size() < SettingsBlockSize)
        block.resize(SettingsBlockSize, Filler);
    return block;
}

struct Settings {
    bool8 hasTitle, hasDefaultFolder, hasRunCommand;
    bool8 showRunCheckBox, userSelectsFiles, hideOverwriteOptions;
    int32_t overwriteMode;
};

bool operator==(const Settings& a, const Settings& b)
{
    return a.hasTitle == b.hasTitle && a.hasDefaultFolder == b.hasDefaultFolder &&
           a.hasRunCommand == b.hasRunCommand && a.showRunCheckBox == b.showRunCheckBox &&
           a.userSelectsFiles == b.userSelectsFiles &&
           a.hideOverwriteOptions == b.hideOverwriteOptions && a.overwriteMode == b.overwriteMode;
}

std::ostream& operator<<(std::ostream& out, const Settings& s)
{
    return out << "{title " << (int)s.hasTitle << ", folder " << (int)s.hasDefaultFolder
               << ", command " << (int)s.hasRunCommand << ", run box " << (int)s.showRunCheckBox
               << ", user selects " << (int)s.userSelectsFiles << ", hide overwrite "
               << (int)s.hideOverwriteOptions << ", mode " << s.overwriteMode << "}";
}

const Settings Defaults = {0, 0, 0, 1, 1, 0, OverwriteConfirm};

Settings Current()
{
    return {HasTitle, HasDefaultFolder, HasRunCommand, ShowRunCheckBox,
            UserSelectsFiles, HideOverwriteOptions, OverwriteMode};
}

class ReadSettingsBlockTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSettings(); }

    // The values of a process that has not read its block yet; the text
    // buffers are filled with a mark so that writes to them show.
    static void ResetSettings()
    {
        HasTitle = 0;
        HasDefaultFolder = 0;
        HasRunCommand = 0;
        ShowRunCheckBox = 1;
        UserSelectsFiles = 1;
        HideOverwriteOptions = 0;
        OverwriteMode = OverwriteConfirm;
        StubSize = StubSizeMin;
        ArchiveBase = 0;
        LastSeekPosition = 0;
        std::fill(TitleText, TitleText + SettingsBufferSize, Untouched);
        std::fill(RunCommand, RunCommand + SettingsBufferSize, Untouched);
        std::fill(DefaultFolder, DefaultFolder + FolderTextSize, Untouched);
        std::fill(BrowseFolder, BrowseFolder + FolderTextSize, Untouched);
    }

    void TearDown() override
    {
        if (ArchiveHandle != INVALID_HANDLE_VALUE)
            CloseHandle(ArchiveHandle);
        ArchiveHandle = INVALID_HANDLE_VALUE;
    }

    // Writes the self-extracting file and runs the reader over it, the way
    // start-up does: through ArchiveHandle, opened read-only.
    void Read(const std::string& contents)
    {
        std::string path = folder_ / "sfx.exe";
        WriteFileBytes(path, contents);
        ArchiveHandle = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, 0);
        ASSERT_NE(ArchiveHandle, INVALID_HANDLE_VALUE);
        ReadSettingsBlock();
        CloseHandle(ArchiveHandle);
        ArchiveHandle = INVALID_HANDLE_VALUE;
    }

    static bool IsUntouched(const wchar_t* buffer)
    {
        for (int32_t i = 0; i < SettingsBufferSize; i++)
            if (buffer[i] != Untouched)
                return false;
        return true;
    }

    ScratchFolder folder_;
};

TEST_F(ReadSettingsBlockTest, FileEndingWithTheExecutableHasNoBlock)
{
    Read(Stub());
    EXPECT_EQ(ArchiveBase, 43008u);
    EXPECT_EQ(LastSeekPosition, 43008);
    EXPECT_EQ(Current(), Defaults);
}

TEST(StubSizeOf, TheFurthestEndOfASectionsDataAndNeverLessThanTheLeast)
{
    struct Case {
        const char* what;
        uint16_t optionalSize;
        std::vector<std::pair<uint32_t, uint32_t>> sections;
        uint32_t expected;
    };
    const Case cases[] = {
        {"an image that ends sooner is padded", 224, {{0x400, 0x8000}, {0x8400, 0x200}}, 43008},
        {"its resources end the image", 240, {{0x400, 0x8000}, {0x8400, 0x200}, {0x8600, 0x4000}}, 0xC600},
        {"sections need not be in file order", 224, {{0xB000, 0x1000}, {0x400, 0x200}}, 0xC000},
        {"one without data in the file is no end (.bss)", 240, {{0x400, 0xB000}, {0, 0}, {0x20000, 0}}, 0xB400},
        {"exactly the least length", 224, {{0x400, 43008 - 0x400}}, 43008},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(StubSizeOf(ImageHeaders(c.optionalSize, c.sections).data()), c.expected);
    }
}

TEST_F(ReadSettingsBlockTest, ALongerStubHasItsBlockWhereItsImageEnds)
{
    // The bytes at 43008 of a longer stub are its own, whatever they hold.
    const uint32_t length = 45056;
    std::string stub = Stub(length);
    stub.replace(StubSizeMin, SettingsBlockSize, Block(0x00, "Inside"));
    StubSize = length;
    Read(stub + Block(0x04, "Title") + ArchiveStart);
    EXPECT_EQ(ArchiveBase, length + SettingsBlockSize);
    EXPECT_EQ(Narrow(TitleText), std::string("Title"));
    EXPECT_EQ(HideOverwriteOptions, 1);
    ResetSettings();
    StubSize = length;
    Read(stub + ArchiveStart);
    EXPECT_EQ(ArchiveBase, length);
    EXPECT_EQ(Current(), Defaults);
}

TEST_F(ReadSettingsBlockTest, AnythingButUpperCaseMpuIsNoBlock)
{
    const std::string signatures[] = {"mpu", "Mpu", "MPu", "mPU", "MPV", std::string("MP\0", 3),
                                      std::string("\0PU", 3), "PK\x03"};
    for (const std::string& signature : signatures) {
        SCOPED_TRACE("signature bytes \"" + signature + "\"");
        ResetSettings();
        // Everything after the signature is a valid block: only the signature decides.
        Read(Stub() + signature + Block(0x04, "Title", "C:\\Folder", "run.exe").substr(3) + ArchiveStart);
        EXPECT_EQ(ArchiveBase, 43008u);
        EXPECT_EQ(Current(), Defaults);
    }
}

TEST_F(ReadSettingsBlockTest, SignatureCutShortByTheEndOfTheFileIsNoBlock)
{
    for (const std::string tail : {"M", "MP"}) {
        SCOPED_TRACE("file ends after \"" + tail + "\"");
        ResetSettings();
        Read(Stub() + tail);
        EXPECT_EQ(ArchiveBase, 43008u);
        EXPECT_EQ(Current(), Defaults);
    }
}

TEST_F(ReadSettingsBlockTest, FlagBitsZeroToFourSetThePresentation)
{
    for (int flags = 0; flags < 256; flags++) {
        SCOPED_TRACE("flags " + std::to_string(flags));
        ResetSettings();
        Read(Stub() + Block((uint8_t)flags) + ArchiveStart);
        // Bits 5-7 mean nothing.
        Settings expected = {0, 0, 0, (bool8)((flags & 0x01) != 0), (bool8)((flags & 0x02) != 0),
                             (bool8)((flags & 0x04) != 0), OverwriteConfirm};
        if ((flags & 0x18) == 0x08)
            expected.overwriteMode = OverwriteAlways;
        if ((flags & 0x18) == 0x10)
            expected.overwriteMode = OverwriteNever;
        EXPECT_EQ(Current(), expected);
        EXPECT_EQ(ArchiveBase, 43264u);
    }
}

TEST_F(ReadSettingsBlockTest, SpecimenFlagsFromTheFormat)
{
    struct Case { uint8_t flags; bool8 showRun, userSelects, hide; int32_t mode; };
    const Case cases[] = {
        {0x18, 0, 0, 0, OverwriteConfirm},
        {0x08, 0, 0, 0, OverwriteAlways},
        {0x10, 0, 0, 0, OverwriteNever},
        {0x07, 1, 1, 1, OverwriteConfirm},           // every default kept, options hidden
        {0x00, 0, 0, 0, OverwriteConfirm},           // not the defaults of a file without block
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("flags " + std::to_string(c.flags));
        ResetSettings();
        Read(Stub() + Block(c.flags) + ArchiveStart);
        EXPECT_EQ(Current(), (Settings{0, 0, 0, c.showRun, c.userSelects, c.hide, c.mode}));
    }
}

TEST_F(ReadSettingsBlockTest, AllLengthsZero)
{
    Read(Stub() + Block(0x03) + ArchiveStart);
    EXPECT_EQ(ArchiveBase, 43264u);
    EXPECT_EQ(Current(), Defaults);
    EXPECT_EQ(Narrow(TitleText), std::string(""));
    EXPECT_EQ(Narrow(RunCommand), std::string(""));
    EXPECT_TRUE(IsUntouched(BrowseFolder));
}

TEST_F(ReadSettingsBlockTest, TheThreeStringsAreReadInOrderAndTerminated)
{
    Read(Stub() + Block(0x03, "Demo Setup", "C:\\Program Files\\Demo", "><setup.exe|-s") +
         ArchiveStart);
    EXPECT_EQ(ArchiveBase, 43264u);
    EXPECT_EQ(Current(), (Settings{1, 1, 1, 1, 1, 0, OverwriteConfirm}));
    EXPECT_EQ(Narrow(TitleText), std::string("Demo Setup"));
    EXPECT_EQ(Narrow(DefaultFolder), std::string("C:\\Program Files\\Demo"));
    EXPECT_EQ(Narrow(RunCommand), std::string("><setup.exe|-s"));
    EXPECT_TRUE(IsUntouched(BrowseFolder));
}

TEST_F(ReadSettingsBlockTest, OneStringAloneLeavesTheOthersEmpty)
{
    Read(Stub() + Block(0x03, "", "", "notepad.exe") + ArchiveStart);
    EXPECT_EQ(Current(), (Settings{0, 0, 1, 1, 1, 0, OverwriteConfirm}));
    EXPECT_EQ(Narrow(TitleText), std::string(""));
    EXPECT_EQ(Narrow(RunCommand), std::string("notepad.exe"));
    EXPECT_TRUE(IsUntouched(DefaultFolder));         // not terminated without a folder

    ResetSettings();
    Read(Stub() + Block(0x03, "", "D:\\Out", "") + ArchiveStart);
    EXPECT_EQ(Current(), (Settings{0, 1, 0, 1, 1, 0, OverwriteConfirm}));
    EXPECT_EQ(Narrow(TitleText), std::string(""));
    EXPECT_EQ(Narrow(DefaultFolder), std::string("D:\\Out"));
    EXPECT_EQ(Narrow(RunCommand), std::string(""));
}

// The longest strings run past the block into the archive; the reader reads
// them whole and terminates each at [255].
TEST_F(ReadSettingsBlockTest, StringsOf255BytesAreReadWhole)
{
    std::string title(255, 'T'), folder(255, 'F'), command(255, 'C');
    title[0] = 'A';
    title[254] = 'Z';
    std::string block = std::string("MPU\x03\xFF\x00\x00", 7) + title;
    Read(Stub() + block + ArchiveStart);
    EXPECT_EQ(ArchiveBase, 43264u);
    EXPECT_TRUE(HasTitle);
    EXPECT_EQ(Narrow(TitleText), title);
    EXPECT_EQ(TitleText[255], 0);
    EXPECT_EQ(Narrow(RunCommand), std::string(""));
    EXPECT_TRUE(IsUntouched(DefaultFolder));
    EXPECT_TRUE(IsUntouched(BrowseFolder));

    ResetSettings();
    block = std::string("MPU\x03\xFF\xFF\xFF", 7) + title + folder + command;
    Read(Stub() + block + ArchiveStart);
    EXPECT_EQ(Current(), (Settings{1, 1, 1, 1, 1, 0, OverwriteConfirm}));
    EXPECT_EQ(Narrow(TitleText), title);
    EXPECT_EQ(Narrow(DefaultFolder), folder);
    EXPECT_EQ(Narrow(RunCommand), command);
    EXPECT_EQ(DefaultFolder[255], 0);
    EXPECT_EQ(RunCommand[255], 0);
    EXPECT_TRUE(IsUntouched(BrowseFolder));
}

TEST_F(ReadSettingsBlockTest, TemporaryFolderToken)
{
    Read(Stub() + Block(0x03, "", "><") + ArchiveStart);
    EXPECT_TRUE(HasDefaultFolder);
    EXPECT_EQ(Narrow(DefaultFolder), TempPath());
    EXPECT_EQ(DefaultFolder[wcslen(DefaultFolder) - 1], L'\\');
}

TEST_F(ReadSettingsBlockTest, FolderThatMerelyContainsTheTokenIsLiteral)
{
    for (const std::string folder : {"><\\sub", "C:\\><", "x><", "><x", ">< ", " ><", "<>", ">"}) {
        SCOPED_TRACE("folder \"" + folder + "\"");
        ResetSettings();
        Read(Stub() + Block(0x03, "", folder) + ArchiveStart);
        EXPECT_TRUE(HasDefaultFolder);
        EXPECT_EQ(Narrow(DefaultFolder), folder);
    }
}

TEST_F(ReadSettingsBlockTest, TokenOutsideTheFolderFieldIsText)
{
    Read(Stub() + Block(0x03, "><", "", "><") + ArchiveStart);
    EXPECT_EQ(Narrow(TitleText), std::string("><"));
    EXPECT_EQ(Narrow(RunCommand), std::string("><"));
    EXPECT_FALSE(HasDefaultFolder);
}

// The UTF-8 of each text's characters, as the system's ANSI code page reads
// its bytes.
std::string AsAnsi(const std::string& bytes)
{
    std::wstring units(bytes.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), (int)bytes.size(), &units[0], (int)units.size());
    units.resize(n > 0 ? n : 0);
    return Narrow(units);
}

// Flag bit 5: the three texts are UTF-8, each one unless it is not valid
// UTF-8, which is then read as without the bit, as ANSI bytes.
TEST_F(ReadSettingsBlockTest, TextsAreUtf8UnderFlagBitFive)
{
    const std::string mueller = "M\xC3\xBCller \xE2\x88\x91 \xE9\xAC\xBC \xF0\x9F\x98\x80";   // Müller ∑ 鬼 😀
    const std::string folder = "C:\\\xD0\x97\xD0\xB0\xD0\xB3\xD1\x80\xD1\x83\xD0\xB7\xD0\xBA\xD0\xB8";  // C:\Загрузки
    const std::string command = "><\xE8\xA8\xAD\xE5\xAE\x9A.exe|/q";
    const std::string latin = "caf\xE9";                   // no UTF-8
    const std::string overlong = "a\xC0\xAF" "b";              // UTF-8's forbidden form of "/"
    struct {
        uint8_t flags;
        std::string title, folder, command;
        std::string shownTitle, shownFolder, shownCommand;
    } cases[] = {
        {0x23, mueller, folder, command, mueller, folder, command},
        {0x03, mueller, folder, command, AsAnsi(mueller), AsAnsi(folder), AsAnsi(command)},
        {0x23, latin, folder, overlong, AsAnsi(latin), folder, AsAnsi(overlong)},
        {0x23, std::string(1, '\xE9') + std::string(84, 'x'), std::string(80, 'x'), mueller,
         AsAnsi(std::string(1, '\xE9')) + std::string(84, 'x'), std::string(80, 'x'), mueller},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("title " + c.title);
        ResetSettings();
        Read(Stub() + Block(c.flags, c.title, c.folder, c.command) + ArchiveStart);
        EXPECT_EQ(Narrow(TitleText), c.shownTitle);
        EXPECT_EQ(Narrow(DefaultFolder), c.shownFolder);
        EXPECT_EQ(Narrow(RunCommand), c.shownCommand);
        EXPECT_EQ(Current().overwriteMode, OverwriteConfirm);   // bit 5 changes no presentation
    }
    // 249 bytes of UTF-8 at most, which is at most 249 units.
    std::string title;
    for (int i = 0; i < 83; i++)
        title += "\xE9\xAC\xBC";
    ResetSettings();
    Read(Stub() + Block(0x23, title) + ArchiveStart);
    EXPECT_EQ(Narrow(TitleText), title);
    EXPECT_EQ(wcslen(TitleText), 83u);
}

// After a correct signature nothing is checked: bytes past the end of the
// file read as zero, so lengths become 0 and texts end where the file ends.
TEST_F(ReadSettingsBlockTest, BlockCutShortByTheEndOfTheFile)
{
    const std::string block = Block(0x1F, "Title", "><", "run.exe");
    struct Case {
        size_t kept;              // bytes of the block in the file
        Settings settings;
        const char* title;
        const char* folder;       // 0: not written; "temp": the temporary folder
        const char* command;
    };
    const Case cases[] = {
        {3, {0, 0, 0, 0, 0, 0, OverwriteConfirm}, "", 0, ""},   // flags read as 0
        {4, {0, 0, 0, 1, 1, 1, OverwriteConfirm}, "", 0, ""},
        {5, {1, 0, 0, 1, 1, 1, OverwriteConfirm}, "", 0, ""},
        {7, {1, 1, 1, 1, 1, 1, OverwriteConfirm}, "", "", ""},
        {10, {1, 1, 1, 1, 1, 1, OverwriteConfirm}, "Tit", "", ""},
        {13, {1, 1, 1, 1, 1, 1, OverwriteConfirm}, "Title", ">", ""},   // half a token is no token
        {17, {1, 1, 1, 1, 1, 1, OverwriteConfirm}, "Title", "temp", "run"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("block cut after " + std::to_string(c.kept) + " bytes");
        ResetSettings();
        Read(Stub() + block.substr(0, c.kept));
        EXPECT_EQ(ArchiveBase, 43264u);
        EXPECT_EQ(Current(), c.settings);
        EXPECT_EQ(Narrow(TitleText), std::string(c.title));
        if (c.folder && strcmp(c.folder, "temp") == 0)
            EXPECT_EQ(Narrow(DefaultFolder), TempPath());
        else if (c.folder)
            EXPECT_EQ(Narrow(DefaultFolder), std::string(c.folder));
        else
            EXPECT_TRUE(IsUntouched(DefaultFolder));
        EXPECT_EQ(Narrow(RunCommand), std::string(c.command));
        EXPECT_TRUE(IsUntouched(BrowseFolder));
    }
}

// Lengths that promise more than the file holds, with every buffer filled
// to its last byte by the strings that do arrive.
TEST_F(ReadSettingsBlockTest, LongStringsCutShortStayWithinTheirBuffers)
{
    std::string block = std::string("MPU\x03\xFF\xFF\xFF", 7) + std::string(255, 'T') +
                        std::string(100, 'F');
    Read(Stub() + block);
    EXPECT_EQ(Narrow(TitleText), std::string(255, 'T'));
    EXPECT_EQ(Narrow(DefaultFolder), std::string(100, 'F'));
    EXPECT_EQ(Narrow(RunCommand), std::string(""));
    EXPECT_TRUE(IsUntouched(BrowseFolder));
}

}  // namespace
