// Process entry: open our own file, read the settings, run the main dialog,
// release everything and end with exit code 0.
//
// The program is linked without a C runtime; this is the image's entry
// point. It reads no command line.
#include <windows.h>

#include "SFXstate.h"
#include "SFXsett.h"
#include "SFXtext.h"
#include "SFXdlls.h"
#include "../decode/SFXcrc.h"
#include "../decode/SFXio.h"
#include "../ui/SFXmdlg.h"

enum : uint32_t { CrcTableBlockSize = 1028 };

static void RunWithOpenArchive()
{
    CrcTable = (uint32_t*)AllocateBlock(CrcTableBlockSize);
    if (CrcTable != 0) {                         // without it nothing could be checked
        BuildCrcTable();
        ReadSettingsBlock();
        DialogBoxParamA(ModuleInstance, "MainDialog", 0, MainDialogProc, 0);
    }
    if (!CloseHandle(ArchiveHandle))
        MessageBoxA(0, "Cannot close the file", TEXT_WARNING_CAPTION, MB_OK);
    ArchiveHandle = INVALID_HANDLE_VALUE;
    ReleaseBlock(CrcTable);
    CrcTable = 0;
}

extern "C" void SfxEntry()
{
    ModuleInstance = GetModuleHandleA(0);
    RestrictDllSearch();

    char ownPath[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(0, ownPath, MAX_PATH + 1);
    ownPath[length <= MAX_PATH ? length : MAX_PATH] = 0;

    ArchiveHandle = CreateFileA(ownPath, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, 0);
    if (ArchiveHandle == INVALID_HANDLE_VALUE) {
        MessageBoxA(0, ownPath, TEXT_ERROR_READING, MB_OK | MB_ICONEXCLAMATION);
    } else {
        RunWithOpenArchive();
    }
    ExitProcess(0);
}
