// The new folder dialog: "Create New Folder".
#ifndef SFX_NEW_H
#define SFX_NEW_H

#include <windows.h>

#include "../extract/SFXpath.h"

INT_PTR CALLBACK NewFolderProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Creates base + name with every missing folder (name may hold
// backslashes) and enters it. True when it exists (it is then current,
// unless it is deeper than the system's current folder may be).
bool CreateNewFolder(const NameUnit* base, const NameUnit* name);

#endif
