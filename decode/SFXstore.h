// Copy of an entry stored without compression (method 0).
#ifndef SFX_STORE_H
#define SFX_STORE_H

#include <stdint.h>

// Large pieces: each read and write is a call into the system, whose cost
// rivals copying the bytes when the pieces are small.
enum : int32_t { StoredChunkSize = 256 * 1024 };

// Reads DataRemaining bytes of the archive in chunks of up to
// StoredChunkSize, decrypts them when the entry is encrypted, writes them
// and runs RunningCrc over what the output accepted. The caller has
// prepared DataRemaining, RunningCrc, the archive position and, if needed,
// the keys.
void CopyStoredEntry();

#endif
