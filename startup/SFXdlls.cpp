// DLL search restriction and loading by system path.
#include <windows.h>

#include "SFXdlls.h"
#include "../extract/SFXpath.h"

typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD);

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

void RestrictDllSearch()
{
    // kernel32 is always loaded; older systems lack the call and fall back
    // to the full paths of LoadSystemLibrary.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    SetDefaultDllDirectoriesProc restrict =
        (SetDefaultDllDirectoriesProc)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (restrict != 0)
        restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void* LoadSystemLibrary(const char* name)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    if (!AddBackslash(path, MAX_PATH) || !AppendText(path, MAX_PATH, name))
        return 0;
    return LoadLibraryExA(path, 0, LOAD_WITH_ALTERED_SEARCH_PATH);
}
