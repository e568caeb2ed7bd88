#include "icon_source.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace mkicons {

// Index order as in the 16-colour icons and bitmaps that Windows itself
// writes: the eight dark colours with dark grey, then light grey and the
// eight bright ones.
const uint32_t StandardColours[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0x808080,
    0xC0C0C0, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

const char PaletteFileName[] = "palette.txt";

// The first group's images get the resource ids 1 and 2, the others 3, 4, 5.
const std::vector<IconFile> ProgramIcons = {
    {"mnicon.ico", {"mnicon32.txt", "mnicon16.txt"}},
    {"ovr.ico", {"ovr32.txt"}},
    {"zflr.ico", {"zflr32.txt"}},
    {"zlock.ico", {"zlock32.txt"}},
};

namespace {

[[noreturn]] void Fail(const std::string& name, int line, const std::string& what)
{
    throw SourceError(name + ":" + std::to_string(line) + ": " + what);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool Skipped(const std::string& line)
{
    return line.empty() || line[0] == '#';
}

void Put16(Bytes& out, unsigned v)
{
    out.push_back(v & 0xFF);
    out.push_back((v >> 8) & 0xFF);
}

void Put32(Bytes& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// Rows of a DIB are padded to whole 32-bit words.
int ColourRowBytes(int size) { return (size * 4 + 31) / 32 * 4; }
int MaskRowBytes(int size) { return (size + 31) / 32 * 4; }

Bytes ImageBytes(const Picture& picture)
{
    const int n = picture.size;
    Bytes out;
    // BITMAPINFOHEADER; the height covers the colour image and the mask.
    Put32(out, 40);
    Put32(out, n);
    Put32(out, 2 * n);
    Put16(out, 1);
    Put16(out, 4);
    Put32(out, 0);
    Put32(out, (ColourRowBytes(n) + MaskRowBytes(n)) * n);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    for (uint32_t rgb : StandardColours) {
        out.push_back(rgb & 0xFF);
        out.push_back((rgb >> 8) & 0xFF);
        out.push_back((rgb >> 16) & 0xFF);
        out.push_back(0);
    }
    // Bottom row first in both the colour image and the mask. A transparent
    // pixel is black in the colour image and set in the mask.
    for (int y = n - 1; y >= 0; --y) {
        Bytes row(ColourRowBytes(n), 0);
        for (int x = 0; x < n; ++x) {
            int index = picture.pixels[y * n + x];
            if (index == Transparent)
                index = 0;
            row[x / 2] |= (x % 2 == 0) ? index << 4 : index;
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    for (int y = n - 1; y >= 0; --y) {
        Bytes row(MaskRowBytes(n), 0);
        for (int x = 0; x < n; ++x)
            if (picture.pixels[y * n + x] == Transparent)
                row[x / 8] |= 0x80 >> (x % 8);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

Palette ParsePalette(const std::string& text, const std::string& name)
{
    Palette palette;
    std::vector<bool> used(16, false);
    int lineNo = 0;
    for (const std::string& line : Lines(text)) {
        ++lineNo;
        if (Skipped(line))
            continue;
        std::istringstream fields(line);
        std::string letter, colour;
        fields >> letter >> colour;
        if (letter.size() != 1 || letter[0] == '#' || letter[0] <= ' ')
            Fail(name, lineNo, "expected one letter, then a colour");
        const char c = letter[0];
        if (palette.count(c))
            Fail(name, lineNo, std::string("letter '") + c + "' defined twice");
        if (colour == "transparent") {
            palette[c] = Transparent;
            continue;
        }
        unsigned long rgb = 0;
        size_t end = 0;
        try {
            rgb = std::stoul(colour, &end, 16);
        } catch (const std::exception&) {
            end = 0;
        }
        if (colour.size() != 6 || end != 6)
            Fail(name, lineNo, "colour must be RRGGBB in hex or \"transparent\"");
        int index = -1;
        for (int i = 0; i < 16; ++i)
            if (StandardColours[i] == rgb)
                index = i;
        if (index < 0)
            Fail(name, lineNo, colour + " is not one of the 16 standard colours");
        if (used[index])
            Fail(name, lineNo, colour + " has a letter already");
        used[index] = true;
        palette[c] = index;
    }
    return palette;
}

Picture ParsePicture(const std::string& text, const Palette& palette, const std::string& name)
{
    Picture picture;
    std::vector<int> lineOfRow;
    int lineNo = 0;
    for (const std::string& line : Lines(text)) {
        ++lineNo;
        if (Skipped(line))
            continue;
        if (picture.size == 0) {
            picture.size = static_cast<int>(line.size());
            if (picture.size != 16 && picture.size != 32)
                Fail(name, lineNo, "a picture is 16 or 32 pixels wide, this row has " +
                                       std::to_string(line.size()));
        }
        if (static_cast<int>(line.size()) != picture.size)
            Fail(name, lineNo, "row has " + std::to_string(line.size()) + " pixels, expected " +
                                   std::to_string(picture.size));
        for (size_t x = 0; x < line.size(); ++x) {
            auto it = palette.find(line[x]);
            if (it == palette.end())
                Fail(name, lineNo, std::string("column ") + std::to_string(x + 1) + ": letter '" +
                                       line[x] + "' is not in the palette");
            picture.pixels.push_back(it->second);
        }
        lineOfRow.push_back(lineNo);
    }
    const int rows = static_cast<int>(lineOfRow.size());
    if (rows == 0)
        Fail(name, lineNo, "no picture rows");
    if (rows != picture.size)
        Fail(name, lineNo, "picture has " + std::to_string(rows) + " rows, expected " +
                               std::to_string(picture.size));
    return picture;
}

Bytes BuildIco(const std::vector<Picture>& pictures)
{
    std::vector<Bytes> images;
    for (const Picture& p : pictures)
        images.push_back(ImageBytes(p));

    Bytes out;
    Put16(out, 0);  // reserved
    Put16(out, 1);  // icon, not cursor
    Put16(out, static_cast<unsigned>(images.size()));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        out.push_back(static_cast<uint8_t>(pictures[i].size));
        out.push_back(static_cast<uint8_t>(pictures[i].size));
        out.push_back(16);  // colours
        out.push_back(0);
        Put16(out, 1);  // planes
        Put16(out, 4);  // bits per pixel
        Put32(out, static_cast<uint32_t>(images[i].size()));
        Put32(out, offset);
        offset += static_cast<uint32_t>(images[i].size());
    }
    for (const Bytes& image : images)
        out.insert(out.end(), image.begin(), image.end());
    return out;
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw SourceError(path + ": cannot read");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes BuildIconFromDir(const std::string& dir, const IconFile& icon)
{
    const std::string palettePath = dir + "/" + PaletteFileName;
    const Palette palette = ParsePalette(ReadWholeFile(palettePath), palettePath);
    std::vector<Picture> pictures;
    for (const std::string& source : icon.sources) {
        const std::string path = dir + "/" + source;
        pictures.push_back(ParsePicture(ReadWholeFile(path), palette, path));
    }
    return BuildIco(pictures);
}

}  // namespace mkicons
