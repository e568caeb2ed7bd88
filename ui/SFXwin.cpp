// CenterWindow, which every dialog calls while it initialises, and the
// message boxes that name a path.
#include <stdint.h>

#include "SFXwin.h"
#include "../startup/SFXlog.h"
#include "../startup/SFXstate.h"
#include "../startup/SFXtext.h"

static NameUnit Noted[PathTextSize + 320];

void CenterWindow(HWND window)
{
    RECT bounds;
    GetWindowRect(window, &bounds);
    int32_t width = bounds.right - bounds.left;
    int32_t height = bounds.bottom - bounds.top;
    // Signed, truncated toward zero: a window wider than the screen gets a
    // negative position.
    int32_t x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int32_t y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    SetWindowPos(window, 0, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void NoteMessage(const NameUnit* text, const char* caption)
{
    Noted[0] = 0;
    if (!SameText(caption, TEXT_WARNING_CAPTION)) {
        AppendAscii(Noted, PathTextSize + 320, caption);
        AppendAscii(Noted, PathTextSize + 320, ": ");
    }
    if (!AppendText(Noted, PathTextSize + 320, text))
        Noted[0] = 0;
}

const NameUnit* LastMessage()
{
    return Noted;
}

void ForgetMessage()
{
    Noted[0] = 0;
}

void ShowMessage(const NameUnit* text, const char* caption, UINT flags, HWND owner)
{
    NoteMessage(text, caption);
    if (SilentRun) {
        if (!NotingEntry)
            LogLine("message", Noted);
        return;
    }
    NameUnit wide[64] = {0};
    AppendAscii(wide, 64, caption);
    MessageBoxW(owner, text, wide, MB_OK | flags);
}

void ShowNotice(const char* text, const char* caption, UINT flags, HWND owner)
{
    NameUnit wide[1024] = {0};              // the list of switches is the longest
    AppendAscii(wide, 1024, text);
    ShowMessage(wide, caption, flags, owner);
}

UINT GetItemText(HWND dialog, int id, NameUnit* text, int32_t size)
{
    return (UINT)SendDlgItemMessageW(dialog, id, WM_GETTEXT, (WPARAM)size, (LPARAM)text);
}

void SetItemText(HWND dialog, int id, const NameUnit* text)
{
    SendDlgItemMessageW(dialog, id, WM_SETTEXT, 0, (LPARAM)text);
}
