// Entry names: how an archive's name bytes are read, what the extractor can
// hold and write, and when two names land on the same file on Windows.
#ifndef MKSFX_NAMES_H
#define MKSFX_NAMES_H

#include <cstdint>
#include <map>
#include <string>

#include "extract/SFXname.h"

namespace sfx {

// How the names of a ZIP archive are read when an entry does not say
// (flag bit 11, or a Unicode Path field). Guess: CP437 from MS-DOS and
// Windows hosts; from others UTF-8 when the bytes are valid UTF-8, else
// the bytes as they are. Ansi: always the bytes as they are.
enum class NameEncoding { Guess, Cp437, Utf8, Ansi };

// An entry's name as it is written: UTF-8 (with flag bit 11 when it is not
// ASCII), or bytes that the extractor reads in the ANSI code page of the
// Windows it runs on.
struct EntryName {
    std::string text;
    bool ansi = false;
    const char* how = "utf8";    // how the archive's bytes were read
};

// A ZIP entry's name as its archive means it: the UTF-8 of a Unicode Path
// field whose CRC-32 matches the name bytes, else the bytes as UTF-8 when
// flag bit 11 is set, else the bytes read as encoding says. Names that
// cannot be decoded stay as they are and NameProblem tells why.
EntryName ReadZipName(const std::string& bytes, uint16_t flags, uint16_t versionMadeBy, const std::string& extra,
                      NameEncoding encoding);

// Flag bit 11 for a UTF-8 name beyond ASCII, else 0.
uint16_t NameFlags(const EntryName& name);

// Why the extractor cannot extract an entry of this name, or "" when it can.
// A decoded name is checked as UTF-16, an ANSI name byte by byte.
std::string NameProblem(const EntryName& name);

// The name as Windows resolves it: case folded as Windows folds it (see
// UpperCase in names.cpp), "\" read as "/", trailing dots and blanks of each
// part and "." parts dropped, no trailing "/".
std::basic_string<NameUnit> CollisionKey(const EntryName& name);

// Remembers the names of one archive and refuses the second of two names
// that Windows would write to the same file, and a file whose name is also
// a folder's: one that an entry names, or one above an entry.
class NameSet {
public:
    void Add(const EntryName& name);

private:
    struct Seen {
        std::string label;       // the entry that brought the name in
        bool folder;
        bool implied;            // a folder that only lies above entries
    };
    void Note(const std::basic_string<NameUnit>& key, const Seen& seen);

    std::map<std::basic_string<NameUnit>, Seen> seen_;
};

// The text in quotes, with bytes that do not print written as \xHH: control
// characters, and every byte above ASCII unless the text is valid UTF-8 and
// not bytes of an unknown code page.
std::string Quoted(const std::string& text, bool bytes = false);
inline std::string Quoted(const EntryName& name)
{
    return Quoted(name.text, name.ansi);
}

// True when every byte is ASCII.
bool IsAscii(const std::string& text);
// True when the text is valid UTF-8 without a NUL, as the extractor decodes it.
bool IsUtf8(const std::string& text);

}  // namespace sfx

#endif
