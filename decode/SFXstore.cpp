// Copy of a stored entry, chunk by chunk.
#include "SFXstore.h"
#include "SFXattr.h"
#include "SFXcrc.h"
#include "SFXcrypt.h"
#include "SFXio.h"
#include "../startup/SFXstate.h"

SFX_SMALL void CopyStoredEntry()
{
    EntryDataComplete = 1;
    if (DataRemaining <= 0)
        return;
    int32_t bufferSize = DataRemaining < StoredChunkSize ? (int32_t)DataRemaining : StoredChunkSize;
    uint8_t* chunk = (uint8_t*)AllocateBlock((uint32_t)bufferSize + 2);
    if (chunk == 0) {
        EntryDataComplete = 0;      // nothing written
        return;
    }
    bool encrypted = (EntryHeader.Flags & FlagEncrypted) != 0;
    while (DataRemaining > 0) {
        int32_t wanted = DataRemaining < bufferSize ? (int32_t)DataRemaining : bufferSize;
        int32_t delivered = ReadArchive(chunk, wanted);
        if (delivered <= 0) {
            // The archive ends before the entry does: give up on the rest.
            DataRemaining = 0;
            EntryDataComplete = 0;
            break;
        }
        if (delivered > wanted)
            delivered = wanted;
        DataRemaining -= delivered;
        if (encrypted)
            DecryptBuffer(chunk, delivered);
        int32_t written = WriteOutput(chunk, delivered);
        if (written > delivered)
            written = delivered;
        if (written < delivered)
            EntryDataComplete = 0;  // a full disk
        CrcUpdateBuffer(chunk, written, RunningCrc);
    }
    ReleaseBlock(chunk);
}
