// Scratch files and folders for the Windows unit tests, under the system's
// temporary folder. Paths are UTF-8, of any length.
#ifndef SFX_TESTS_WIN_FILES_H
#define SFX_TESTS_WIN_FILES_H

#include <windows.h>

#include <string>

// UTF-8 and the UTF-16 of the program's texts, both ways.
std::wstring Wide(const std::string& utf8);
std::string Narrow(const std::wstring& units);
std::string Narrow(const wchar_t* units);

// An absolute path in UTF-16 behind "\\?\", which the system takes at any
// length (other paths as they are).
std::wstring Literal(const std::string& path);

// The system's temporary folder, with its trailing backslash.
std::string TempPath();

// A fresh, empty folder for one test (no trailing backslash); removed with
// everything in it when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// Creates a folder and every missing parent.
void MakeFolders(const std::string& path);

// Writes bytes to a new file (replacing an old one).
void WriteFileBytes(const std::string& path, const std::string& bytes);

bool IsFolder(const std::string& path);
bool IsFile(const std::string& path);

#endif
