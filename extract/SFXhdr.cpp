// Local header reader. Portable: it reads through ReadArchive and
// SeekArchive only, so host fuzzers can walk archives in memory.
#include "SFXhdr.h"
#include "SFXarch.h"
#include "SFXpath.h"
#include "../decode/SFXcrc.h"
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

// A Unicode Path field beyond this much extra field is not looked for; the
// fields of common writers come to a few dozen bytes.
enum : int32_t {
    ExtraReadMax = 1024,
};

// Replaces the stored bytes with the UTF-8 name of a matching Unicode Path
// field in extra.
static void TakeUnicodePath(EntryName& name, const uint8_t* extra, int32_t extraLength,
                            const char* bytes, int32_t length)
{
    uint32_t crc = 0xFFFFFFFF;
    CrcUpdateBuffer((const uint8_t*)bytes, length, crc);
    const char* utf8;
    int32_t utf8Length;
    if (!FindUnicodePath(extra, extraLength, crc ^ 0xFFFFFFFF, utf8, utf8Length))
        return;
    name.IsUtf8 = true;
    name.TooLong = utf8Length > NameBytesMax;
    StringFromBuffer(utf8, (uint16_t)(name.TooLong ? NameBytesMax : utf8Length), name.Stored,
                     NameBytesMax + 1);
    name.StoredLength = StrLength(name.Stored);
}

void ReadEntryName(int32_t headerStart, EntryName& name)
{
    uint16_t length = EntryHeader.NameLength;
    name.TooLong = length > NameBytesMax;
    name.IsUtf8 = (EntryHeader.Flags & FlagUtf8Name) != 0;
    char bytes[NameBytesMax];
    int32_t delivered = ReadArchive(bytes, name.TooLong ? (int32_t)NameBytesMax : length);
    // A name cut short by the end of the file ends where the file ended.
    if (delivered < 0)
        delivered = 0;
    StringFromBuffer(bytes, (uint16_t)delivered, name.Stored, NameBytesMax + 1);
    name.StoredLength = StrLength(name.Stored);

    // The data follow the name and the extra field. Reading the extra field
    // leaves the file there as well; so does a whole name without one, and
    // a seek is one more call into the system for every entry.
    bool atData = !name.TooLong && delivered == length;
    int32_t extraLength = EntryHeader.ExtraLength;
    if (atData && extraLength > 0) {
        uint8_t extra[ExtraReadMax];
        int32_t kept = extraLength < ExtraReadMax ? extraLength : ExtraReadMax;
        int32_t read = ReadArchive(extra, kept);
        atData = read == extraLength;
        TakeUnicodePath(name, extra, read > 0 ? read : 0, bytes, length);
    }
    if (!atData) {
        uint32_t data = (uint32_t)headerStart + LocalHeaderSize + length + extraLength;
        SeekArchive((int32_t)data, ArchiveFromStart);
    }
    DecodeEntryName(name);
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

// Sizes from 2 GiB up are negative here: beyond what the walk can reach,
// and no encryption header is taken off them, which would overflow.
int32_t EntryDataSize()
{
    int32_t size = (int32_t)EntryHeader.CompressedSize;
    return (EntryHeader.Flags & FlagEncrypted) && size >= 0 ? size - EncryptionHeaderSize : size;
}

// A writer that streams its output leaves an entry's CRC and sizes 0 in the
// local header (flag bit 3) and puts them into a data descriptor behind the
// data, which a walk over local headers cannot use: decoding nothing would
// match that zero CRC and report an empty file as extracted. A deflate
// stream is never empty, and an encrypted entry holds at least its 12-byte
// header; a stored entry that claims no data is truly empty only when its
// own descriptor, all zero, follows at once. Reads at the entry's data.
bool EntryLacksData()
{
    int32_t size = EntryDataSize();
    if (size < 0 || (EntryHeader.Method == MethodDeflated && size == 0))
        return true;
    if (size > 0 || (EntryHeader.Flags & (FlagEncrypted | FlagDataDescriptor)) != FlagDataDescriptor)
        return false;
    uint32_t descriptor[DataDescriptorSize / 4] = {0};
    ReadArchive(descriptor, DataDescriptorSize);
    return descriptor[0] != DataDescriptorSignature || descriptor[1] != 0 || descriptor[2] != 0
        || descriptor[3] != 0;
}
