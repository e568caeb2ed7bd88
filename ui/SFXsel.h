// The folder selection dialog: "Select Destination Folder".
#ifndef SFX_SEL_H
#define SFX_SEL_H

#include <windows.h>

// Walks the file system by really entering folders; on OK, BrowseFolder
// holds the folder shown, with a trailing backslash.
INT_PTR CALLBACK SelectFolderProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Rewrites BrowseFolder (C:\PROGRA~1\app) with the names the file system
// stores (C:\Program Files\app\), component by component.
void ResolveLongPath();

#endif
