// Finding an entry's item in the sorted file list.
//
// The walk finds each entry's item by name, searching on after the previous
// match (LB_FINDSTRINGEXACT from ListSearchIndex), so that repeated names
// meet their items in turn. The list box searches item by item, and the
// list is sorted while archives seldom are: for an archive in another order
// every search goes through half the list, and 20,000 entries cost some
// 200 million comparisons. So every item carries its entry's place in the
// walk, and the extraction asks the list only about that item and its
// neighbours: items of equal names are neighbours in a sorted list, and the
// search from ListSearchIndex ends at the first of them, or at its own
// starting item when that is one of them. Every comparison is the list
// box's own; a hint that turns out wrong falls back to the full search.
#include <windows.h>

#include "SFXlist.h"
#include "SFXname.h"
#include "../decode/SFXio.h"
#include "../startup/SFXstate.h"

static int32_t ListedEntries = 0;      // items added by the listing
static int32_t WalkedEntries = 0;      // entries looked up by this extraction
static int32_t* ItemOfEntry = 0;       // entry's place in the walk -> item + 1; 0: none

static int32_t FindText(HWND list, int32_t after, const NameUnit* text)
{
    return (int32_t)SendMessageW(list, LB_FINDSTRINGEXACT, (WPARAM)after, (LPARAM)text);
}

// Whether item matches text. Quick only when item + 1 matches, where the
// search stops at the latest.
static bool ItemMatches(HWND list, int32_t item, const NameUnit* text)
{
    return FindText(list, item - 1, text) == item;
}

// Whether the item after item, which matches the name, matches it too:
// whether item matches the text of the item after it, which the search
// meets next if not.
static bool NextItemMatches(HWND list, int32_t item)
{
    NameUnit next[NameUnitsMax + 1];
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, (WPARAM)(item + 1), 0);
    if (length < 0 || length > NameUnitsMax)
        return false;
    if (SendMessageW(list, LB_GETTEXT, (WPARAM)(item + 1), (LPARAM)next) != length)
        return false;
    return FindText(list, item - 1, next) == item;
}

void BeginListing(HWND list)
{
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    ListedEntries = 0;
}

void AddEntryItem(HWND list, const NameUnit* name)
{
    LRESULT item = SendMessageW(list, LB_ADDSTRING, 0, (LPARAM)name);
    if (item >= 0)
        SendMessageW(list, LB_SETITEMDATA, (WPARAM)item, (LPARAM)ListedEntries);
    ListedEntries++;
}

void BeginItemLookup(HWND list)
{
    WalkedEntries = 0;
    ItemOfEntry = 0;
    int32_t items = (int32_t)SendMessageW(list, LB_GETCOUNT, 0, 0);
    // Any number of entries that memory holds; only the size of the block
    // must stay within 32 bits.
    if (ListedEntries <= 0 || ListedEntries > 0x3FFFFFFF || items <= 0)
        return;
    ItemOfEntry = (int32_t*)AllocateBlock((uint32_t)ListedEntries * sizeof(int32_t));
    if (ItemOfEntry == 0)
        return;                         // every entry is searched the slow way
    for (int32_t item = 0; item < items; item++) {
        LRESULT entry = SendMessageW(list, LB_GETITEMDATA, (WPARAM)item, 0);
        if (entry >= 0 && entry < ListedEntries)
            ItemOfEntry[entry] = item + 1;
    }
}

void EndItemLookup()
{
    if (ItemOfEntry != 0)
        ReleaseBlock(ItemOfEntry);
    ItemOfEntry = 0;
}

int32_t FindEntryItem(HWND list, const NameUnit* name, bool nameShownExactly)
{
    int32_t entry = WalkedEntries++;
    int32_t hint = ItemOfEntry != 0 && entry < ListedEntries ? ItemOfEntry[entry] - 1 : -1;
    if (hint < 0 || !ItemMatches(list, hint, name))
        return FindText(list, ListSearchIndex, name);
    // Names that cannot be written are shown approximately, and such names
    // can look alike without being alike: the entry's own item is the one.
    if (!nameShownExactly)
        return hint;

    // Where the list box's search starts: after the previous match, from
    // the top after the last item or after no match.
    int32_t items = (int32_t)SendMessageW(list, LB_GETCOUNT, 0, 0);
    int32_t start = ListSearchIndex + 1;
    if (start < 0 || start >= items)
        start = 0;

    // The items that match are one run around the hint.
    if (start <= hint) {
        // The search meets the run at its first item, or starts inside it.
        int32_t first = hint;
        while (first > start && ItemMatches(list, first - 1, name))
            first--;
        return first;
    }
    // Starting beyond the hint, the search starts inside the run if the run
    // reaches that far...
    int32_t last = hint;
    while (last < start && last + 1 < items && NextItemMatches(list, last))
        last++;
    if (last >= start)
        return start;
    // ...or else goes round through the top and meets the run's first item.
    int32_t first = hint;
    while (first > 0 && ItemMatches(list, first - 1, name))
        first--;
    return first;
}
