// Window helpers shared by every dialog.
#ifndef SFX_WIN_H
#define SFX_WIN_H

#include <windows.h>

#include "../extract/SFXpath.h"

// Centres a window on the primary screen (not the work area, not the owner).
void CenterWindow(HWND window);

// A message box with MB_OK and the icon in flags, no owner unless one is
// given, whose text names a path or a name in any script; the caption is
// one of the program's own texts (ASCII). ShowNotice shows one of those
// texts. Every box goes through the one wide call. A silent run shows
// none: its text goes to the log, with the entry's line when it belongs to
// one (NotingEntry, SFXstate.h), else on a line of its own.
void ShowMessage(const NameUnit* text, const char* caption, UINT flags, HWND owner = 0);
void ShowNotice(const char* text, const char* caption, UINT flags, HWND owner = 0);

// The last box's text since ForgetMessage, with its caption in front when
// that is not the usual warning caption; empty when there was none.
// NoteMessage takes a text as a box would, and shows nothing: the reason
// of an entry that fails without its own box.
void NoteMessage(const NameUnit* text, const char* caption);
const NameUnit* LastMessage();
void ForgetMessage();

// A control's text, through the messages that the system's text calls send
// (so that no further call is imported). GetItemText returns the count.
UINT GetItemText(HWND dialog, int id, NameUnit* text, int32_t size);
void SetItemText(HWND dialog, int id, const NameUnit* text);

#endif
