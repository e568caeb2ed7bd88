#include "names.h"

#include <cstdio>
#include <cstring>

#include "zip_format.h"
#include "extract/SFXname.h"

namespace sfx {

std::string NameProblem(const std::string& name)
{
    if (name.empty())
        return "has an empty name, which the extractor refuses";
    if (name.size() > MaxNameLength)
        return "has a name of " + std::to_string(name.size()) + " bytes; the extractor holds at most "
               + std::to_string(MaxNameLength);
    if (name.find('\0') != std::string::npos)
        return "has a NUL byte in its name";
    // The same test the extractor makes before it writes an entry.
    switch (EntryNameFault(name.c_str())) {
    case NameLeavesFolder:
        return "would be written outside the destination folder or to a device";
    case NameForbiddenCharacter:
        for (unsigned char c : name) {
            if (c < 0x20 || std::strchr("<>\"|?*", c) != nullptr) {
                char shown[8];
                std::snprintf(shown, sizeof shown, c < 0x20 ? "\\x%02X" : "%c", c);
                return std::string("has '") + shown + "' in its name, which Windows does not allow";
            }
        }
        break;
    default:
        break;
    }
    if (name == "." || (name.size() > 1 && name.compare(name.size() - 2, 2, "/.") == 0))
        return "names the folder it is in instead of a file";
    return "";
}

std::string CollisionKey(const std::string& name)
{
    std::string key, part;
    auto endPart = [&] {
        while (!part.empty() && (part.back() == '.' || part.back() == ' '))
            part.pop_back();
        if (!part.empty()) {
            if (!key.empty())
                key += '/';
            key += part;
        }
        part.clear();
    };
    for (char c : name) {
        if (c == '/' || c == '\\')
            endPart();
        else
            part += (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
    }
    endPart();
    return key;
}

void NameSet::Add(const std::string& name)
{
    auto inserted = seen_.emplace(CollisionKey(name), name);
    if (!inserted.second)
        throw Failure("entry " + Quoted(name) + " and entry " + Quoted(inserted.first->second)
                      + " would be written to the same file on Windows");
}

std::string Quoted(const std::string& name)
{
    std::string out = "\"";
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '"') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

void WarnIfNotAscii(const std::string& name)
{
    for (unsigned char c : name) {
        if (c >= 0x80) {
            std::fprintf(stderr, "mksfx: warning: entry %s has bytes outside ASCII; the extractor writes "
                                 "names as they are, read in the ANSI code page of the Windows it runs on\n",
                         Quoted(name).c_str());
            return;
        }
    }
}

}  // namespace sfx
