// Local header reader: the archive is walked through its local headers
// alone; the central directory is never read.
#ifndef SFX_HDR_H
#define SFX_HDR_H

#include <stdint.h>

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

// Reads the entry's name (the text before its first NUL) after a header
// that starts at headerStart, and moves the file to the entry's data. name
// holds NameBufferSize + 1 bytes. A name longer than NameBufferSize is cut,
// and tooLong says so: the cut name is not the entry's.
void ReadEntryName(int32_t headerStart, char* name, bool& tooLong);

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
