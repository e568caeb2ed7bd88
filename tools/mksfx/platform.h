// Files and folders for the packer, on POSIX systems and on Windows.
#ifndef MKSFX_PLATFORM_H
#define MKSFX_PLATFORM_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace sfx {

// A file read at any 64-bit offset. Errors and short reads throw Failure.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    uint64_t Size() const { return size_; }
    const std::string& Path() const { return path_; }
    void ReadAt(uint64_t offset, void* buffer, size_t count);
    // Reads on from the current position; fewer bytes only at the end.
    size_t ReadSome(void* buffer, size_t count);
    void Rewind();
    // The open file's size and last write time now (FolderItem's units).
    void Status(uint64_t& size, int64_t& modified) const;

private:
    std::string path_;
    FILE* file_ = nullptr;
    uint64_t size_ = 0;
};

// The output, written to a new temporary file beside the target and renamed
// over it by Commit. Until then a failure, an exception or an interrupt
// removes the temporary file and leaves the target as it was.
class OutputFile {
public:
    explicit OutputFile(const std::string& target);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(const void* data, size_t count);
    void Write(const std::string& bytes) { Write(bytes.data(), bytes.size()); }
    uint64_t Position() const { return position_; }
    // Later writes go to this position. The file ends where the last write
    // ended when it is committed.
    void Seek(uint64_t position);
    // Puts what was written into the temporary file, where it can be read.
    void Flush();
    const std::string& TemporaryPath() const { return temporary_; }
    void Commit();

private:
    void Discard();
    [[noreturn]] void WriteFailed();

    std::string target_, temporary_;
    FILE* file_ = nullptr;
    uint64_t position_ = 0;
};

enum class Kind { Missing, File, Folder, Other };

// One entry of a folder. For a link, what it leads to: Kind::Missing when
// it leads nowhere.
struct FolderItem {
    std::string name;          // UTF-8 on Windows; the file system's bytes elsewhere
    Kind kind = Kind::Other;
    uint64_t size = 0;
    uint32_t timeDate = 0;     // last write time as a DOS time-and-date word, local time
    int64_t modified = 0;      // last write time as the file system keeps it, in its own units
    std::string identity;      // device (or volume) and file number, or "" when unknown
    bool link = false;         // a symbolic link, or on Windows also a junction
};

// Paths are UTF-8 on Windows, where the wide-character calls take them.
// What a path names, following symbolic links.
Kind KindOf(const std::string& path);
std::string IdentityOf(const std::string& path);
// What a path leads to, as ListFolder describes an entry (with no name);
// false when it cannot be inspected.
bool Describe(const std::string& path, FolderItem& item);
// True when the path is a file that its permissions (read-only attribute)
// keep from being written.
bool WriteProtected(const std::string& path);
// Writes to stderr a progress line, which open says it leaves unfinished;
// an interrupt's message then starts on a line of its own.
void WriteProgress(const std::string& text, bool open);
// The entries of a folder, without "." and "..", sorted by name.
std::vector<FolderItem> ListFolder(const std::string& path);
// The absolute path with every link resolved, or "" when the path leads
// nowhere (a missing target, a loop of links).
std::string FinalPath(const std::string& path);
// True when a final path is the final path folder or lies below it.
bool PathInside(const std::string& path, const std::string& folder);
// The folder that holds the running program, or "" when unknown.
std::string ProgramFolder(const char* argv0);

// The command line's arguments as UTF-8 on Windows (the program's wmain
// passes them in UTF-16), or as they are elsewhere.
#ifdef _WIN32
std::vector<std::string> ArgumentsOf(int argc, wchar_t** argv);
#else
std::vector<std::string> ArgumentsOf(int argc, char** argv);
#endif
// The processors this process may run on.
int ProcessorCount();
// True when standard error is a terminal or a console.
bool ErrorIsTerminal();
// Seconds from some fixed moment, steadily increasing.
double Seconds();

// A DOS time-and-date word; years outside 1980 to 2107 are clamped.
uint32_t DosTimeDate(int year, int month, int day, int hour, int minute, int second);

}  // namespace sfx

#endif
