// Window helpers shared by every dialog.
#ifndef SFX_WIN_H
#define SFX_WIN_H

#include <windows.h>

#include "../extract/SFXpath.h"

// Centres a window on the primary screen (not the work area, not the owner).
void CenterWindow(HWND window);

// A message box with no owner, MB_OK and the icon in flags, whose text
// names a path or a name in any script; the caption is one of the
// program's own texts (ASCII).
void ShowMessage(const NameUnit* text, const char* caption, UINT flags);

#endif
