// The decoders' only contact with the outside world.
//
// The Windows program implements these with ReadFile on ArchiveHandle,
// WriteFile on OutputHandle and the process heap; host tests, fuzzers and
// benchmarks implement them over memory. Nothing in decode/ includes
// <windows.h>.
#ifndef SFX_IO_H
#define SFX_IO_H

#include <stdint.h>

// Reads up to count bytes of the archive at its current position into
// buffer; returns the number of bytes delivered (0 at the end or on failure).
int32_t ReadArchive(void* buffer, int32_t count);

// Writes count bytes to the output file; returns the number of bytes that
// the file system accepted.
int32_t WriteOutput(const void* buffer, int32_t count);

// A zero-filled block of size bytes, or 0 when memory is exhausted.
void* AllocateBlock(uint32_t size);
void ReleaseBlock(void* block);

#endif
