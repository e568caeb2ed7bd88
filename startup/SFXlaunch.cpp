// Launch after extraction.
#include <windows.h>
#include <shellapi.h>

#include "SFXlaunch.h"
#include "SFXstate.h"
#include "../decode/SFXio.h"
#include "../extract/SFXpath.h"

static const char FolderToken[] = "><";

static bool IsToken(const char* p)
{
    return p[0] == FolderToken[0] && p[1] == FolderToken[1];
}

char* BuildCommandPart(int32_t part)
{
    // The folder with its trailing backslash. DestFolder keeps the
    // backslash too, when its 256 bytes have room for it.
    char folder[DestFolderSize + 1];
    CopyText(folder, sizeof folder, DestFolder);
    AddBackslash(folder, sizeof folder);
    AddBackslash(DestFolder, DestFolderSize);

    const char* text = RunCommand;
    int32_t bar = 0;
    while (text[bar] != 0 && text[bar] != '|')
        bar++;
    const char* start = part == 1 ? text : (text[bar] == '|' ? text + bar + 1 : text + bar);
    int32_t length = part == 1 ? bar : StrLength(start);

    int32_t tokens = 0;
    for (int32_t i = 0; i + 1 < length; i++)
        if (IsToken(start + i)) {
            tokens++;
            i++;
        }
    int32_t folderLength = StrLength(folder);
    int32_t size = length + tokens * folderLength + 1;
    char* result = (char*)AllocateBlock((uint32_t)size);
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
        GetShortPathNameA(result, result, (DWORD)out);
    return result;
}

void LaunchAfterExtraction(int32_t checkState)
{
    if (checkState != BST_CHECKED || !HasRunCommand)
        return;
    char* program = BuildCommandPart(1);
    char* parameters = BuildCommandPart(2);
    if (program != 0 && parameters != 0)
        ShellExecuteA(0, "open", program, parameters, "", SW_SHOW);
    ReleaseBlock(program);
    ReleaseBlock(parameters);
}
