// Scratch files and folders for the Windows unit tests, under the system's
// temporary folder.
#ifndef SFX_TESTS_WIN_FILES_H
#define SFX_TESTS_WIN_FILES_H

#include <windows.h>

#include <string>

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

// Writes bytes to a new file (replacing an old one).
void WriteFileBytes(const std::string& path, const std::string& bytes);

bool IsFolder(const std::string& path);
bool IsFile(const std::string& path);

#endif
