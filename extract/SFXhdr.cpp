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

bool WalkEndedCleanly = false;

// The records' signatures are told apart by their upper half, behind the
// same "PK" as ExpectedSignature's, so that the executable holds none of
// them whole (see PrepareExpectedSignature).
bool IsClosingSignature(uint32_t signature)
{
    if ((signature & 0xFFFF) != (ExpectedSignature & 0xFFFF))
        return false;
    static const uint16_t kinds[] = {
        0x0201,     // central directory header
        0x0605,     // end of central directory
        0x0606,     // ZIP64 end of central directory
        0x0706,     // ZIP64 end of central directory locator
        0x0505,     // digital signature
        0x0806,     // archive extra data
    };
    for (uint16_t kind : kinds)
        if (signature >> 16 == kind)
            return true;
    return false;
}

bool ReadLocalHeader()
{
    // A run of data descriptors is passed over one after the other; each
    // step moves forward, so the loop ends at the end of the file.
    WalkEndedCleanly = false;
    for (;;) {
        EntryHeader.Signature = 0;   // a short read at the end must not pass
        int32_t delivered = ReadArchive(&EntryHeader, LocalHeaderSize);
        if (delivered >= 4 && IsClosingSignature(EntryHeader.Signature)) {
            WalkEndedCleanly = true;
            return false;
        }
        if (EntryHeader.Signature == ExpectedSignature || EntryHeader.Signature == ZeroLocalSignature) {
            EntryCompressedSize = EntryHeader.CompressedSize;
            EntryUncompressedSize = EntryHeader.UncompressedSize;
            EntryIsZip64 = 0;
            DataRemaining = (int64_t)EntryCompressedSize;
            return true;
        }
        DataRemaining = 0;
        if (EntryHeader.Signature != DataDescriptorSignature || LastSeekPosition < 0)
            return false;
        // The entry before it says how wide the descriptor's sizes are.
        SeekArchive(LastSeekPosition + (EntryIsZip64 ? Zip64DescriptorSize : DataDescriptorSize), ArchiveFromStart);
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

static uint64_t Little64(const uint8_t* p)
{
    uint64_t value = 0;
    for (int32_t i = 7; i >= 0; i--)
        value = value << 8 | p[i];
    return value;
}

void TakeZip64Sizes(const uint8_t* extra, int32_t length)
{
    int32_t at = 0, size;
    const uint8_t* field;
    if (!FindExtraField(extra, length, Zip64FieldId, at, field, size))
        return;
    EntryIsZip64 = 1;
    int32_t used = 0;
    if (EntryHeader.UncompressedSize == Zip64Marker && size - used >= 8) {
        EntryUncompressedSize = Little64(field + used);
        used += 8;
    }
    if (EntryHeader.CompressedSize == Zip64Marker && size - used >= 8)
        EntryCompressedSize = Little64(field + used);
    DataRemaining = (int64_t)EntryCompressedSize;
}

void ReadEntryName(int64_t headerStart, EntryName& name)
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

    // The extra field follows the name, and the data follow the extra
    // field. Reading each leaves the file at the next, and a seek is one
    // more call into the system for every entry; a name cut by its bound
    // is passed over, since the extra field may hold the entry's sizes.
    int64_t extraStart = headerStart + LocalHeaderSize + length;
    bool atData = delivered == length;
    int32_t extraLength = EntryHeader.ExtraLength;
    if (name.TooLong && delivered == NameBytesMax && extraLength > 0) {
        SeekArchive(extraStart, ArchiveFromStart);
        atData = true;
    }
    if (atData && extraLength > 0) {
        uint8_t extra[ExtraReadMax];
        int32_t kept = extraLength < ExtraReadMax ? extraLength : ExtraReadMax;
        int32_t read = ReadArchive(extra, kept);
        atData = read == extraLength;
        if (read > 0) {
            TakeZip64Sizes(extra, read);
            if (!name.TooLong)
                TakeUnicodePath(name, extra, read, bytes, length);
        }
    }
    if (!atData)
        SeekArchive(extraStart + extraLength, ArchiveFromStart);
    DecodeEntryName(name);
}

bool NextHeaderPosition(int64_t headerStart, int64_t& next)
{
    uint64_t fixed = (uint64_t)headerStart + LocalHeaderSize + EntryHeader.NameLength + EntryHeader.ExtraLength;
    if (EntryCompressedSize > (uint64_t)INT64_MAX - fixed)
        return false;
    next = (int64_t)(fixed + EntryCompressedSize);
    return true;
}

// Sizes from 2^63 up are negative here: beyond what the walk can reach,
// and no encryption header is taken off them, which would overflow.
int64_t EntryDataSize()
{
    int64_t size = (int64_t)EntryCompressedSize;
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
    int64_t size = EntryDataSize();
    if (size < 0 || (EntryHeader.Method == MethodDeflated && size == 0))
        return true;
    if (size > 0 || (EntryHeader.Flags & (FlagEncrypted | FlagDataDescriptor)) != FlagDataDescriptor)
        return false;
    uint32_t descriptor[DataDescriptorSize / 4] = {0};
    ReadArchive(descriptor, DataDescriptorSize);
    return descriptor[0] != DataDescriptorSignature || descriptor[1] != 0 || descriptor[2] != 0
        || descriptor[3] != 0;
}
