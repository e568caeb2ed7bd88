// The main dialog: destination folder, file list, overwrite policy, run
// check box; "&Unzip" starts the extraction.
#ifndef SFX_MDLG_H
#define SFX_MDLG_H

#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// A silent run (/S): the same dialog, never shown, whose Unzip is pressed
// at once; every message of the run goes to the log instead of a box.
void RunSilently();

#endif
