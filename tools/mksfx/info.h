// mksfx --info: the settings and entries of a self-extracting file, and
// whether the extractor's walk over its local headers gets through.
#ifndef MKSFX_INFO_H
#define MKSFX_INFO_H

#include <cstdio>
#include <string>

namespace sfx {

// Prints the report; the result is the exit status: 0 when the extractor
// can extract every entry, 1 when it cannot or the file is no
// self-extracting file.
int ShowInfo(const std::string& path, FILE* out);

}  // namespace sfx

#endif
