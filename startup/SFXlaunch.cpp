// Launch after extraction.
#include <windows.h>
#include <shellapi.h>

#include "SFXlaunch.h"
#include "SFXstate.h"
#include "../decode/SFXio.h"
#include "../extract/SFXpath.h"

static bool IsToken(const NameUnit* p)
{
    return p[0] == '>' && p[1] == '<';
}

// The length of the last part built before its short form was taken.
static int32_t BuiltLength = 0;

NameUnit* BuildCommandPart(int32_t part)
{
    // The folder with its trailing backslash. DestFolder keeps the
    // backslash too, when its buffer has room for it.
    AddBackslash(DestFolder, DestFolderSize);
    const NameUnit* folder = DestFolder;

    const NameUnit* text = RunCommand;
    int32_t bar = 0;
    while (text[bar] != 0 && text[bar] != '|')
        bar++;
    const NameUnit* start = part == 1 ? text : (text[bar] == '|' ? text + bar + 1 : text + bar);
    int32_t length = part == 1 ? bar : StrLength(start);

    int32_t tokens = 0;
    for (int32_t i = 0; i + 1 < length; i++)
        if (IsToken(start + i)) {
            tokens++;
            i++;
        }
    int32_t folderLength = StrLength(folder);
    int32_t size = length + tokens * folderLength + 1;
    NameUnit* result = (NameUnit*)AllocateBlock((uint32_t)size * sizeof(NameUnit));
    if (result == 0)
        return 0;

    // Left to right; inserted text is not searched again.
    int32_t out = 0;
    for (int32_t i = 0; i < length; i++) {
        if (i + 1 < length && IsToken(start + i)) {
            for (int32_t k = 0; k < folderLength; k++)
                result[out++] = folder[k];
            i++;
        } else {
            result[out++] = start[i];
        }
    }
    result[out] = 0;
    BuiltLength = out;

    // The short form serves programs that cannot take long names; it is
    // used only when it names something and is shorter. The call writes
    // nothing when the short form does not fit in the result's length.
    if (out > 0)
        GetShortPathNameW(result, result, (DWORD)out);
    return result;
}

// The parameters with the command line's text for the program behind
// them, in a block of their own.
static NameUnit* WithExtraParameters(NameUnit* parameters)
{
    if (parameters == 0 || ExtraParameters == 0 || ExtraParameters[0] == 0)
        return parameters;
    int32_t size = StrLength(parameters) + 1 + StrLength(ExtraParameters) + 1;
    NameUnit* joined = (NameUnit*)AllocateBlock((uint32_t)size * sizeof(NameUnit));
    if (joined != 0) {
        CopyText(joined, size, parameters);
        if (parameters[0] != 0)
            AppendAscii(joined, size, " ");
        AppendText(joined, size, ExtraParameters);
    }
    ReleaseBlock(parameters);
    return joined;
}

// A program path of MAX_PATH units or more, which the shell does not start
// as it is: its short form when that is shorter than MAX_PATH (found
// through "\\?\", as the plain path is too long to be looked up), else the
// literal "\\?\" form itself. Returns the block in use.
static NameUnit* LaunchablePath(NameUnit* program)
{
    if (program == 0 || StrLength(program) < MAX_PATH)
        return program;
    NameUnit* literal = (NameUnit*)AllocateBlock(PathTextSize * sizeof(NameUnit));
    if (literal == 0)
        return program;
    if (!SystemPath(program, literal, 0)) {
        ReleaseBlock(literal);
        return program;
    }
    static NameUnit shortForm[PathTextSize];
    DWORD length = GetShortPathNameW(literal, shortForm, PathTextSize);
    if (length > 0 && length < (DWORD)PathTextSize) {
        // "\\?\" and "\\?\UNC\" come back as they went in.
        const NameUnit* plain = shortForm;
        if (shortForm[0] == '\\' && shortForm[1] == '\\' && shortForm[2] == '?' && shortForm[3] == '\\')
            plain = shortForm[4] == 'U' && shortForm[5] == 'N' && shortForm[6] == 'C' ? shortForm + 6 : shortForm + 4;
        if (StrLength(plain) < MAX_PATH) {
            CopyText(literal, PathTextSize, plain);
            if (plain != shortForm + 4 && plain != shortForm)
                literal[0] = '\\';              // "\\server\share", from "UNC\server\share"
        } else {
            CopyText(literal, PathTextSize, shortForm);
        }
    }
    ReleaseBlock(program);
    return literal;
}

// Starts a program of a long path directly, as a program, when the shell
// would not: Wine's shell, in a process that is aware of long paths, looks
// the program up again under its long name, which it cannot hold.
static bool StartLongProgram(const NameUnit* program, const NameUnit* parameters)
{
    int32_t size = StrLength(program) + StrLength(parameters) + 4;
    NameUnit* line = (NameUnit*)AllocateBlock((uint32_t)size * sizeof(NameUnit));
    if (line == 0)
        return false;
    AppendAscii(line, size, "\"");
    AppendText(line, size, program);
    AppendAscii(line, size, "\" ");
    AppendText(line, size, parameters);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    bool started = CreateProcessW(program, line, 0, 0, FALSE, 0, 0, 0, &startup, &process) != 0;
    if (started) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    ReleaseBlock(line);
    return started;
}

bool LaunchAfterExtraction(int32_t checkState)
{
    if (checkState != BST_CHECKED || !HasRunCommand)
        return true;
    NameUnit* program = LaunchablePath(BuildCommandPart(1));
    bool isLong = BuiltLength >= MAX_PATH;
    NameUnit* parameters = WithExtraParameters(BuildCommandPart(2));
    bool started = program != 0 && parameters != 0
                && ((INT_PTR)ShellExecuteW(0, L"open", program, parameters, L"", SW_SHOW) > 32
                    || (isLong && StartLongProgram(program, parameters)));
    ReleaseBlock(program);
    ReleaseBlock(parameters);
    return started;
}
