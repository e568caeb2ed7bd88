// Window helpers shared by every dialog.
#ifndef SFX_WIN_H
#define SFX_WIN_H

#include <windows.h>

// Centres a window on the primary screen (not the work area, not the owner).
void CenterWindow(HWND window);

#endif
