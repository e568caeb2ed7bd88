// The overwrite prompt: "File Already Exists".
#ifndef SFX_OVR_H
#define SFX_OVR_H

#include <windows.h>

INT_PTR CALLBACK FileExistProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Asks about OverwriteFileName; the answer lands in OverwriteAnswer (and,
// with "Don't Ask Me Again", in OverwriteChoice and the main dialog's radio
// buttons). No owner window, so the main dialog stays live.
void AskToOverwrite();

#endif
