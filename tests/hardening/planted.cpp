// sfx-planted.dll: what someone might leave in a downloads folder under the
// name of a system DLL. Copied there under each name the test plants; when a
// process loads it, it leaves NAME.loaded beside itself (NAME being the file
// name it was loaded under), holding the path of the program that loaded it.
// It needs nothing but kernel32, so loading it cannot fail for want of
// another DLL.
#include <windows.h>

static void Append(char* text, DWORD size, const char* more)
{
    DWORD n = lstrlenA(text);
    while (*more != 0 && n + 1 < size)
        text[n++] = *more++;
    text[n] = 0;
}

extern "C" BOOL WINAPI PlantedEntry(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char marker[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(self, marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    // NAME.dll becomes NAME.dll.loaded, so every name leaves its own marker.
    Append(marker, sizeof marker, ".loaded");
    // Windows passes a non-null reserved pointer for the imports resolved
    // at process start.
    char line[MAX_PATH + 16];
    line[0] = 0;
    Append(line, sizeof line, reserved != 0 ? "start\t" : "later\t");
    DWORD used = lstrlenA(line);
    DWORD loaderLength = GetModuleFileNameA(0, line + used, MAX_PATH);
    line[used + (loaderLength < MAX_PATH ? loaderLength : 0)] = 0;
    Append(line, sizeof line, "\n");
    HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, 0);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(file, line, lstrlenA(line), &written, 0);
        CloseHandle(file);
    }
    return TRUE;
}
