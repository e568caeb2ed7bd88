// Icon sources: pictures drawn as text, one character per pixel, turned
// into 16-colour .ico files (4 bits per pixel plus an AND transparency mask).
//
// A palette file maps each letter to one of the 16 standard Windows colours
// (or to "transparent"); a picture file holds comment lines starting with
// '#' and then one row of letters per pixel row, top row first.
#ifndef MKICONS_ICON_SOURCE_H
#define MKICONS_ICON_SOURCE_H

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace mkicons {

using Bytes = std::vector<uint8_t>;

struct SourceError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Palette index for each letter; Transparent marks see-through pixels.
constexpr int Transparent = -1;
using Palette = std::map<char, int>;

struct Picture {
    int size = 0;             // width and height in pixels: 16 or 32
    std::vector<int> pixels;  // size*size palette indices or Transparent, top row first
};

// The 16 colours in palette-index order, as 0xRRGGBB.
extern const uint32_t StandardColours[16];

// `name` only labels error messages.
Palette ParsePalette(const std::string& text, const std::string& name);
Picture ParsePicture(const std::string& text, const Palette& palette, const std::string& name);

// One .ico file holding the pictures in the given order.
Bytes BuildIco(const std::vector<Picture>& pictures);

// The icon files of the program and their sources, in resource order.
struct IconFile {
    std::string ico;
    std::vector<std::string> sources;
};
extern const std::vector<IconFile> ProgramIcons;
extern const char PaletteFileName[];

// Reads the palette and the sources of `icon` from `dir` and builds it.
Bytes BuildIconFromDir(const std::string& dir, const IconFile& icon);

std::string ReadWholeFile(const std::string& path);

}  // namespace mkicons

#endif
