// Process entry: open our own file, read the settings, run the main dialog,
// release everything and end with exit code 0.
//
// The program is linked without a C runtime; this is the image's entry
// point. Without switches on its command line it ends with exit code 0
// whatever happened; with them, the code says how the run went.
#include <windows.h>

#include "SFXcmd.h"
#include "SFXlog.h"
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
        if (ApplySwitches()) {
            if (SilentRun)
                RunSilently();
            else
                DialogBoxParamW(ModuleInstance, L"MainDialog", 0, MainDialogProc, 0);
            if (ExitCode == ExitDone && !ExtractionSucceeded)
                ExitCode = ExitEntriesFailed;
        }
    }
    if (!CloseHandle(ArchiveHandle))
        ShowNotice("Cannot close the file", TEXT_WARNING_CAPTION, 0);
    ArchiveHandle = INVALID_HANDLE_VALUE;
    ReleaseBlock(CrcTable);
    CrcTable = 0;
}

// The log's last line: the run's exit code and what it means.
static void LogResult()
{
    static const char results[] =
        "All Files Have Been Extracted Successfully.\0"
        "The selected file(s) couldn't be extracted.\0"
        "a switch is not understood\0"
        "Error reading archive.\0"
        "the files are extracted, but the program could not be started\0";
    NameUnit line[80] = {0};
    line[0] = (NameUnit)('0' + ExitCode);
    AppendAscii(line, 80, ": ");
    AppendAscii(line, 80, NthText(results, (int32_t)ExitCode));
    LogLine("result", line);
}

extern "C" void SfxEntry()
{
    ModuleInstance = GetModuleHandleA(0);
    RestrictDllSearch();
    // Read first, so that the log also hears of a file that cannot be read.
    static NameUnit commandLine[PathTextSize];
    if (CopyText(commandLine, PathTextSize, GetCommandLineW()))
        ReadSwitches(commandLine);
    if (LogPath != 0)
        OpenLog(LogPath);

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
        ExitCode = ExitArchiveUnreadable;
        ShowMessage(ownPath, TEXT_ERROR_READING, MB_ICONEXCLAMATION);
    } else {
        RunWithOpenArchive();
    }
    if (!HelpAsked)
        LogResult();
    ExitProcess(SilentRun || AutomaticRun || ExitCode == ExitBadSwitch ? ExitCode : 0);
}
