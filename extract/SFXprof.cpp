// Timing counters of a measuring build; see SFXprof.h.
#ifdef SFX_PROFILE
#include <windows.h>

#include "SFXprof.h"

static LARGE_INTEGER Last;
static LONGLONG Spent[ProfileSteps];
static LONG Marks[ProfileSteps];

void ProfileMark(ProfileStep step)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (Last.QuadPart != 0) {
        Spent[step] += now.QuadPart - Last.QuadPart;
        Marks[step]++;
    }
    Last = now;
}

void ProfileReport()
{
    static const char* const names[ProfileSteps] = {"walk", "lookup", "create",
                                                    "progress", "decode", "stamp", "commit", "close"};
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    HANDLE file = CreateFileA("sfx-profile.txt", GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    for (int step = 0; step < ProfileSteps; step++) {
        char line[96];
        DWORD written;
        int length = wsprintfA(line, "%s %lu ms %lu marks\r\n", names[step],
                               (unsigned long)(Spent[step] * 1000 / frequency.QuadPart), (unsigned long)Marks[step]);
        WriteFile(file, line, (DWORD)length, &written, 0);
        Spent[step] = 0;
        Marks[step] = 0;
    }
    CloseHandle(file);
    Last.QuadPart = 0;
}
#endif
