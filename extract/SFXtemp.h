// The temporary folder in which an extracting walk writes its entries
// before they take their names.
//
// Its name is TempFolderBase, or TempFolderBase, "." and a number when a
// folder of that name is there already: a plain 8.3 name in capitals, which
// Explorer opens and deletes, and which gets no generated short name of its
// own. Entry names may not use it as a part (EntryNameFault refuses
// TempFolderBase and TempFolderBase "." anything, in any case), so no entry
// can reach the folder or collide with it.
//
// A folder is used only when this run created it, and never when it is a
// reparse point. It holds TempMarkName, a short text that says what the
// folder is, and at most one file, TempFileName. A run that finds a folder
// of such a name holding nothing else, that mark included, removes it: a
// killed run's leftover. Anything else is left alone and another number
// taken.
#ifndef SFX_TEMP_H
#define SFX_TEMP_H

#include <windows.h>

#include "SFXname.h"
#include "SFXpath.h"

extern const char TempFileName[];
extern const char TempMarkName[];

enum : int32_t {
    TempFolderTries = 100,          // TempFolderBase, then ".1" to ".99"
};

// Makes a temporary folder in parent (a path as SystemPath gives it, with
// its trailing backslash) and writes its mark; folder (PathTextSize units)
// receives its path. Returns the folder's handle, which keeps others from
// deleting or renaming it, or INVALID_HANDLE_VALUE (GetLastError says
// ERROR_PATH_NOT_FOUND when parent is missing).
HANDLE MakeTempFolder(const NameUnit* parent, NameUnit* folder);

// Removes the mark and the folder that MakeTempFolder made, through its
// handle, and closes the handle. A folder that still holds a file stays.
void RemoveTempFolder(const NameUnit* folder, HANDLE handle);

// Opens a folder for as long as it is used, without following a reparse
// point: INVALID_HANDLE_VALUE when path is no folder or is a reparse point.
HANDLE OpenPlainFolder(const NameUnit* path);

#endif
