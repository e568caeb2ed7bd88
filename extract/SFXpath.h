// Path texts and the file-system operations that extraction and the dialogs
// share. "\", "/" and ":" all count as separators when a path is split.
//
// Texts are NUL-terminated buffers of UTF-16 units, as the system's wide
// calls take them, so that a folder or a name in any script is used
// exactly; the splitting operations also take bytes (the packer and tests
// use them so). Every operation that writes a buffer is told its size in
// units and never writes past it.
#ifndef SFX_PATH_H
#define SFX_PATH_H

#include <stdint.h>

#ifdef _WIN32
typedef wchar_t NameUnit;      // UTF-16, as the system's wide calls take it
#else
typedef char16_t NameUnit;
#endif

enum : int32_t {
    // The longest path that the system's wide calls take, in units with the
    // terminator, "\\?\" included.
    PathTextSize = 32768,
    // From this length on, a path goes to the system as "\\?\" and its full
    // form: without it, folders end at 248 units (room is kept for an 8.3
    // name) and files at 260.
    LongPathFrom = 248,
    FileNamePartMax = 255,
};

// Units before the first NUL, as an unsigned 16-bit count.
template <typename Unit> uint16_t StrLength(const Unit* text);

// The text of exactly length bytes of buffer, cut before the first NUL.
// Cut further if text (textSize bytes) cannot hold it.
void StringFromBuffer(const char* buffer, uint16_t length, char* text, int32_t textSize);

// Copies / appends source into a buffer of size units. False, with the
// buffer unchanged, when the result would not fit.
template <typename Unit> bool CopyText(Unit* buffer, int32_t size, const Unit* source);
template <typename Unit> bool AppendText(Unit* buffer, int32_t size, const Unit* source);

// Whether two texts are the same, unit for unit.
template <typename Unit> bool SameText(const Unit* a, const Unit* b);

// The text at index n of a list of texts, each ended by a NUL, the list by
// an empty one (a list of names takes no table of pointers); the empty text
// after the last.
const char* NthText(const char* list, int32_t n);

// Appends a text of ASCII characters (the program's own fixed texts, kept
// as bytes) to a buffer of UTF-16 units; false, unchanged, when it does
// not fit.
bool AppendAscii(NameUnit* buffer, int32_t size, const char* ascii);

// The folder part of path: C:\a\b gives C:\a, C:\x gives C:\, C:\ stays,
// C:xy gives C:, a name without separator gives "". ParentLength counts
// its units in a path of length units.
template <typename Unit> void ParentPath(const Unit* path, Unit* parent, int32_t parentSize);
template <typename Unit> int32_t ParentLength(const Unit* path, int32_t length);

// The characters after the last separator, at most 255 of them.
template <typename Unit> void FileNamePart(const Unit* path, Unit* name, int32_t nameSize);

template <typename Unit> void SlashesToBackslashes(Unit* text);

// Whether a part of the path (between separators) ends in a dot or a blank,
// other than "." and "..": Windows drops those characters, so such a folder
// would be another one, or one that Explorer cannot open.
template <typename Unit> bool HasPartEndingInDotOrBlank(const Unit* path);

// Appends "\" unless the text already ends with one; false when the buffer
// has no room for it.
template <typename Unit> bool AddBackslash(Unit* text, int32_t size);
template <typename Unit> void RemoveBackslash(Unit* text);

#ifdef _WIN32
// The path as the system's calls take it, into system (PathTextSize
// units): as it is while shorter than from units (LongPathFrom); longer,
// in its full form behind "\\?\" ("\\?\UNC\" for \\server\share), which
// the system takes literally and at any length. False when that exceeds
// what the system takes. May be called with system == path.
bool SystemPath(const NameUnit* path, NameUnit* system, int32_t from = LongPathFrom);

// True when a file or folder of that name exists; with a trailing backslash,
// when the folder has an entry. Turns "/" into "\" in path itself.
bool PathExists(NameUnit* path);

// True when a file or folder of that name exists. Nothing in the name is
// taken as a wildcard. The path is as SystemPath gives it.
bool WidePathExists(const NameUnit* path);

// Creates the folder and every missing parent, top down. Reports nothing:
// callers test the folder afterwards.
void ForceFolders(const NameUnit* path);

// Sets the last-write time from a DOS time-and-date word (local time).
void SetFileTimeFromDos(void* file, uint32_t timeDate);
#endif

#endif
