// Path texts and the file-system operations that extraction and the dialogs
// share. "\", "/" and ":" all count as separators when a path is split.
//
// Texts are NUL-terminated single-byte (ANSI) buffers. Every operation that
// writes a buffer is told its size and never writes past it.
#ifndef SFX_PATH_H
#define SFX_PATH_H

#include <stdint.h>

enum : int32_t {
    PathTextSize = 520,       // a 255-character folder, "\" and a 257-byte name
    FileNamePartMax = 255,
};

// Bytes before the first NUL, as an unsigned 16-bit count.
uint16_t StrLength(const char* text);

// The text of exactly length bytes of buffer, cut before the first NUL.
// Cut further if text (textSize bytes) cannot hold it.
void StringFromBuffer(const char* buffer, uint16_t length, char* text, int32_t textSize);

// Copies / appends source into a buffer of size bytes. False, with the
// buffer unchanged, when the result would not fit.
bool CopyText(char* buffer, int32_t size, const char* source);
bool AppendText(char* buffer, int32_t size, const char* source);

// The folder part of path: C:\a\b gives C:\a, C:\x gives C:\, C:\ stays,
// C:xy gives C:, a name without separator gives "".
void ParentPath(const char* path, char* parent, int32_t parentSize);

// The characters after the last separator, at most 255 of them.
void FileNamePart(const char* path, char* name, int32_t nameSize);

void SlashesToBackslashes(char* text);

// Appends "\" unless the text already ends with one; false when the buffer
// has no room for it.
bool AddBackslash(char* text, int32_t size);
void RemoveBackslash(char* text);

#ifdef _WIN32
// True when a file or folder of that name exists; with a trailing backslash,
// when the folder has an entry. Turns "/" into "\" in path itself.
bool PathExists(char* path);

// Creates the folder and every missing parent, top down. Reports nothing:
// callers test the folder afterwards.
void ForceFolders(const char* path);

// Sets the last-write time from a DOS time-and-date word (local time).
void SetFileTimeFromDos(void* file, uint32_t timeDate);
#endif

#endif
