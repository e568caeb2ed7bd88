// What a person sees of an extracting walk: the footer line naming the entry
// being written, and a dialog that answers other programs while one large
// entry is decoded.
//
// Setting and painting the footer for every entry of a walk over thousands
// of small files costs more than writing them, so its text is set at most
// every RefreshInterval and at the end; what the dialog shows at the end is
// what it would show had every step been painted.
#ifndef SFX_PROG_H
#define SFX_PROG_H

#include <windows.h>

#include "SFXpath.h"

enum : DWORD {
    RefreshInterval = 100,      // milliseconds
    PercentAfter = 1000,        // an entry that takes longer shows its share done
};

// At the start and the end of an extracting walk.
void BeginProgress(HWND dialog);
void EndProgress();

// The footer's text for the entry now being written ("Uncompressing " and
// its path); shown now or at the next refresh. Once the entry has taken a
// second, the refreshes add the share of its stated size written so far,
// " (37%)"; the line that the walk ends with has none.
void ShowProgress(const NameUnit* path);

// Between entries: takes at most one waiting message from the queue and
// dispatches it, so that the dialog's handlers run and a radio click takes
// effect for the next existing file; no more often than every
// RefreshInterval, since asking the queue costs as much as writing a small
// file.
void TakeQueuedMessage();

// Called by every read of the archive and every write of an entry (with
// the count written) during an extracting walk: at most every RefreshInterval, answers the messages
// that other programs send to the thread's windows and repaints, without
// taking input from the queue, so that no handler of the dialog runs inside
// an entry and no click is lost. So the dialog also answers while a walk
// goes through thousands of entries that write nothing (kept files).
void KeepResponsive(int32_t written = 0);

#endif
