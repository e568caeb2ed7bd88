// What the stub's resources must be: the five dialog templates control by
// control, and the four icon groups. Written out as tables so that they can
// be compared line by line with the design; the check reads the compiled
// PE file, never the resource script.
#ifndef SFX_TESTS_EXPECTED_RESOURCES_H
#define SFX_TESTS_EXPECTED_RESOURCES_H

#include <cstdint>
#include <vector>

namespace pe {

// The predefined window classes, by atom.
enum WindowClass : uint16_t { BUTTON = 0x0080, EDIT = 0x0081, STATIC = 0x0082, LISTBOX = 0x0083 };

// Marks the footer line, whose text is a one-line credit of our choosing.
constexpr const char* CreditLine = nullptr;

struct ControlRow {
    int number;  // position in the template, from 1
    uint16_t id;
    WindowClass windowClass;
    const char* text;
    int16_t x, y, cx, cy;
    uint32_t style;
};

struct DialogRow {
    const char* resource;
    const char* caption;
    int16_t x, y, cx, cy;
    uint32_t style;
    uint32_t exStyle;
    int controlCount;
    std::vector<ControlRow> controls;
};

// Every template: no menu, the default dialog class, 8 point "MS Sans Serif".
constexpr uint16_t DialogPointSize = 8;
constexpr const char* DialogTypeface = "MS Sans Serif";

// clang-format off
inline const std::vector<DialogRow> ExpectedDialogs = {
    {"MAINDIALOG", "neat-SFX Archive", 17, 29, 316, 186, 0x90CA08C4, 0, 17, {
        // #   Id     Class    Text                                   x    y    cx   cy  Style
        {  1,     1, BUTTON,  "&Unzip",                            256,  13,  53,  15, 0x50010001 },
        {  2,   101, EDIT,    "",                                   33,  39, 210,  12, 0x508100C0 },
        {  3,   775, BUTTON,  "&Browse...",                        256,  37,  53,  15, 0x50010000 },
        {  4,   301, LISTBOX, "",                                   33,  78, 207,  60, 0x50A100CB },
        {  5,   302, LISTBOX, "",                                   33,  78, 207,  65, 0x50A100C3 },
        {  6,   503, BUTTON,  "&Confirm overwrite",                 34, 153,  68,   9, 0x50030009 },
        {  7,   501, BUTTON,  "Always &Overwrite",                 180, 153,  64,   9, 0x50000009 },
        {  8,   502, BUTTON,  "&Never Overwrite",                  108, 153,  65,   9, 0x50000009 },
        {  9,  1007, BUTTON,  "&Execute...",                        33,  52, 209,  12, 0x50010003 },
        { 10,     2, BUTTON,  "C&lose",                            256,  60,  53,  15, 0x50010000 },
        { 11,   509, STATIC,  "Existing file(s) :",                 35, 142,  53,   8, 0x50030000 },
        { 12,   100, STATIC,  "Unzip To Folder:",                   33,  29,  69,   8, 0x50000000 },
        { 13,   601, STATIC,  CreditLine,                            4, 171, 308,  11, 0x50020000 },
        { 14, 65535, STATIC,  "Files :",                            33,  67,  22,   8, 0x50020000 },
        { 15,   102, STATIC,  "",                                   87, 145, 154,   3, 0x50820000 },
        { 16, 65535, STATIC,  "MNICON",                              4,   6,  18,  20, 0x50000003 },
        { 17, 65535, STATIC,  "Welcome to this Archive. Please choose a folder where you'd like you files "
                              "to be extracted, and press Unzip to Start extracting Files...",
                                                                    33,   6, 210,  21, 0x50020000 },
    }},
    {"DLGSEL", "Select Destination Folder", 18, 61, 273, 111, 0x90C808C4, 0, 8, {
        {  1,     1, BUTTON,  "OK",                                214,   8,  55,  15, 0x50010001 },
        {  2,     2, BUTTON,  "Cancel",                            214,  29,  55,  15, 0x50030000 },
        {  3,  2002, BUTTON,  "&Network...",                       213,  54,  55,  15, 0x50030000 },
        {  4,  2003, LISTBOX, "",                                    5,  48, 200,  62, 0x50A30053 },
        {  5,  2001, STATIC,  "",                                    5,  29, 150,  15, 0x5082008B },
        {  6,  2000, STATIC,  "Please choose a Folder where you want your Files extracted. "
                              "Press \"Create\" to create a new one.",
                                                                    33,   6, 170,  18, 0x50000000 },
        {  7,  2004, BUTTON,  "&Create...",                        157,  29,  49,  15, 0x50010000 },
        {  8, 65535, STATIC,  "ZFLR",                                6,   5,  21,  20, 0x50000003 },
    }},
    {"DLGNEW", "Create New Folder", 39, 69, 224, 68, 0x90C808C4, 0, 6, {
        {  1, 65535, STATIC,  "Current Folder",                      3,   6,  74,   9, 0x50020000 },
        {  2,  3001, STATIC,  "Text",                                3,  16, 156,  12, 0x50820000 },
        {  3, 65535, STATIC,  "Name of New Folder",                  3,  38, 114,   9, 0x50020000 },
        {  4,  3002, EDIT,    "",                                    3,  48, 156,  12, 0x508100C0 },
        {  5,     1, BUTTON,  "OK",                                168,  24,  50,  15, 0x50010001 },
        {  6,     2, BUTTON,  "Cancel",                            168,  47,  50,  15, 0x50010000 },
    }},
    {"FILEEXIST", "File Already Exists", 13, 19, 194, 55, 0x90C800C0, 0x00000001, 5, {
        {  1,     1, BUTTON,  "&Yes",                               82,  37,  50,  14, 0x50010001 },
        {  2,     2, BUTTON,  "&No",                               137,  37,  50,  14, 0x50010000 },
        {  3,   101, EDIT,    "",                                   27,   4, 160,  14, 0x50000805 },
        {  4,   401, BUTTON,  "Don't &Ask Me Again",                25,  21,  89,  12, 0x50010003 },
        {  5, 65535, STATIC,  "OVR",                                 4,   4,  18,  20, 0x50000003 },
    }},
    {"PASSWD", "Encryption Encountered", 6, 15, 186, 65, 0x90C008C4, 0, 4, {
        {  1,   101, EDIT,    "",                                   32,  31, 146,  12, 0x508100E0 },
        {  2,     1, BUTTON,  "OK",                                124,  47,  54,  15, 0x50010000 },
        {  3, 65535, STATIC,  "ZLOCK",                               6,   4,  21,  20, 0x50000003 },
        {  4, 65535, STATIC,  "One or more than one Files in this Archive are encrypted. "
                              "Please provide the Correct Password to extract these Files.",
                                                                    32,   4, 147,  24, 0x50020000 },
    }},
};

struct IconImageRow {
    uint16_t id;  // RT_ICON resource id
    int size;     // width and height in pixels
};

struct IconGroupRow {
    const char* resource;
    std::vector<IconImageRow> images;  // in group order
};

// Every image: 4 bits per pixel, 16 colours, with an AND mask. MNICON sorts
// first, which makes it the icon of the program file.
inline const std::vector<IconGroupRow> ExpectedIconGroups = {
    {"MNICON", {{1, 32}, {2, 16}}},
    {"OVR",    {{3, 32}}},
    {"ZFLR",   {{4, 32}}},
    {"ZLOCK",  {{5, 32}}},
};

// The standard 16-colour palette, 0xRRGGBB in index order.
inline const uint32_t StandardPalette[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0x808080,
    0xC0C0C0, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};
// clang-format on

}  // namespace pe

#endif
