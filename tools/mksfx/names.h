// Entry names: what the extractor can hold and write, and when two names
// land on the same file on Windows.
#ifndef MKSFX_NAMES_H
#define MKSFX_NAMES_H

#include <map>
#include <string>

namespace sfx {

// Why the extractor cannot extract an entry of this name, or "" when it can.
std::string NameProblem(const std::string& name);

// The name as Windows resolves it: case folded, "\" read as "/", trailing
// dots and blanks of each part and "." parts dropped, no trailing "/".
std::string CollisionKey(const std::string& name);

// Remembers the names of one archive and refuses the second of two names
// that Windows would write to the same file.
class NameSet {
public:
    void Add(const std::string& name);

private:
    std::map<std::string, std::string> seen_;
};

// The name in quotes, with bytes that do not print written as \xHH.
std::string Quoted(const std::string& name);

// Names are written byte for byte, so bytes above ASCII come out in the
// code page of the Windows that extracts them; says so on stderr.
void WarnIfNotAscii(const std::string& name);

}  // namespace sfx

#endif
