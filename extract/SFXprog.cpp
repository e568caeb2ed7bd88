// Progress of an extracting walk; see SFXprog.h.
#include <windows.h>

#include "SFXprog.h"
#include "SFXpath.h"
#include "../startup/SFXstate.h"
#include "../ui/SFXres.h"

static const char Lead[] = "Uncompressing ";

static HWND ProgressList = 0;
static HWND Footer = 0;
static DWORD LastRefresh = 0;
static bool FooterStale = false;
static char FooterText[sizeof Lead + 2 * PathTextSize];

// The list's selections change with every entry; while its redraw is held,
// they change without a paint. The footer is held by setting its text only
// here.
static void HoldListRedraw(bool hold)
{
    SendMessageA(ProgressList, WM_SETREDRAW, hold ? FALSE : TRUE, 0);
}

// Brings the footer's text up to date and repaints it and the list now.
static void Refresh()
{
    if (FooterStale)
        SendMessageA(Footer, WM_SETTEXT, 0, (LPARAM)FooterText);
    FooterStale = false;
    HoldListRedraw(false);
    RedrawWindow(ProgressList, 0, 0, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    RedrawWindow(Footer, 0, 0, RDW_UPDATENOW);
    HoldListRedraw(true);
    LastRefresh = GetTickCount();
}

static bool RefreshDue()
{
    return GetTickCount() - LastRefresh >= RefreshInterval;
}

void BeginProgress(HWND dialog, HWND list)
{
    ProgressList = list;
    Footer = GetDlgItem(dialog, IDC_FOOTER);
    FooterStale = false;
    LastRefresh = GetTickCount();
    HoldListRedraw(true);
}

void EndProgress()
{
    Refresh();
    HoldListRedraw(false);
    ProgressList = Footer = 0;
}

void ShowProgress(const char* path)
{
    CopyText(FooterText, (int32_t)sizeof FooterText, Lead);
    AppendText(FooterText, (int32_t)sizeof FooterText, path);
    FooterStale = true;
    if (RefreshDue())
        Refresh();
}

void KeepResponsive()
{
    if (!DecodingEntry || !RefreshDue())
        return;
    MSG message;
    // Messages sent from other threads and programs are answered inside
    // PeekMessage; nothing posted is taken.
    PeekMessageA(&message, 0, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    // Paint requests are not input: windows uncovered meanwhile are drawn.
    for (int32_t n = 0; n < 64 && PeekMessageA(&message, 0, WM_PAINT, WM_PAINT, PM_REMOVE | PM_QS_PAINT); n++)
        DispatchMessageA(&message);
    Refresh();
}
