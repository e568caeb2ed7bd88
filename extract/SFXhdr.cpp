// Local header reader.
#include <windows.h>

#include "SFXhdr.h"
#include "SFXarch.h"
#include "../decode/SFXio.h"
#include "../startup/SFXstate.h"

void PrepareExpectedSignature()
{
    volatile uint32_t oneAbove = 0x04034B51;
    ExpectedSignature = oneAbove;
    ExpectedSignature--;
}

bool ReadLocalHeader()
{
    // A run of data descriptors is passed over one after the other; each
    // step moves forward, so the loop ends at the end of the file.
    for (;;) {
        EntryHeader.Signature = 0;   // a short read at the end must not pass
        ReadArchive(&EntryHeader, LocalHeaderSize);
        if (EntryHeader.Signature == ExpectedSignature || EntryHeader.Signature == ZeroLocalSignature) {
            DataRemaining = (int32_t)EntryHeader.CompressedSize;
            return true;
        }
        DataRemaining = 0;
        if (EntryHeader.Signature != DataDescriptorSignature || LastSeekPosition < 0)
            return false;
        uint32_t behind = (uint32_t)LastSeekPosition + DataDescriptorSize;
        if (behind > 0x7FFFFFFF)
            return false;
        SeekArchive((int32_t)behind, FILE_BEGIN);
        if (LastSeekPosition < 0)
            return false;
    }
}
