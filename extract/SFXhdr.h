// Local header reader: the archive is walked through its local headers
// alone; the central directory is never read.
#ifndef SFX_HDR_H
#define SFX_HDR_H

#include <stdint.h>

#include "SFXname.h"

enum : uint32_t {
    LocalHeaderSize = 30,
    DataDescriptorSize = 16,
    Zip64DescriptorSize = 24,          // behind an entry with a ZIP64 field: 8-byte sizes
    Zip64FieldId = 0x0001,             // the ZIP64 extended-information extra field
    Zip64Marker = 0xFFFFFFFF,          // a header size that the ZIP64 field holds
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
// into EntryHeader, and its sizes into EntryCompressedSize and
// EntryUncompressedSize. True: they and DataRemaining describe an entry and
// the file stands at its name. False: the walk is over. Data descriptors in
// front of the header are passed over (of 24 bytes behind an entry with a
// ZIP64 field, else 16).
bool ReadLocalHeader();

// Whether the walk that ReadLocalHeader ended stopped at a record that may
// follow the last entry: the central directory, an end record (ZIP64's
// too), a digital signature or archive extra data. Anything else there,
// the end of the file included, is damage (a cut download, bytes lost or
// added between entries), and entries beyond it were never seen.
extern bool WalkEndedCleanly;

// Whether a signature is one of those records.
bool IsClosingSignature(uint32_t signature);

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
// and TooLong says so: the cut name is not the entry's. A ZIP64 field in
// the extra field gives the entry's sizes (TakeZip64Sizes).
void ReadEntryName(int64_t headerStart, EntryName& name);

// Takes the sizes that the header marks with 0xFFFFFFFF from a ZIP64
// extended-information field in the extra field: the uncompressed size
// first, then the compressed one, each only when marked, 8 bytes each. A
// marked size that the field does not hold stays 0xFFFFFFFF.
void TakeZip64Sizes(const uint8_t* extra, int32_t length);

// Where the next header is expected: header start + 30 + name length +
// extra length + compressed size. False when that lies beyond what a
// signed 64-bit position reaches, which ends the walk at damage.
bool NextHeaderPosition(int64_t headerStart, int64_t& next);

// The entry's data without its encryption header: what the decoder takes.
// Negative for compressed sizes from 2^63 up.
int64_t EntryDataSize();

// Whether the header leaves the entry's data unknown: its sizes only in a
// data descriptor behind the data, as streaming writers leave them. Such
// an entry fails without touching its target. Reads at the entry's data
// (after the encryption header).
bool EntryLacksData();

#endif
