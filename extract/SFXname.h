// Entry names as the archive means them.
//
// A name is UTF-8 when its header says so (flag bit 11), or when Info-ZIP's
// Unicode Path extra field carries a UTF-8 form whose CRC-32 matches the
// header's name bytes. Otherwise it is bytes of the system's ANSI code
// page, as archives made for this program hold them. Files and folders are
// created through the system's wide-character calls, so every name lands
// exactly; a name that cannot be decoded is refused, never written under a
// substitute.
//
// The portable part (decoding, the extra field, the safety test) is shared
// with the packer and the host fuzzers.
#ifndef SFX_NAME_H
#define SFX_NAME_H

#include <stdint.h>

#include "SFXpath.h"

enum : int32_t {
    NameUnitsMax = 258,                // UTF-16 units of the longest name written
    NameBytesMax = 3 * NameUnitsMax,   // its UTF-8 form, at most
    UnicodePathFieldId = 0x7075,
};

// Decodes count bytes of UTF-8 into at most unitsSize - 1 UTF-16 units and
// a terminating 0. Returns the number of units; NameInvalid for anything but
// the shortest form of a scalar value (overlong forms, surrogates, values
// past U+10FFFF, stray or missing continuation bytes, a NUL), NameTooLong
// when the units do not fit.
enum : int32_t {
    NameInvalid = -1,
    NameTooLong = -2,
};
int32_t DecodeUtf8(const char* bytes, int32_t count, NameUnit* units, int32_t unitsSize);

// The next field of an extra field with this id, from offset at on: true,
// with its data and their size, and at moved past it; false when there is
// none, or when the fields run past the extra field's length.
bool FindExtraField(const uint8_t* extra, int32_t length, uint32_t id, int32_t& at, const uint8_t*& data,
                    int32_t& size);

// Looks through an extra field for Info-ZIP's Unicode Path field (version 1)
// whose CRC-32 equals nameCrc, the CRC-32 of the header's name bytes. True,
// with its UTF-8 name, when one is there; the name points into extra.
bool FindUnicodePath(const uint8_t* extra, int32_t length, uint32_t nameCrc, const char*& utf8,
                     int32_t& utf8Length);

// Why a name must not be written below the destination folder: it leaves
// it (a leading separator, a ":" for a drive or stream, a component of dots
// and blanks other than "."), names a device (CON, NUL, COM1, ...), or holds
// a character that Windows does not allow in file names (< > " | ? * and
// control characters), which the system's calls would otherwise read as
// wildcards, or ends a component in a dot or a blank, which Windows would
// drop, or uses the extraction's own temporary folder's name as a part
// ("~SFXTMP" and "~SFXTMP." anything, in any case). "/" and "\" both
// separate components. Units are bytes of UTF-8
// or of an ANSI code page, or UTF-16 units.
enum NameFault : int32_t {
    NameFine = 0,
    NameLeavesFolder,           // outside the folder, or a device
    NameForbiddenCharacter,
    NameTrailingDotOrBlank,
    NameNotDecodable,           // not valid in its encoding (the extraction's verdict)
    NameReserved,               // a part is the extraction's temporary folder (SFXtemp.h)
};
#define TempFolderBase "~SFXTMP"    // then ".1" to ".99" when it is taken
template <typename Unit> NameFault EntryNameFault(const Unit* name);

// One entry's name in the forms the walk needs; the walk holds one per run.
struct EntryName {
    // The name's bytes up to the first NUL: the header's, or the UTF-8 of
    // its Unicode Path field.
    char Stored[NameBytesMax + 1];
    int32_t StoredLength;
    bool IsUtf8;
    bool TooLong;               // more than NameBytesMax bytes or NameUnitsMax units
    // Units hold the name. Without it, they hold an approximation to show
    // in the file list (its bytes in the ANSI code page, cut), and nothing
    // is written under it.
    bool Decoded;
    NameUnit Units[NameUnitsMax + 1];
};

// Fills Units from Stored and IsUtf8 (and TooLong when the units do not
// fit). Bytes that are not UTF-8 are read in the system's ANSI code page;
// on other systems, for tests, as Latin-1.
void DecodeEntryName(EntryName& name);

#endif
