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
    Refresh();
    Footer = 0;
}

void ShowProgress(const NameUnit* path)
{
    FooterText[0] = 0;
    AppendAscii(FooterText, PathTextSize + 16, "Uncompressing ");
    AppendText(FooterText, PathTextSize + 16, path);
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

void KeepResponsive()
{
    if (!WalkInProgress || !RefreshDue())
        return;
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
