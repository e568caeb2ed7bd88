// Process-wide state of the extractor.
//
// Every value that more than one module reads or writes lives here and is
// touched directly; there are no objects and no context records. Values that
// a single module uses are declared in that module.
//
// The decoders are built for the host as well (tests, fuzzers, benchmarks),
// so the Windows-only variables are declared only in the Windows build.
#ifndef SFX_STATE_H
#define SFX_STATE_H

#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "SFXblock.h"
#include "../extract/SFXpath.h"

typedef uint8_t bool8;

// Texts are UTF-16, as the system's wide calls take them; the sizes count
// units. Folders may be as long as a path the system takes.
enum : int32_t {
    SettingsBufferSize = 261,      // title, run command: 255 bytes of the block at most
    FolderTextSize = PathTextSize, // default, destination and browse folders
    DestFolderSize = FolderTextSize,
    PasswordTextSize = 80,         // at most 79 characters
};

// Overwrite policy, as the identifiers of the main dialog's radio buttons.
enum : int32_t {
    OverwriteAlways = 501,
    OverwriteNever = 502,
    OverwriteConfirm = 503,
};

// The 30-byte ZIP local file header, byte for byte as the file holds it.
#pragma pack(push, 1)
struct LocalHeader {
    uint32_t Signature;
    uint16_t VersionNeeded;
    uint16_t Flags;              // bit 0 encrypted, bit 3 sizes/CRC in a data descriptor
    uint16_t Method;             // 0 stored, 8 deflated
    uint32_t TimeDate;           // low 16 bits DOS time, high 16 bits DOS date
    uint32_t Crc32;
    uint32_t CompressedSize;     // includes the 12-byte encryption header; 0xFFFFFFFF: ZIP64
    uint32_t UncompressedSize;   // 0xFFFFFFFF: in the ZIP64 field
    uint16_t NameLength;
    uint16_t ExtraLength;
};
#pragma pack(pop)
static_assert(sizeof(LocalHeader) == 30, "local header is 30 bytes");

enum : uint16_t {
    FlagEncrypted = 0x0001,
    FlagDataDescriptor = 0x0008,
    FlagUtf8Name = 0x0800,       // name (and comment) in UTF-8
};

// Settings (read from the settings block; initial values mean "no block").
extern bool8 HasTitle;
extern bool8 HasDefaultFolder;
extern bool8 HasRunCommand;
extern bool8 ShowRunCheckBox;
extern bool8 UserSelectsFiles;
extern bool8 HideOverwriteOptions;
extern int32_t OverwriteMode;
extern NameUnit TitleText[SettingsBufferSize];
extern NameUnit DefaultFolder[FolderTextSize];
extern NameUnit RunCommand[SettingsBufferSize];
extern NameUnit BrowseFolder[FolderTextSize];

// Archive access.
extern uint32_t StubSize;         // where the settings block is looked for
extern uint32_t ArchiveBase;
extern int64_t LastSeekPosition;
extern uint32_t* CrcTable;        // 256 entries in a block of 1028 bytes

// The current entry, shared by the walk, the extraction and the decoders.
extern LocalHeader EntryHeader;
extern uint32_t ExpectedSignature;
// The entry's sizes: the local header's, or its ZIP64 extended-information
// field's where the header reads 0xFFFFFFFF. EntryIsZip64: it has that
// field, so a data descriptor behind it holds 8-byte sizes.
extern uint64_t EntryCompressedSize;
extern uint64_t EntryUncompressedSize;
extern bool8 EntryIsZip64;
extern int64_t DataRemaining;     // compressed bytes not yet consumed; signed
extern uint32_t RunningCrc;       // preset 0xFFFFFFFF, complemented only to compare
// Set by the decoders: the entry's data were all read, a deflate stream
// ended cleanly within them, and the output took every byte. Without it a
// matching CRC proves nothing: an entry cut short whose header carries the
// CRC of empty data (0, as streaming writers leave it) would match.
extern bool8 EntryDataComplete;
extern int32_t ListSearchIndex;

// Extraction and dialogs.
extern NameUnit DestFolder[DestFolderSize];
extern uint8_t OverwriteChoice;   // 0 overwrite, 1 skip, 2 ask
extern bool8 OverwriteAnswer;
extern NameUnit OverwriteFileName[FileNamePartMax + 1];
extern bool8 ExtractionSucceeded;
// The password stays in bytes of the ANSI code page, as archives made on
// the same system hold it.
extern char PasswordText[PasswordTextSize];
extern int32_t PasswordLength;
extern char Password[PasswordTextSize];

// An extracting walk is running: the main dialog's handlers, which the walk
// dispatches between entries, must not start another one or end the dialog
// under it. A Close during the walk asks it to stop after the current entry.
extern bool8 WalkInProgress;
extern bool8 WalkStopRequested;
// An entry's data are being decoded and written: the thread answers other
// programs' messages then (SFXprog.h), but the dialog's handlers must wait
// until the entry is done.
extern bool8 DecodingEntry;

// Switches of the command line (SFXcmd.h): a silent or automatic run, no
// program started, text for the program's parameters; the process's exit
// code, which only a run with switches sets.
extern bool8 SilentRun;
extern bool8 AutomaticRun;
extern bool8 NoRunSwitch;
extern const NameUnit* ExtraParameters;
extern uint32_t ExitCode;
// The walk is dealing with an entry: a box belongs to its line in the log.
extern bool8 NotingEntry;

#ifdef _WIN32
extern HANDLE ArchiveHandle;
extern HANDLE OutputHandle;
extern HWND MainWindow;
extern HINSTANCE ModuleInstance;
extern HANDLE LogHandle;              // the /LOG file, or INVALID_HANDLE_VALUE
#endif

#endif
