// Copy of an entry stored without compression (method 0).
#ifndef SFX_STORE_H
#define SFX_STORE_H

// Reads DataRemaining bytes of the archive in chunks of up to 32,768,
// decrypts them when the entry is encrypted, writes them and runs RunningCrc
// over what the output accepted. The caller has prepared DataRemaining,
// RunningCrc, the archive position and, if needed, the keys.
void CopyStoredEntry();

#endif
