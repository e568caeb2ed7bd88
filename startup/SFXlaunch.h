// The program started after a successful extraction.
//
// RunCommand: the program, then optionally "|" and its parameters. Every
// "><" stands for the destination folder with a trailing backslash.
#ifndef SFX_LAUNCH_H
#define SFX_LAUNCH_H

#include <stdint.h>

#include "../extract/SFXpath.h"

// Part 1 (the program) or 2 (the parameters) of RunCommand, the folder
// substituted, in short (8.3) form when that names something and is
// shorter. Appends a trailing backslash to DestFolder in place. The result
// is a heap block of the decoders' allocator; release it with ReleaseBlock.
NameUnit* BuildCommandPart(int32_t part);

// Starts the program through the shell with the verb "open" when the run
// check box state is 1 and a command is configured, with the text after
// the command line's "--" behind its parameters. False when it could not
// be started (which only a run with switches reports, by its exit code).
bool LaunchAfterExtraction(int32_t checkState);

#endif
