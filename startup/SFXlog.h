// The /LOG file: one UTF-8 line for every entry that an extracting walk
// takes up ("extracted", "kept", or "failed" with the text of the box that
// says why), one for every other box of a silent run, and one for the
// run's result. Lines are appended, so one file can hold several runs.
#ifndef SFX_LOG_H
#define SFX_LOG_H

#include "../extract/SFXpath.h"

// Opens (or creates) the file for appending; a file that cannot be opened
// leaves the run without a log.
void OpenLog(const NameUnit* path);

// Appends "LEAD TEXT" or "LEAD TEXT: REASON" and a line end; line breaks
// inside the texts become blanks. Nothing without a log.
void LogLine(const char* lead, const NameUnit* text, const NameUnit* reason = 0);

#endif
