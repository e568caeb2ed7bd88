// The command line: switches for a run that nobody watches.
//
// Without switches nothing changes. A switch only sets what the main dialog
// would set (the folder, the overwrite policy, the run check box, the
// password) or how the run reports; the extraction is the same code.
//
//   /S          silent: no window at all; every entry; the program as set
//   /A          automatic: the dialog shows and unzips at once; a success
//               closes it without the success box
//   /D=FOLDER   the destination folder
//   /O=A, /O=N  always or never overwrite (under /S "confirm" overwrites)
//   /P=TEXT     the password of encrypted entries
//   /NORUN      the program is not started
//   /LOG=FILE   one UTF-8 line per entry and one for the result, appended
//   /?          a box that lists the switches
//   --          the rest of the line goes to the program's parameters
//
// Switches start with "/" or "-", in any case. Arguments are split as the
// C runtime splits them ("/D=C:\Program Files\App" in quotes is one).
#ifndef SFX_CMD_H
#define SFX_CMD_H

#include <stdint.h>

#include "../extract/SFXpath.h"

// What ReadSwitches found besides the shared switches of SFXstate.h.
extern uint8_t HelpAsked;
extern int32_t SwitchOverwrite;          // 0, or OverwriteAlways / OverwriteNever
extern const NameUnit* SwitchFolder;     // /D, or 0
extern const NameUnit* SwitchPassword;   // /P, or 0
extern const NameUnit* LogPath;          // /LOG, or 0
extern const NameUnit* BadSwitch;        // the first argument not understood, or 0

// Exit codes of a run with /S or /A (without them the program ends with 0).
enum : uint32_t {
    ExitDone = 0,               // every entry extracted or kept, the program started
    ExitEntriesFailed = 1,
    ExitBadSwitch = 2,          // also without /S and /A
    ExitArchiveUnreadable = 3,  // "Error reading archive."
    ExitNotStarted = 4,         // extracted, but the program could not be started
};

// Reads the switches of commandLine (as GetCommandLineW gives it, program
// name first), which it changes in place: each argument is unquoted where
// it stands. Sets SilentRun, AutomaticRun, HelpAsked, NoRunSwitch,
// SwitchOverwrite, SwitchFolder, SwitchPassword, LogPath, ExtraParameters
// and BadSwitch (the first argument not understood; nothing is extracted
// then). The texts point into commandLine.
void ReadSwitches(NameUnit* commandLine);

#ifdef _WIN32
// After the settings block has been read: the switches become the settings
// that the main dialog starts from (/D resolved against the current folder
// now), the password is taken. Shows the box that names
// a bad switch, or the list of switches, unless the run is silent. False
// when the program is to end without extracting (with ExitCode set).
bool ApplySwitches();
#endif

#endif
