// The settings block behind the executable.
#ifndef SFX_SETT_H
#define SFX_SETT_H

// Reads the optional 256-byte block at StubSize and sets ArchiveBase and the
// settings variables. A missing or damaged block is no failure: the
// defaults stay.
void ReadSettingsBlock();

#endif
