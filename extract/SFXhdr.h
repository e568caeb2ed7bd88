// Local header reader: the archive is walked through its local headers
// alone; the central directory is never read.
#ifndef SFX_HDR_H
#define SFX_HDR_H

#include <stdint.h>

#include "SFXname.h"

enum : uint32_t {
    LocalHeaderSize = 30,
    DataDescriptorSize = 16,
    DataDescriptorSignature = 0x08074B50,
    ZeroLocalSignature = 0x50000000,   // bytes 00 00 00 50, also taken as a header
};

enum : int32_t {
    EncryptionHeaderSize = 12,         // in front of an encrypted entry's data
};

// The compression methods that the program decodes.
enum : uint16_t {
    MethodStored = 0,
    MethodDeflated = 8,
};

// Reads the header at the current position (which SeekArchive has just set)
// into EntryHeader. True: EntryHeader and DataRemaining describe an entry
// and the file stands at its name. False: the walk is over. Data
// descriptors in front of the header are passed over.
bool ReadLocalHeader();

// Sets ExpectedSignature for a walk. The value is made at run time so that
// the executable never contains a local-header signature of its own, which
// would mislead tools that scan for the archive.
void PrepareExpectedSignature();

// Reads the entry's name after a header that starts at headerStart, with
// its extra field, and moves the file to the entry's data. The name is the
// text of the stored bytes before their first NUL; it is UTF-8 when flag
// bit 11 says so, or when the extra field holds a Unicode Path field that
// matches the stored bytes, whose UTF-8 name then replaces them. Then
// decoded (DecodeEntryName). A name of more than NameBytesMax bytes is cut,
// and TooLong says so: the cut name is not the entry's.
void ReadEntryName(int32_t headerStart, EntryName& name);

// Where the next header is expected: header start + 30 + name length +
// extra length + compressed size. False when that lies beyond what a
// signed 32-bit position reaches, which ends the walk.
bool NextHeaderPosition(int32_t headerStart, int32_t& next);

// The entry's data without its encryption header: what the decoder takes.
// Negative for compressed sizes from 2 GiB up.
int32_t EntryDataSize();

// Whether the header leaves the entry's data unknown: its sizes only in a
// data descriptor behind the data, as streaming writers leave them. Such
// an entry fails without touching its target. Reads at the entry's data
// (after the encryption header).
bool EntryLacksData();

#endif
