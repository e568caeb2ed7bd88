// mksfx --info: the settings and entries of a self-extracting file, and
// whether the extractor's walk over its local headers gets through.
#ifndef MKSFX_INFO_H
#define MKSFX_INFO_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform.h"

namespace sfx {

// Prints the report; the result is the exit status: 0 when the extractor
// can extract every entry and every entry's data decodes to its size and
// CRC-32, 1 when not or the file is no self-extracting file. Encrypted
// entries are checked only with their password.
int ShowInfo(const std::string& path, FILE* out, const std::string& password);

// The extractor's walk over the archive at base, and the central directory
// against it: what would stop the extractor, or nothing. With out, prints
// each entry and what the walk met, as ShowInfo does.
std::vector<std::string> WalkProblems(InputFile& file, uint64_t base, FILE* out);

}  // namespace sfx

#endif
