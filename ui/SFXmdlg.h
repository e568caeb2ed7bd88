// The main dialog: destination folder, file list, overwrite policy, run
// check box; "&Unzip" starts the extraction.
#ifndef SFX_MDLG_H
#define SFX_MDLG_H

#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
