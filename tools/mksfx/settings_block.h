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
    bool flagsAsGiven = false;      // --flags: the byte and the texts' bytes as they are
    std::string title, folder, run;
};

// The block's 256 bytes. Texts beyond ASCII must be UTF-8 and set flag bit
// 5, unless the flags are taken as given. Throws Failure when the texts do
// not fit or are not UTF-8.
std::string EncodeSettings(const Settings& settings);

// Reads the bytes that follow the extractor; present is false when they do
// not begin with "MPU". Bytes missing at the end of the file read as zero,
// as the extractor reads them.
Settings DecodeSettings(const std::string& bytes);

// What the flags byte makes the extractor do, in words.
std::string DescribeFlags(int flags);

// How the extractor reads one of the texts: "ascii"; "utf8" under flag
// bit 5 when the text is valid UTF-8; else "ansi bytes", in the ANSI code
// page of the Windows it runs on.
const char* TextReading(const std::string& text, int flags);

}  // namespace sfx

#endif
