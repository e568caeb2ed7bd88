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

bool LaunchAfterExtraction(int32_t checkState)
{
    if (checkState != BST_CHECKED || !HasRunCommand)
        return true;
    NameUnit* program = BuildCommandPart(1);
    NameUnit* parameters = WithExtraParameters(BuildCommandPart(2));
    bool started = program != 0 && parameters != 0
                && (INT_PTR)ShellExecuteW(0, L"open", program, parameters, L"", SW_SHOW) > 32;
    ReleaseBlock(program);
    ReleaseBlock(parameters);
    return started;
}
