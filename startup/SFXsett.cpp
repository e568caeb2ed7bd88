// Settings block reader.
//
// Layout at StubSize: "MPU", flags, title length T, folder length F, command
// length C, then the three strings packed without terminators. The archive
// starts 256 bytes after the block's start, whatever the lengths say.
#include <windows.h>

#include "SFXsett.h"
#include "SFXstate.h"
#include "../extract/SFXarch.h"
#include "../decode/SFXio.h"

// One byte of the block. A block cut short by the end of the file reads as
// zero bytes from there on, so every length and text stays defined.
static uint8_t ReadBlockByte()
{
    uint8_t value = 0;
    ReadArchive(&value, 1);
    return value;
}

// length bytes into a 261-byte buffer, terminated at [length]; bytes past
// the end of the file are zero, which ends the text where the file ended.
static void ReadBlockText(char* buffer, uint8_t length)
{
    for (int32_t i = 0; i < SettingsBufferSize; i++)
        buffer[i] = 0;
    if (length > 0)
        ReadArchive(buffer, length);
    buffer[length] = 0;
}

void ReadSettingsBlock()
{
    ArchiveBase = StubSize;
    SeekArchive(StubSize, FILE_BEGIN);

    char signature[3];
    if (ReadArchive(signature, 3) < 3)
        return;                                   // the file ends with the executable
    if (signature[0] != 'M' || signature[1] != 'P' || signature[2] != 'U')
        return;
    ArchiveBase = StubSize + SettingsBlockSize;

    uint8_t flags = ReadBlockByte();
    if ((flags & FlagShowRunCheckBox) == 0)
        ShowRunCheckBox = 0;
    if ((flags & FlagUserSelectsFiles) == 0)
        UserSelectsFiles = 0;
    if (flags & FlagHideOverwriteOptions)
        HideOverwriteOptions = 1;
    if ((flags & FlagOverwriteMask) == FlagOverwriteAlways)
        OverwriteMode = OverwriteAlways;
    else if ((flags & FlagOverwriteMask) == FlagOverwriteNever)
        OverwriteMode = OverwriteNever;

    uint8_t titleLength = ReadBlockByte();
    uint8_t folderLength = ReadBlockByte();
    uint8_t commandLength = ReadBlockByte();
    HasTitle = titleLength > 0;
    HasDefaultFolder = folderLength > 0;
    HasRunCommand = commandLength > 0;

    ReadBlockText(TitleText, titleLength);
    if (HasDefaultFolder) {
        ReadBlockText(DefaultFolder, folderLength);
        if (DefaultFolder[0] == '>' && DefaultFolder[1] == '<' && DefaultFolder[2] == 0) {
            // The temporary folder; if the system cannot give it in 260
            // characters the token is not a folder, so the current folder
            // is used as if the block named none.
            DWORD length = GetTempPathA(SettingsBufferSize - 1, DefaultFolder);
            if (length == 0 || length >= SettingsBufferSize - 1)
                HasDefaultFolder = 0;
        }
    }
    ReadBlockText(RunCommand, commandLength);
}
