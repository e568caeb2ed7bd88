// Progress of an extracting walk; see SFXprog.h.
#include <windows.h>

#include "SFXprog.h"
#include "SFXpath.h"
#include "../startup/SFXstate.h"
#include "../ui/SFXres.h"

static HWND Footer = 0;
static DWORD LastRefresh = 0;
static DWORD LastTaken = 0;
static bool FooterStale = false;
static NameUnit FooterText[PathTextSize + 16];
// The entry being written: where its line ends without the share done,
// when it began, and how much of it has been written.
static int32_t FooterLength = 0;
static DWORD EntryBegan = 0;
static uint64_t EntryWritten = 0;

static void Refresh()
{
    if (FooterStale)
        SendMessageW(Footer, WM_SETTEXT, 0, (LPARAM)FooterText);
    FooterStale = false;
    LastRefresh = GetTickCount();
}

static bool RefreshDue()
{
    return GetTickCount() - LastRefresh >= RefreshInterval;
}

void BeginProgress(HWND dialog)
{
    Footer = GetDlgItem(dialog, IDC_FOOTER);
    FooterStale = false;
    LastRefresh = GetTickCount() - RefreshInterval;    // the first entry shows at once
    LastTaken = LastRefresh;
}

void EndProgress()
{
    FooterStale = FooterStale || FooterText[FooterLength] != 0;
    FooterText[FooterLength] = 0;            // the last line as it began
    Refresh();
    Footer = 0;
}

void ShowProgress(const NameUnit* path)
{
    FooterText[0] = 0;
    AppendAscii(FooterText, PathTextSize + 16, "Uncompressing ");
    AppendText(FooterText, PathTextSize + 16, path);
    FooterLength = StrLength(FooterText);
    EntryBegan = GetTickCount();
    EntryWritten = 0;
    FooterStale = true;
    if (RefreshDue())
        Refresh();
}

void TakeQueuedMessage()
{
    DWORD now = GetTickCount();
    if (now - LastTaken < RefreshInterval)
        return;
    LastTaken = now;
    MSG message;
    if (PeekMessageW(&message, 0, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// " (37%)" behind the line of an entry that has taken a second so far and
// states its size.
static void ShowShareDone()
{
    uint64_t stated = EntryUncompressedSize, written = EntryWritten;
    if (!DecodingEntry || stated == 0 || GetTickCount() - EntryBegan < PercentAfter)
        return;
    // In 32 bits, where the i686 build divides without a helper: both
    // scaled down alike, which a share in hundredths does not notice.
    while (stated > 0xFFFFFFFF) {
        stated >>= 8;
        written >>= 8;
    }
    if (written > stated)
        written = stated;              // an entry that outgrows its stated size
    uint32_t hundredth = (uint32_t)stated / 100;
    uint32_t percent = hundredth != 0 ? (uint32_t)written / hundredth : (written >= stated ? 100 : 0);
    if (percent > 100)
        percent = 100;
    char share[8] = " (";
    char* digit = share + 2;
    if (percent >= 100)
        *digit++ = '1';
    if (percent >= 10)
        *digit++ = (char)('0' + percent / 10 % 10);
    *digit++ = (char)('0' + percent % 10);
    *digit++ = '%';
    *digit = ')';
    FooterText[FooterLength] = 0;
    AppendAscii(FooterText, PathTextSize + 16, share);
    FooterStale = true;
}

void KeepResponsive(int32_t written)
{
    EntryWritten += (uint32_t)written;
    if (!WalkInProgress || !RefreshDue())
        return;
    ShowShareDone();
    Refresh();
    MSG message;
    // Messages sent from other threads and programs are answered inside
    // PeekMessage; nothing posted is taken.
    PeekMessageW(&message, 0, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    // Paint requests are not input: the footer's new text, and windows
    // uncovered meanwhile, are drawn.
    for (int32_t n = 0; n < 64 && PeekMessageW(&message, 0, WM_PAINT, WM_PAINT, PM_REMOVE | PM_QS_PAINT); n++)
        DispatchMessageW(&message);
}
