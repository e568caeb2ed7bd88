// The 256-byte settings block between the extractor and the archive:
// "MPU", a flags byte, the lengths of title, folder and command, then the
// three texts without terminators.
#ifndef MKSFX_SETTINGS_BLOCK_H
#define MKSFX_SETTINGS_BLOCK_H

#include <string>

namespace sfx {

enum : int {
    ShowRunCheckBox = 0x01,
    UserSelectsFiles = 0x02,
    HideOverwriteOptions = 0x04,
    OverwriteMask = 0x18,
    OverwriteAlways = 0x08,
    OverwriteNever = 0x10,
};

// The folder text that stands for the system's temporary folder.
extern const char TemporaryFolderToken[];

struct Settings {
    bool present = false;
    int flags = ShowRunCheckBox | UserSelectsFiles;
    std::string title, folder, run;
};

// The block's 256 bytes. Throws Failure when the texts do not fit.
std::string EncodeSettings(const Settings& settings);

// Reads the bytes that follow the extractor; present is false when they do
// not begin with "MPU". Bytes missing at the end of the file read as zero,
// as the extractor reads them.
Settings DecodeSettings(const std::string& bytes);

// What the flags byte makes the extractor do, in words.
std::string DescribeFlags(int flags);

}  // namespace sfx

#endif
