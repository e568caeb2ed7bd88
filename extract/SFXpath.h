// Path texts and the file-system operations that extraction and the dialogs
// share. "\", "/" and ":" all count as separators when a path is split.
//
// Texts are NUL-terminated buffers of single bytes (ANSI, what the dialogs
// show) or of UTF-16 units (the paths that extraction creates, which hold
// any name exactly). Every operation that writes a buffer is told its size
// in units and never writes past it.
#ifndef SFX_PATH_H
#define SFX_PATH_H

#include <stdint.h>

#ifdef _WIN32
typedef wchar_t NameUnit;      // UTF-16, as the system's wide calls take it
#else
typedef char16_t NameUnit;
#endif

enum : int32_t {
    PathTextSize = 520,       // a 255-character folder, "\" and a 257-byte name
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

// The folder part of path: C:\a\b gives C:\a, C:\x gives C:\, C:\ stays,
// C:xy gives C:, a name without separator gives "". ParentLength counts
// its units in a path of length units.
void ParentPath(const char* path, char* parent, int32_t parentSize);
template <typename Unit> int32_t ParentLength(const Unit* path, int32_t length);

// The characters after the last separator, at most 255 of them.
void FileNamePart(const char* path, char* name, int32_t nameSize);

template <typename Unit> void SlashesToBackslashes(Unit* text);

// Appends "\" unless the text already ends with one; false when the buffer
// has no room for it.
bool AddBackslash(char* text, int32_t size);
void RemoveBackslash(char* text);

#ifdef _WIN32
// True when a file or folder of that name exists; with a trailing backslash,
// when the folder has an entry. Turns "/" into "\" in path itself.
bool PathExists(char* path);

// True when a file or folder of that name exists. Nothing in the name is
// taken as a wildcard.
bool WidePathExists(const NameUnit* path);

// Creates the folder and every missing parent, top down. Reports nothing:
// callers test the folder afterwards.
template <typename Unit> void ForceFolders(const Unit* path);

// Sets the last-write time from a DOS time-and-date word (local time).
void SetFileTimeFromDos(void* file, uint32_t timeDate);
#endif

#endif
