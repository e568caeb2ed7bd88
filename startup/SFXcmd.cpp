// The command line's switches; see SFXcmd.h.
#include "SFXcmd.h"
#include "SFXstate.h"

#ifdef _WIN32
#include <windows.h>

#include "SFXlog.h"
#include "SFXtext.h"
#include "../ui/SFXwin.h"
#endif

bool8 HelpAsked = 0;
int32_t SwitchOverwrite = 0;
const NameUnit* SwitchFolder = 0;
const NameUnit* SwitchPassword = 0;
const NameUnit* LogPath = 0;
const NameUnit* BadSwitch = 0;

static bool IsBlank(NameUnit c)
{
    return c == ' ' || c == '\t';
}

// Unquotes the argument at in, writing it at out (never ahead of in), as
// the C runtime does: 2n backslashes and a quote give n backslashes and
// open or close a quoted part, 2n+1 give n and a literal quote, a doubled
// quote inside a quoted part is one quote; other backslashes are literal.
// Returns where the next argument may start.
static NameUnit* Unquote(NameUnit* in, NameUnit* out)
{
    bool quoted = false;
    while (*in != 0 && (quoted || !IsBlank(*in))) {
        if (*in == '\\') {
            int32_t backslashes = 0;
            while (in[backslashes] == '\\')
                backslashes++;
            bool beforeQuote = in[backslashes] == '"';
            for (int32_t i = beforeQuote ? backslashes / 2 : backslashes; i > 0; i--)
                *out++ = '\\';
            in += backslashes;
            if (beforeQuote && backslashes % 2 == 1)
                *out++ = *in++;               // an escaped quote
        } else if (*in == '"') {
            if (quoted && in[1] == '"') {
                *out++ = '"';
                in += 2;
            } else {
                quoted = !quoted;
                in++;
            }
        } else {
            *out++ = *in++;
        }
    }
    NameUnit* next = *in != 0 ? in + 1 : in;
    *out = 0;
    return next;
}

static uint32_t Upper(NameUnit c)
{
    return c >= 'a' && c <= 'z' ? (uint32_t)c - 'a' + 'A' : (uint32_t)c;
}

// The text after the switch name when argument (without its "/" or "-")
// is that name, in any case; with a name ending in "=", the value behind
// it, which must not be empty. 0 when it is not that switch.
static const NameUnit* Value(const NameUnit* argument, const char* name)
{
    for (; *name != 0; argument++, name++)
        if (Upper(*argument) != (uint8_t)*name)
            return 0;
    bool valued = name[-1] == '=';
    if (valued ? *argument == 0 : *argument != 0)
        return 0;
    return argument;
}

static bool ReadSwitch(const NameUnit* argument)
{
    if (argument[0] != '/' && argument[0] != '-')
        return false;
    const NameUnit* name = argument + 1;
    const NameUnit* value;
    if (Value(name, "S"))
        SilentRun = 1;
    else if (Value(name, "A"))
        AutomaticRun = 1;
    else if (Value(name, "NORUN"))
        NoRunSwitch = 1;
    else if (Value(name, "?"))
        HelpAsked = 1;
    else if ((value = Value(name, "D=")) != 0)
        SwitchFolder = value;
    else if ((value = Value(name, "P=")) != 0)
        SwitchPassword = value;
    else if ((value = Value(name, "LOG=")) != 0)
        LogPath = value;
    else if ((value = Value(name, "O=")) != 0 && value[1] == 0 && (Upper(*value) == 'A' || Upper(*value) == 'N'))
        SwitchOverwrite = Upper(*value) == 'A' ? OverwriteAlways : OverwriteNever;
    else
        return false;
    return true;
}

void ReadSwitches(NameUnit* commandLine)
{
    // The program's name ends at the first blank, or is quoted whole; no
    // backslash in it means anything.
    NameUnit* in = commandLine;
    if (*in == '"') {
        for (in++; *in != 0 && *in != '"'; in++)
            ;
        if (*in != 0)
            in++;
    }
    while (*in != 0 && !IsBlank(*in))
        in++;
    for (;;) {
        while (IsBlank(*in))
            in++;
        if (*in == 0)
            return;
        NameUnit* argument = in;
        if (in[0] == '-' && in[1] == '-' && (in[2] == 0 || IsBlank(in[2]))) {
            // The rest of the line as it stands, for the program.
            for (in += 2; IsBlank(*in); in++)
                ;
            ExtraParameters = in;
            return;
        }
        in = Unquote(in, argument);
        if (!ReadSwitch(argument) && BadSwitch == 0)
            BadSwitch = argument;
    }
}

#ifdef _WIN32

static const char SwitchList[] =
    "Switches, with / or - and in any case:\r\n\r\n"
    "/S\tsilent: no window; every file, and the program as set\r\n"
    "/A\tautomatic: Unzip at once; a success closes the dialog\r\n"
    "/D=FOLDER\tthe destination folder\r\n"
    "/O=A, /O=N\talways or never overwrite; under /S, \"confirm\" overwrites\r\n"
    "/P=TEXT\tthe password of encrypted files\r\n"
    "/NORUN\tthe program is not started\r\n"
    "/LOG=FILE\tappends a line per file and the result (UTF-8)\r\n"
    "-- ...\tthe rest goes to the program's parameters\r\n\r\n"
    "Exit codes under /S and /A: 0 done, 1 files failed, 2 a bad switch,\r\n"
    "3 the archive cannot be read, 4 the program could not be started.";

bool ApplySwitches()
{
    if (BadSwitch != 0) {
        ExitCode = ExitBadSwitch;
        static NameUnit text[PathTextSize + 64];
        text[0] = 0;
        AppendAscii(text, PathTextSize + 64, "Unknown switch: ");
        AppendText(text, PathTextSize + 64, BadSwitch);
        AppendAscii(text, PathTextSize + 64, "\r\n\r\nUse /? for the list of switches.");
        ShowMessage(text, TEXT_WARNING_CAPTION, MB_ICONHAND);
        return false;
    }
    if (HelpAsked) {
        if (!SilentRun)
            ShowNotice(SwitchList, TEXT_MAIN_CAPTION, MB_ICONASTERISK);
        return false;
    }
    if (SwitchFolder != 0) {
        // Resolved now: a relative folder names one below the current
        // folder as the run started.
        DWORD length = GetFullPathNameW(SwitchFolder, FolderTextSize, DefaultFolder, 0);
        HasDefaultFolder = length > 0 && length < (DWORD)FolderTextSize;
    }
    if (SwitchOverwrite != 0)
        OverwriteMode = SwitchOverwrite;
    if (SilentRun && OverwriteMode == OverwriteConfirm)
        OverwriteMode = OverwriteAlways;      // as "Yes" to all would
    if (SwitchPassword != 0) {
        // In the ANSI code page, as a typed password.
        int n = WideCharToMultiByte(CP_ACP, 0, SwitchPassword, -1, Password, PasswordTextSize, 0, 0);
        if (n <= 0)
            Password[0] = 0;
    }
    return true;
}

#endif
