// The password prompt: "Encryption Encountered". It cannot be cancelled.
#ifndef SFX_PWD_H
#define SFX_PWD_H

#include <windows.h>

INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the prompt; afterwards PasswordText and PasswordLength hold what
// was typed (at most 79 characters).
void AskForPassword();

#endif
