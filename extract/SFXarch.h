// Access to the archive through the one read-only handle on the program's
// own file, and the Windows side of the decoders' input and output.
#ifndef SFX_ARCH_H
#define SFX_ARCH_H

#include <stdint.h>

enum : uint32_t { ArchiveFromStart = 0 };   // FILE_BEGIN: every seek counts from the start

// Moves the file position of ArchiveHandle (origin is always
// ArchiveFromStart) and records the position reached, or -1, in
// LastSeekPosition; positions are 64-bit, so archives of any size are
// reached. Host tests and fuzzers supply their own over memory.
void SeekArchive(int64_t distance, uint32_t origin);

#endif
