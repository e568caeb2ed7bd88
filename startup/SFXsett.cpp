// Settings block reader.
//
// Layout at StubSize: "MPU", flags, title length T, folder length F, command
// length C, then the three strings packed without terminators. The archive
// starts 256 bytes after the block's start, whatever the lengths say.
#include <windows.h>

#include "SFXsett.h"
#include "SFXstate.h"
#include "../extract/SFXarch.h"
#include "../extract/SFXname.h"
#include "../decode/SFXio.h"

// One byte of the block. A block cut short by the end of the file reads as
// zero bytes from there on, so every length and text stays defined.
static uint8_t ReadBlockByte()
{
    uint8_t value = 0;
    ReadArchive(&value, 1);
    return value;
}

// length bytes of the block as text, in UTF-16 units into a buffer of
// SettingsBufferSize units. Bytes past the end of the file are zero, which
// ends the text where the file ended. With utf8 the bytes are UTF-8, unless
// they are not valid UTF-8: then, as without, bytes of the ANSI code page,
// so that a file from a careless packer still runs.
static void ReadBlockText(NameUnit* buffer, uint8_t length, bool utf8)
{
    char bytes[SettingsBufferSize] = {0};
    if (length > 0)
        ReadArchive(bytes, length);
    int32_t count = StrLength(bytes);
    int32_t n = utf8 ? DecodeUtf8(bytes, count, buffer, SettingsBufferSize) : -1;
    if (n < 0)
        n = MultiByteToWideChar(CP_ACP, 0, bytes, count, buffer, SettingsBufferSize - 1);
    buffer[n > 0 ? n : 0] = 0;
}

uint32_t StubSizeOf(const void* module)
{
    const uint8_t* image = (const uint8_t*)module;
    const IMAGE_NT_HEADERS* headers = (const IMAGE_NT_HEADERS*)(image + ((const IMAGE_DOS_HEADER*)image)->e_lfanew);
    // The section table follows the optional header, whose size says where
    // (PE32 and PE32+ differ). A section without data in the file (.bss)
    // ends nowhere.
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(headers);
    uint32_t end = StubSizeMin;
    for (WORD i = 0; i < headers->FileHeader.NumberOfSections; i++, section++) {
        uint32_t sectionEnd = section->PointerToRawData + section->SizeOfRawData;
        if (section->SizeOfRawData != 0 && sectionEnd > end)
            end = sectionEnd;
    }
    return end;
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
    if (flags & FlagAutomatic)
        AutomaticRun = 1;
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

    bool utf8 = (flags & FlagUtf8Texts) != 0;
    ReadBlockText(TitleText, titleLength, utf8);
    if (HasDefaultFolder) {
        ReadBlockText(DefaultFolder, folderLength, utf8);
        if (DefaultFolder[0] == '>' && DefaultFolder[1] == '<' && DefaultFolder[2] == 0) {
            // The temporary folder; if the system cannot give it the token
            // is not a folder, so the current folder is used as if the
            // block named none.
            DWORD length = GetTempPathW(FolderTextSize, DefaultFolder);
            if (length == 0 || length >= (DWORD)FolderTextSize)
                HasDefaultFolder = 0;
        }
    }
    ReadBlockText(RunCommand, commandLength, utf8);
}
