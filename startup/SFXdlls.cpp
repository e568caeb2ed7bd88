// DLL search restriction and loading by system path.
#include <windows.h>

#include "SFXdlls.h"
#include "../extract/SFXpath.h"

// The same in every build: the manifest, not the search order, decides
// where the name leads.
void* LoadCommonControls()
{
    return LoadLibraryA("comctl32.dll");
}

#ifdef SFX_UNHARDENED

// A build for tests only: DLLs are found the way Windows finds them by
// default, the program's own folder first, so that the planting test can
// show what the restriction below keeps out.
void RestrictDllSearch()
{
}

void* LoadSystemLibrary(const char* name)
{
    return LoadLibraryA(name);
}

#else

typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD);

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

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

// DLLs that the system's own DLLs load by bare name on this program's
// behalf: the shell's image lists and dialogs (comctl32, uxtheme, dwmapi,
// version), the network dialog (mpr), and the random numbers of advapi32
// (cryptbase). The common controls come first, by LoadCommonControls.
static const char LoadedOnOurBehalf[] = "uxtheme.dll\0dwmapi.dll\0version.dll\0mpr.dll\0cryptbase.dll\0";

void RestrictDllSearch()
{
    // kernel32 is always loaded; older systems lack the call and fall back
    // to the full paths of LoadSystemLibrary.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    SetDefaultDllDirectoriesProc restrict =
        (SetDefaultDllDirectoriesProc)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (restrict != 0)
        restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // A DLL that is already loaded satisfies every later load by its name.
    // Loading these from the system folder now keeps a later load by name
    // from finding one in the program's folder where the restriction is
    // missing (older systems) or not applied to the loads that other DLLs
    // make for themselves (delay-loaded imports under Wine). One that the
    // system lacks is simply not loaded.
    LoadCommonControls();
    for (const char* name = LoadedOnOurBehalf; *name != 0; name = NthText(name, 1))
        LoadSystemLibrary(name);
}

#endif
