// Access to the archive through the one read-only handle on the program's
// own file, and the Windows side of the decoders' input and output.
#ifndef SFX_ARCH_H
#define SFX_ARCH_H

#include <stdint.h>

// Moves the file position of ArchiveHandle to an absolute offset (origin is
// always FILE_BEGIN) and records the result, or -1, in LastSeekPosition.
void SeekArchive(int32_t distance, uint32_t origin);

#endif
