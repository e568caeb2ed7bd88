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
#include "../ui/SFXwin.h"

enum : uint32_t { CrcTableBlockSize = 1028 };

static void RunWithOpenArchive()
{
    CrcTable = (uint32_t*)AllocateBlock(CrcTableBlockSize);
    if (CrcTable != 0) {                         // without it nothing could be checked
        BuildCrcTable();
        // The loader has mapped our headers: no read of the file is needed.
        StubSize = StubSizeOf(ModuleInstance);
        ReadSettingsBlock();
        DialogBoxParamW(ModuleInstance, L"MainDialog", 0, MainDialogProc, 0);
    }
    if (!CloseHandle(ArchiveHandle))
        ShowNotice("Cannot close the file", TEXT_WARNING_CAPTION, 0);
    ArchiveHandle = INVALID_HANDLE_VALUE;
    ReleaseBlock(CrcTable);
    CrcTable = 0;
}

extern "C" void SfxEntry()
{
    ModuleInstance = GetModuleHandleA(0);
    RestrictDllSearch();

    // In UTF-16, so that a folder named in any script is found; the path
    // may be longer than the ANSI calls' 260 characters.
    static NameUnit ownPath[PathTextSize];
    static NameUnit systemPath[PathTextSize];
    DWORD length = GetModuleFileNameW(0, ownPath, PathTextSize);
    ownPath[length < (DWORD)PathTextSize ? length : PathTextSize - 1] = 0;

    ArchiveHandle = INVALID_HANDLE_VALUE;
    if (SystemPath(ownPath, systemPath))
        ArchiveHandle = CreateFileW(systemPath, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, 0);
    if (ArchiveHandle == INVALID_HANDLE_VALUE) {
        ShowMessage(ownPath, TEXT_ERROR_READING, MB_ICONEXCLAMATION);
    } else {
        RunWithOpenArchive();
    }
    ExitProcess(0);
}
