// Layout of a self-extracting file: the stub, StubSize bytes, then
// optionally the settings block, then the archive. StubSize is where the
// stub's own image ends in the file (the furthest end of a section's data),
// but never less than StubSizeMin: a stub whose image ends sooner is padded
// with zeros to that length, and one that is longer is not padded at all. The block holds "MPU", a
// flags byte, the lengths of title, default folder and run command, then
// the three texts without terminators. The packer writes what the stub
// reads, so both take the layout from here.
#ifndef SFX_BLOCK_H
#define SFX_BLOCK_H

#include <stdint.h>

enum : uint32_t {
    StubSizeMin = 43008,           // the least length of the stub
    SettingsBlockSize = 256,       // optional block behind it, starting with "MPU"
    SettingsStringsMax = 249,      // T + F + C must stay within the block
};

// The flags byte.
enum : uint8_t {
    FlagShowRunCheckBox = 0x01,
    FlagUserSelectsFiles = 0x02,
    FlagHideOverwriteOptions = 0x04,
    FlagOverwriteMask = 0x18,
    FlagOverwriteAlways = 0x08,
    FlagOverwriteNever = 0x10,
    // Title, folder and command are UTF-8 (else bytes of the ANSI code
    // page). Extractors that know nothing of it ignore the bit.
    FlagUtf8Texts = 0x20,
    // A double-click runs as /A would: Unzip at once, no box after a
    // success (a file that only extracts to the temporary folder and
    // starts its setup program asks nobody anything).
    FlagAutomatic = 0x40,
};

#endif
