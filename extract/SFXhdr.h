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

// Reads the header at the current position (which SeekArchive has just set)
// into EntryHeader. True: EntryHeader and DataRemaining describe an entry
// and the file stands at its name. False: the walk is over. Data
// descriptors in front of the header are passed over.
bool ReadLocalHeader();

// Sets ExpectedSignature for a walk. The value is made at run time so that
// the executable never contains a local-header signature of its own, which
// would mislead tools that scan for the archive.
void PrepareExpectedSignature();

#endif
