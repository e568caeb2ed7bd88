// The 256-byte settings block between the extractor and the archive, laid
// out as startup/SFXblock.h says.
#ifndef MKSFX_SETTINGS_BLOCK_H
#define MKSFX_SETTINGS_BLOCK_H

#include <string>

#include "startup/SFXblock.h"

namespace sfx {

// The folder text that stands for the system's temporary folder.
extern const char TemporaryFolderToken[];

struct Settings {
    bool present = false;
    int flags = FlagShowRunCheckBox | FlagUserSelectsFiles;
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
