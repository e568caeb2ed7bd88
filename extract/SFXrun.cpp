// The walk over the archive's local entries.
#include <windows.h>

#include "SFXrun.h"
#include "SFXarch.h"
#include "SFXentry.h"
#include "SFXhdr.h"
#include "SFXlist.h"
#include "SFXpath.h"
#include "SFXprog.h"
#include "SFXprof.h"
#include "../decode/SFXio.h"
#include "../startup/SFXcmd.h"
#include "../startup/SFXlog.h"
#include "../startup/SFXstate.h"
#include "../startup/SFXtext.h"
#include "../ui/SFXres.h"
#include "../ui/SFXwin.h"

static const char ExtractedText[] = "All Files Have Been Extracted Successfully.";
static const char NotExtractedText[] = "The selected file(s) couldn't be extracted.";
static const char CorruptedText[] =
    "There was an error reading the Archive.\r\n\r\n"
    "Probably the Archive was corrupted. If you downloaded this file from the Web, "
    "please try download it again.";

bool IsEntrySelected(HWND list, const EntryName& name)
{
    ListSearchIndex = FindEntryItem(list, name.Units, name.Decoded);
    return SendMessageW(list, LB_GETSEL, (WPARAM)ListSearchIndex, 0) > 0;
}

static void ReportListing(HWND list)
{
    if (SendMessageW(list, LB_GETCOUNT, 0, 0) == 0) {
        ExitCode = ExitArchiveUnreadable;
        ShowNotice(CorruptedText, TEXT_WARNING_CAPTION, MB_ICONHAND);
    }
}

// Entries that the extracting walk took up and did not deal with.
static int32_t WalkFailures = 0;

// Success only when the walk failed no entry and left no item selected: the
// user may deselect a failed entry's item meanwhile, which must not hide
// its failure, and an item left selected is an entry never written.
static void ReportExtraction(HWND dialog, HWND list)
{
    // A silent run's log ends with the same sentence; an automatic run
    // closes at once after a success.
    if (WalkFailures == 0 && SendMessageW(list, LB_GETSELCOUNT, 0, 0) == 0) {
        if (!AutomaticRun && !SilentRun)
            ShowNotice(ExtractedText, "Extraction Completed", MB_ICONASTERISK);
        ExtractionSucceeded = 1;
    } else {
        if (!SilentRun)
            ShowNotice(NotExtractedText, TEXT_WARNING_CAPTION, MB_ICONEXCLAMATION);
        NameUnit footer[sizeof NotExtractedText] = {0};
        AppendAscii(footer, sizeof NotExtractedText, NotExtractedText);
        SetItemText(dialog, IDC_FOOTER, footer);
    }
}

// The log's line for an entry that the walk took up: extracted, kept, or
// failed with what its box said (or would have said: a run shows one box
// for all refused names), else why.
static void LogEntry(const EntryName& name)
{
    const NameUnit* reason = LastMessage();
    if (EntryDone) {
        LogLine(EntryKept ? "kept" : "extracted", name.Units);
        return;
    }
    NameUnit why[64] = {0};
    if (reason[0] == 0) {
        AppendAscii(why, 64, !EntryAccepted ? "no password was accepted"
                           : name.TooLong   ? "the name is longer than Windows takes"
                                            : "the data are damaged or incomplete");
        reason = why;
    }
    LogLine("failed", name.Units, reason);
}

// Walks the entries; false when the run must return without a report.
static bool Walk(HWND list, bool listing, EntryName& name)
{
    while (ReadLocalHeader()) {
        int64_t headerStart = LastSeekPosition;
        ReadEntryName(headerStart, name);
        ProfileMark(ProfileWalk);
        if (name.Stored[0] == 0) {
            ShowNotice("Invalid filename.", TEXT_WARNING_CAPTION, MB_ICONHAND);
            return false;
        }
        if (listing) {
            AddEntryItem(list, name.Units);
        } else if (WalkStopRequested) {
            return false;                // the user closed the dialog
        } else if (IsEntrySelected(list, name)) {
            ProfileMark(ProfileLookup);
            EntryOutcome outcome;
            ForgetMessage();
            NotingEntry = 1;
            if (name.TooLong) {
                // Cut, the name is not the entry's; it fails and stays selected.
                EntryAccepted = true;
                EntryDone = false;
                outcome = Next;
            } else {
                outcome = ExtractEntry(list, name);
            }
            NotingEntry = 0;
            if (!EntryDone)
                WalkFailures++;
            LogEntry(name);
            if (outcome == Abort)
                return false;
            if (outcome == EndWalk) {
                WalkEndedCleanly = true;     // ended by its entry, which reported
                return true;
            }
        }
        int64_t next;
        if (!NextHeaderPosition(headerStart, next)) {
            WalkEndedCleanly = false;
            break;
        }
        SeekArchive(next, ArchiveFromStart);
    }
    return true;
}

// An extracting walk that ended at damage may have missed any number of
// entries: it says so with the text for a corrupted archive, and the run
// cannot succeed.
static void ReportDamage()
{
    WalkFailures++;
    ShowNotice(CorruptedText, TEXT_WARNING_CAPTION, MB_ICONHAND);
}

void ProcessArchive(HWND dialog, int listId, bool listing)
{
    ExtractionSucceeded = 0;
    PrepareExpectedSignature();
    EntryAccepted = false;
    SeekArchive((int32_t)ArchiveBase, ArchiveFromStart);
    if (LastSeekPosition == -1) {
        ExitCode = ExitArchiveUnreadable;
        ShowNotice(TEXT_ERROR_READING, TEXT_WARNING_CAPTION, MB_ICONEXCLAMATION);
        return;
    }

    HWND list = GetDlgItem(dialog, listId);
    EntryName* name = (EntryName*)AllocateBlock(sizeof(EntryName));   // one per run
    if (name == 0)
        return;
    ListSearchIndex = -1;
    WalkFailures = 0;
    BeginEntryWalk();
    if (listing) {
        BeginListing(list);
    } else {
        BeginItemLookup(list);
        BeginProgress(dialog);
    }

    bool finished = Walk(list, listing, *name);
    if (!listing) {
        EndEntryWalk();
        EndProgress();
    }
    ProfileReport();
    if (finished) {
        if (listing) {
            ReportListing(list);
        } else if (!WalkEndedCleanly) {
            ReportDamage();
            ReportExtraction(dialog, list);
        } else if (EntryAccepted) {
            ReportExtraction(dialog, list);
        }
    }
    if (!listing)
        EndItemLookup();
    ReleaseBlock(name);
}
