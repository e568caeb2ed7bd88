// Extraction of one local entry into one file below DestFolder.
#ifndef SFX_ENTRY_H
#define SFX_ENTRY_H

#include <windows.h>

#include "SFXname.h"

enum EntryOutcome {
    Next,       // go on with the next entry
    EndWalk,    // read no further entries; the run still reports
    Abort,      // leave the run at once, without a closing report
};

// The entry needed no password or had one accepted (the run reports only
// when the last entry it took up got this far).
extern bool EntryAccepted;

// The entry's item was deselected: the entry was written whole, or an
// existing file kept by the policy. The walk counts the others as failed,
// whatever the list's selection says afterwards.
extern bool EntryDone;
// ...and it was done by keeping an existing file.
extern bool EntryKept;

// Extracts the current entry (EntryHeader, the file positioned at its data
// or encryption header). Success shows in the file list: the entry's item,
// at ListSearchIndex, is deselected when the entry has been dealt with.
EntryOutcome ExtractEntry(HWND list, const EntryName& name);

// Forgets what the previous walk learnt: the warning given, the temporary
// folder made.
void BeginEntryWalk();

// Removes the walk's temporary folders (SFXtemp.h); one that still holds a
// file stays.
void EndEntryWalk();

#endif
