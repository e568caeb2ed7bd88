// The settings block behind the executable.
#ifndef SFX_SETT_H
#define SFX_SETT_H

#include <stdint.h>

// The stub's length in its own file: the end of the furthest section's
// data, as the section table of the image at `module` (the loaded image's
// headers, or a file's first bytes) says, and at least StubSizeMin. A
// signature appended behind the archive is no section and moves nothing.
uint32_t StubSizeOf(const void* module);

// Reads the optional 256-byte block at StubSize and sets ArchiveBase and the
// settings variables. A missing or damaged block is no failure: the
// defaults stay.
void ReadSettingsBlock();

#endif
