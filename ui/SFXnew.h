// The new folder dialog: "Create New Folder".
#ifndef SFX_NEW_H
#define SFX_NEW_H

#include <windows.h>

INT_PTR CALLBACK NewFolderProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Creates base + name with every missing folder (name may hold
// backslashes) and enters it. True when it exists and is current.
bool CreateNewFolder(const char* base, const char* name);

#endif
