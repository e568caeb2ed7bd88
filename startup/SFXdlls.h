// Where DLLs may come from.
//
// A self-extracting file is usually run from a downloads folder, where
// anyone may have left a DLL named like a system one. The program links
// statically only against DLLs that Windows always takes from the system
// folder, and loads everything else by its full system path.
#ifndef SFX_DLLS_H
#define SFX_DLLS_H

// Limits the DLL search of this process to the system folder, where the
// system offers that (SetDefaultDllDirectories), and loads from there the
// DLLs that the system's own DLLs would otherwise look for by name. The
// first thing start-up does.
void RestrictDllSearch();

// Loads a DLL from the system folder by full path; 0 when it is not there.
void* LoadSystemLibrary(const char* name);

// Loads the common controls by name, which the manifest's dependency sends
// to the system's side-by-side copy of version 6 (never to the program's
// folder); by full path it would be the older version in the system folder.
void* LoadCommonControls();

#endif
