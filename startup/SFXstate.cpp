// Definitions of the process-wide state; see SFXstate.h.
#include "SFXstate.h"

bool8 HasTitle = 0;
bool8 HasDefaultFolder = 0;
bool8 HasRunCommand = 0;
bool8 ShowRunCheckBox = 1;
bool8 UserSelectsFiles = 1;
bool8 HideOverwriteOptions = 0;
int32_t OverwriteMode = OverwriteConfirm;
NameUnit TitleText[SettingsBufferSize];
NameUnit DefaultFolder[FolderTextSize];
NameUnit RunCommand[SettingsBufferSize];
NameUnit BrowseFolder[FolderTextSize];

uint32_t StubSize = StubSizeMin;
uint32_t ArchiveBase = 0;
int64_t LastSeekPosition = 0;
uint32_t* CrcTable = 0;

LocalHeader EntryHeader;
uint32_t ExpectedSignature = 0;
uint64_t EntryCompressedSize = 0;
uint64_t EntryUncompressedSize = 0;
bool8 EntryIsZip64 = 0;
int64_t DataRemaining = 0;
uint32_t RunningCrc = 0;
bool8 EntryDataComplete = 0;
int32_t ListSearchIndex = 0;

NameUnit DestFolder[DestFolderSize];
uint8_t OverwriteChoice = 0;
bool8 OverwriteAnswer = 0;
NameUnit OverwriteFileName[FileNamePartMax + 1];
bool8 ExtractionSucceeded = 0;
char PasswordText[PasswordTextSize];
int32_t PasswordLength = 0;
char Password[PasswordTextSize];

bool8 WalkInProgress = 0;
bool8 WalkStopRequested = 0;
bool8 DecodingEntry = 0;

bool8 SilentRun = 0;
bool8 AutomaticRun = 0;
bool8 NoRunSwitch = 0;
const NameUnit* ExtraParameters = 0;
uint32_t ExitCode = 0;
bool8 NotingEntry = 0;

#ifdef _WIN32
HANDLE ArchiveHandle = INVALID_HANDLE_VALUE;
HANDLE OutputHandle = 0;
HWND MainWindow = 0;
HINSTANCE ModuleInstance = 0;
HANDLE LogHandle = INVALID_HANDLE_VALUE;
#endif
