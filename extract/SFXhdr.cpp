// Local header reader. Portable: it reads through ReadArchive and
// SeekArchive only, so host fuzzers can walk archives in memory.
#include "SFXhdr.h"
#include "SFXarch.h"
#include "SFXpath.h"
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
        SeekArchive((int32_t)behind, ArchiveFromStart);
        if (LastSeekPosition < 0)
            return false;
    }
}

void ReadEntryName(int32_t headerStart, char* name, bool& tooLong)
{
    uint16_t length = EntryHeader.NameLength;
    tooLong = length > NameBufferSize;
    uint16_t kept = tooLong ? (uint16_t)NameBufferSize : length;
    char buffer[NameBufferSize];
    int32_t delivered = ReadArchive(buffer, kept);
    // A name cut short by the end of the file ends where the file ended.
    StringFromBuffer(buffer, (uint16_t)(delivered > 0 ? delivered : 0), name, NameBufferSize + 1);
    // The data follow the name and the extra field. A whole name without
    // extra field has left the file there already, and a seek is one more
    // call into the system for every entry.
    if (tooLong || delivered != length || EntryHeader.ExtraLength != 0) {
        uint32_t data = (uint32_t)headerStart + LocalHeaderSize + length + EntryHeader.ExtraLength;
        SeekArchive((int32_t)data, ArchiveFromStart);
    }
}

bool NextHeaderPosition(int32_t headerStart, int32_t& next)
{
    uint64_t position = (uint64_t)(uint32_t)headerStart + LocalHeaderSize + EntryHeader.NameLength
                      + EntryHeader.ExtraLength + EntryHeader.CompressedSize;
    if (position > 0x7FFFFFFF)
        return false;
    next = (int32_t)position;
    return true;
}
