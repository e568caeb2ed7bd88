// The /LOG file; see SFXlog.h.
#include <windows.h>

#include "SFXlog.h"
#include "SFXstate.h"

void OpenLog(const NameUnit* path)
{
    static NameUnit system[PathTextSize];
    if (!SystemPath(path, system))
        return;
    // Appending leaves whatever earlier runs wrote; others may read it meanwhile.
    LogHandle = CreateFileW(system, FILE_APPEND_DATA, FILE_SHARE_READ, 0, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
}

// Units as UTF-8, line breaks as blanks, at out; returns the bytes written.
static int32_t Utf8Of(const NameUnit* text, char* out, int32_t size)
{
    int32_t n = WideCharToMultiByte(CP_UTF8, 0, text, StrLength(text), out, size, 0, 0);
    for (int32_t i = 0; i < n; i++)
        if (out[i] == '\r' || out[i] == '\n')
            out[i] = ' ';
    return n > 0 ? n : 0;
}

void LogLine(const char* lead, const NameUnit* text, const NameUnit* reason)
{
    if (LogHandle == INVALID_HANDLE_VALUE)
        return;
    // A path and a box's text of a path, each three bytes a unit at most.
    enum : int32_t { Size = 6 * PathTextSize + 64 };
    static char line[Size];
    int32_t n = 0;
    while (*lead != 0)
        line[n++] = *lead++;
    line[n++] = ' ';
    n += Utf8Of(text, line + n, Size - n - 4);
    if (reason != 0) {
        line[n++] = ':';
        line[n++] = ' ';
        n += Utf8Of(reason, line + n, Size - n - 2);
    }
    line[n++] = '\r';
    line[n++] = '\n';
    DWORD written;
    WriteFile(LogHandle, line, (DWORD)n, &written, 0);
}
