// The icon builder: the committed .ico files must be exactly what the text
// pictures make, and the encoding must be the one Windows reads.
#include <gtest/gtest.h>

#include <string>

#include "icon_source.h"

namespace {

using mkicons::Bytes;

unsigned Word(const Bytes& b, size_t at) { return b.at(at) | b.at(at + 1) << 8; }
unsigned Dword(const Bytes& b, size_t at) { return Word(b, at) | Word(b, at + 2) << 16; }

const char* const TestPalette =
    "# test palette\n"
    ".  transparent\n"
    "K  000000\n"
    "R  FF0000\n"
    "W  FFFFFF\n";

std::string Rows(int size, char fill)
{
    std::string text;
    for (int y = 0; y < size; ++y)
        text += std::string(size, fill) + "\n";
    return text;
}

TEST(CommittedIcons, AreWhatTheTextPicturesMake)
{
    for (const mkicons::IconFile& icon : mkicons::ProgramIcons) {
        const Bytes built = mkicons::BuildIconFromDir(SFX_ICON_DIR, icon);
        const std::string committed = mkicons::ReadWholeFile(std::string(SFX_ICON_DIR) + "/" + icon.ico);
        EXPECT_TRUE(Bytes(committed.begin(), committed.end()) == built)
            << icon.ico << " differs from its pictures; rebuild it with: build/host/tools/mkicons ui/icons";
    }
}

TEST(IcoEncoding, BottomUpRowsPaletteAndMask)
{
    const mkicons::Palette palette = mkicons::ParsePalette(TestPalette, "test");
    // Red in the top left corner, see-through in the bottom right one.
    std::string text = Rows(16, 'K');
    text[0] = 'R';
    text[15 * 17 + 15] = '.';
    const mkicons::Picture picture = mkicons::ParsePicture(text, palette, "test");
    const Bytes ico = mkicons::BuildIco({picture});

    const size_t image = 6 + 16;
    ASSERT_EQ(ico.size(), image + 40 + 64 + 16 * 8 + 16 * 4);
    EXPECT_EQ(Word(ico, 2), 1u);       // an icon
    EXPECT_EQ(Word(ico, 4), 1u);       // one image
    EXPECT_EQ(ico[6], 16);             // width
    EXPECT_EQ(ico[8], 16);             // colours
    EXPECT_EQ(Word(ico, 12), 4u);      // bits per pixel
    EXPECT_EQ(Dword(ico, 14), 296u);   // image bytes
    EXPECT_EQ(Dword(ico, 18), image);  // image offset

    EXPECT_EQ(Dword(ico, image + 8), 32u);  // colour image and mask
    EXPECT_EQ(Word(ico, image + 14), 4u);
    // Palette as blue, green, red, 0; red is index 9, white 15.
    EXPECT_EQ(Dword(ico, image + 40 + 4 * 9), 0x00FF0000u);
    EXPECT_EQ(Dword(ico, image + 40 + 4 * 15), 0x00FFFFFFu);

    const size_t colours = image + 40 + 64;
    const size_t mask = colours + 16 * 8;
    // The top row comes last; its first pixel is the high nibble.
    EXPECT_EQ(ico[colours + 15 * 8], 0x90);
    EXPECT_EQ(ico[colours], 0x00);
    // The bottom row comes first; its last pixel is the mask's lowest bit of
    // the second byte, and the row is padded to four bytes.
    EXPECT_EQ(ico[mask + 0], 0x00);
    EXPECT_EQ(ico[mask + 1], 0x01);
    EXPECT_EQ(ico[mask + 2], 0x00);
    for (size_t i = mask + 4; i < ico.size(); ++i)
        EXPECT_EQ(ico[i], 0) << "mask byte " << i - mask;
}

TEST(IcoEncoding, ImagesFollowEachOtherInTheGivenOrder)
{
    const mkicons::Palette palette = mkicons::ParsePalette(TestPalette, "test");
    const Bytes ico = mkicons::BuildIco(
        {mkicons::ParsePicture(Rows(32, 'W'), palette, "a"), mkicons::ParsePicture(Rows(16, 'R'), palette, "b")});
    ASSERT_EQ(Word(ico, 4), 2u);
    EXPECT_EQ(ico[6], 32);
    EXPECT_EQ(ico[6 + 16], 16);
    EXPECT_EQ(Dword(ico, 6 + 8), 744u);
    EXPECT_EQ(Dword(ico, 6 + 12), 38u);
    EXPECT_EQ(Dword(ico, 6 + 16 + 12), 38u + 744u);
    EXPECT_EQ(ico.size(), 38u + 744u + 296u);
}

TEST(PictureSource, RejectsMistakesNamingTheLine)
{
    const mkicons::Palette palette = mkicons::ParsePalette(TestPalette, "test");
    auto error = [&](const std::string& text) {
        try {
            mkicons::ParsePicture(text, palette, "pic.txt");
        } catch (const mkicons::SourceError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    std::string unknown = "# comment\n" + Rows(16, 'K');
    unknown[10 + 17 + 4] = 'G';
    EXPECT_EQ(error(unknown), "pic.txt:3: column 5: letter 'G' is not in the palette");

    std::string shortRow = Rows(16, 'K');
    shortRow.erase(17 * 5, 1);
    EXPECT_EQ(error(shortRow), "pic.txt:6: row has 15 pixels, expected 16");

    EXPECT_EQ(error(Rows(32, 'K').substr(33)), "pic.txt:31: picture has 31 rows, expected 32");
    EXPECT_EQ(error(Rows(24, 'K')), "pic.txt:1: a picture is 16 or 32 pixels wide, this row has 24");
    EXPECT_EQ(error("# nothing\n"), "pic.txt:1: no picture rows");
    // Windows line ends are fine.
    std::string crlf;
    for (int y = 0; y < 16; ++y)
        crlf += std::string(16, 'W') + "\r\n";
    EXPECT_EQ(error(crlf), "accepted");
}

TEST(PaletteSource, OnlyTheStandardColoursEachOnce)
{
    auto error = [](const std::string& text) {
        try {
            mkicons::ParsePalette(text, "palette.txt");
        } catch (const mkicons::SourceError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(error("K 000000\nk 123456\n"), "palette.txt:2: 123456 is not one of the 16 standard colours");
    EXPECT_EQ(error("K 000000\nK FFFFFF\n"), "palette.txt:2: letter 'K' defined twice");
    EXPECT_EQ(error("K 000000\nk 000000\n"), "palette.txt:2: 000000 has a letter already");
    EXPECT_EQ(error("K 00000G\n"), "palette.txt:1: colour must be RRGGBB in hex or \"transparent\"");
    EXPECT_EQ(error("KK 000000\n"), "palette.txt:1: expected one letter, then a colour");

    const mkicons::Palette palette = mkicons::ParsePalette("D 808080\nL C0C0C0\n. transparent\n", "p");
    EXPECT_EQ(palette.at('D'), 7);
    EXPECT_EQ(palette.at('L'), 8);
    EXPECT_EQ(palette.at('.'), mkicons::Transparent);
}

}  // namespace
