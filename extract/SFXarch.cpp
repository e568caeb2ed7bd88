// Archive access: one handle, one file position, and the last seek.
#include <windows.h>

#include "SFXarch.h"
#include "SFXprog.h"
#include "../decode/SFXio.h"
#include "../startup/SFXstate.h"

void SeekArchive(int64_t distance, uint32_t origin)
{
    LARGE_INTEGER to, reached;
    to.QuadPart = distance;
    LastSeekPosition = SetFilePointerEx(ArchiveHandle, to, &reached, origin) ? reached.QuadPart : -1;
}

int32_t ReadArchive(void* buffer, int32_t count)
{
    KeepResponsive();
    // Only the count matters: a failed read delivers what it delivered.
    DWORD delivered = 0;
    if (count > 0)
        ReadFile(ArchiveHandle, buffer, (DWORD)count, &delivered, 0);
    return (int32_t)delivered;
}

int32_t WriteOutput(const void* buffer, int32_t count)
{
    // A full disk may take part of a chunk; the count says how much.
    DWORD written = 0;
    if (count > 0)
        WriteFile(OutputHandle, buffer, (DWORD)count, &written, 0);
    KeepResponsive((int32_t)written);
    return (int32_t)written;
}

void* AllocateBlock(uint32_t size)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

void ReleaseBlock(void* block)
{
    if (block != 0)
        HeapFree(GetProcessHeap(), 0, block);
}
