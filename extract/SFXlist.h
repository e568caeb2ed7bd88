// The file list as the walk uses it: one item per entry, found again by
// name when the entry comes up for extraction.
#ifndef SFX_LIST_H
#define SFX_LIST_H

#include <windows.h>

#include <stdint.h>

#include "SFXpath.h"

// Listing: empties the list and restarts the count of entries.
void BeginListing(HWND list);

// Listing: adds the next entry's item. The item remembers the entry's place
// in the walk, which the extraction uses as a hint.
void AddEntryItem(HWND list, const NameUnit* name);

// Extraction: prepares the hints for a walk over the same entries as the
// listing (they are the same bytes); EndItemLookup releases them.
void BeginItemLookup(HWND list);
void EndItemLookup();

// Extraction: the item that LB_FINDSTRINGEXACT finds for the next entry's
// name (as the list shows it) when it searches on after ListSearchIndex, as
// the list box itself would find it, but without going through the list
// item by item. A name that is only shown approximately (it cannot be
// decoded) finds the item that the listing made for its entry.
int32_t FindEntryItem(HWND list, const NameUnit* name, bool nameShownExactly);

#endif
