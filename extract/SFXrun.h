// The walk over the archive's local entries: listing or extraction.
#ifndef SFX_RUN_H
#define SFX_RUN_H

#include <windows.h>

#include "SFXname.h"

// Listing: fills list listId with every entry name. Extraction: extracts
// every entry whose name is selected in that list, deselecting each one
// dealt with, and reports success or failure; ExtractionSucceeded tells the
// main dialog whether every selected file was dealt with.
void ProcessArchive(HWND dialog, int listId, bool listing);

// Finds the name's item in the list, searching on after the previous match,
// and tells whether it is selected. Sets ListSearchIndex.
bool IsEntrySelected(HWND list, const EntryName& name);

#endif
