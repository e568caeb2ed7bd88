#include "platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <thread>

#include "zip_format.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#endif

namespace sfx {

namespace {

#ifdef _WIN32
std::wstring Wide(const std::string& utf8)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
    std::wstring wide((size_t)n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], n);
    return wide;
}

std::string Utf8(const std::wstring& wide)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), nullptr, 0, nullptr, nullptr);
    std::string utf8((size_t)n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), &utf8[0], n, nullptr, nullptr);
    return utf8;
}
#endif

std::string SystemError()
{
    return std::strerror(errno);
}

int SeekTo(FILE* file, uint64_t offset)
{
#ifdef _WIN32
    return _fseeki64(file, (__int64)offset, SEEK_SET);
#else
    return fseeko(file, (off_t)offset, SEEK_SET);
#endif
}

// The temporary file that an interrupt must remove, and whether a progress
// line stands unfinished on the terminal, both under TerminalLock: the
// thread that takes an interrupt holds it from its message to the end, so
// that no progress line can follow the message.
std::mutex TerminalLock;
std::string PendingTemporary;
bool ProgressLineOpen = false;

#ifndef _WIN32
// Interrupts are blocked in every thread and taken here by sigwait, in an
// ordinary thread, which may lock and write as any other.
void WaitForInterrupt(sigset_t signals)
{
    int signal = SIGINT;
    sigwait(&signals, &signal);
    TerminalLock.lock();            // kept: the process ends below
    if (!PendingTemporary.empty())
        unlink(PendingTemporary.c_str());
    std::fputs(ProgressLineOpen ? "\nmksfx: interrupted\n" : "mksfx: interrupted\n", stderr);
    std::signal(signal, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    raise(signal);
}
#else
// A console's Ctrl+C, Ctrl+Break or closing calls this in a thread of its
// own. The temporary file cannot be removed from here while it is open, so
// the program stops at its next read or write, by the failure path, which
// ends the progress line, removes the file and says "mksfx: interrupted";
// this thread waits for that, since the process ends once it returns. With
// no temporary file there is nothing to remove, and the system ends the
// program at once.
std::atomic<bool> Interrupted{false};

BOOL WINAPI OnConsoleInterrupt(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    {
        std::lock_guard<std::mutex> held(TerminalLock);
        if (PendingTemporary.empty())
            return FALSE;
        Interrupted = true;
    }
    Sleep(INFINITE);
    return TRUE;
}
#endif

// Where a run interrupted on Windows stops (see OnConsoleInterrupt).
void StopIfInterrupted()
{
#ifdef _WIN32
    if (Interrupted)
        throw Failure("interrupted");
#endif
}

void SetPending(const std::string& path)
{
    std::lock_guard<std::mutex> held(TerminalLock);
    PendingTemporary = path;
}

// Called before any other thread starts, so that every thread inherits the
// blocked interrupts.
void GuardTemporary(const std::string& path)
{
    static bool installed = false;
    if (!installed) {
        installed = true;
#ifndef _WIN32
        sigset_t signals;
        sigemptyset(&signals);
        for (int s : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&signals, s);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        std::thread(WaitForInterrupt, signals).detach();
        // Over a file size limit, a write must fail like a full disk instead
        // of ending the program and leaving the temporary file behind.
        std::signal(SIGXFSZ, SIG_IGN);
#else
        SetConsoleCtrlHandler(OnConsoleInterrupt, TRUE);
#endif
    }
    SetPending(path);
}

}  // namespace

void WriteProgress(const std::string& text, bool open)
{
    std::lock_guard<std::mutex> held(TerminalLock);
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    ProgressLineOpen = open;
}

InputFile::InputFile(const std::string& path) : path_(path)
{
#ifdef _WIN32
    file_ = _wfopen(Wide(path).c_str(), L"rb");
#else
    file_ = std::fopen(path.c_str(), "rb");
#endif
    if (file_ == nullptr)
        throw Failure("cannot open " + path + ": " + SystemError());
#ifdef _WIN32
    int failed = _fseeki64(file_, 0, SEEK_END);
    int64_t end = failed ? -1 : _ftelli64(file_);
#else
    int failed = fseeko(file_, 0, SEEK_END);
    int64_t end = failed ? -1 : (int64_t)ftello(file_);
#endif
    if (end < 0 || SeekTo(file_, 0) != 0) {
        std::fclose(file_);
        throw Failure("cannot read " + path + ": " + SystemError());
    }
    size_ = (uint64_t)end;
}

InputFile::~InputFile()
{
    std::fclose(file_);
}

void InputFile::ReadAt(uint64_t offset, void* buffer, size_t count)
{
    StopIfInterrupted();
    if (offset > size_ || count > size_ - offset)
        throw Failure(path_ + " ends before offset " + std::to_string(offset + count));
    if (SeekTo(file_, offset) != 0 || std::fread(buffer, 1, count, file_) != count)
        throw Failure("cannot read " + path_ + ": " + SystemError());
}

size_t InputFile::ReadSome(void* buffer, size_t count)
{
    StopIfInterrupted();
    size_t got = std::fread(buffer, 1, count, file_);
    if (got < count && std::ferror(file_))
        throw Failure("cannot read " + path_ + ": " + SystemError());
    return got;
}

void InputFile::Rewind()
{
    if (SeekTo(file_, 0) != 0)
        throw Failure("cannot read " + path_ + ": " + SystemError());
    std::clearerr(file_);
}

OutputFile::OutputFile(const std::string& target) : target_(target)
{
    // A name of our own in the target's folder, so the rename stays on one
    // file system and two packers never share a temporary file.
    for (int attempt = 0; file_ == nullptr; attempt++) {
#ifdef _WIN32
        temporary_ = target + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt) + ".part";
        int fd = _wopen(Wide(temporary_).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
        FILE* file = fd < 0 ? nullptr : _fdopen(fd, "wb");
#else
        temporary_ = target + "." + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".part";
        int fd = open(temporary_.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0777);
        FILE* file = fd < 0 ? nullptr : fdopen(fd, "wb");
#endif
        if (fd < 0 && (errno != EEXIST || attempt >= 100))
            throw Failure("cannot write " + target_ + ": " + SystemError());
        if (fd >= 0 && file == nullptr) {
            std::string reason = SystemError();
#ifdef _WIN32
            _close(fd);
#else
            close(fd);
#endif
            Discard();
            throw Failure("cannot write " + target_ + ": " + reason);
        }
        if (file != nullptr) {
            file_ = file;
            GuardTemporary(temporary_);
        }
    }
}

OutputFile::~OutputFile()
{
    Discard();
}

void OutputFile::Discard()
{
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
#ifdef _WIN32
        _wremove(Wide(temporary_).c_str());
#else
        std::remove(temporary_.c_str());
#endif
        temporary_.clear();
    }
    SetPending("");
}

void OutputFile::WriteFailed()
{
    // The destructor removes the temporary file as the exception passes.
    throw Failure("cannot write " + target_ + ": " + SystemError());
}

void OutputFile::Write(const void* data, size_t count)
{
    StopIfInterrupted();
    if (count > 0 && std::fwrite(data, 1, count, file_) != count)
        WriteFailed();
    position_ += count;
}

void OutputFile::Seek(uint64_t position)
{
    if (SeekTo(file_, position) != 0)
        WriteFailed();
    position_ = position;
}

void OutputFile::Flush()
{
    if (std::fflush(file_) != 0)
        WriteFailed();
}

void OutputFile::Commit()
{
    Flush();
#ifdef _WIN32
    bool cut = _chsize_s(_fileno(file_), (__int64)position_) == 0;
#else
    bool cut = ftruncate(fileno(file_), (off_t)position_) == 0;
#endif
    if (!cut)
        WriteFailed();
    FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0)
        WriteFailed();
#ifdef _WIN32
    bool renamed = MoveFileExW(Wide(temporary_).c_str(), Wide(target_).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    std::string reason = "error " + std::to_string(GetLastError());
#else
    bool renamed = std::rename(temporary_.c_str(), target_.c_str()) == 0;
    std::string reason = SystemError();
#endif
    if (!renamed)
        throw Failure("cannot write " + target_ + ": " + reason);
    temporary_.clear();
    SetPending("");
}

uint32_t DosTimeDate(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1980)
        return (1 << 5 | 1) << 16;             // 1980-01-01 00:00:00
    if (year > 2107)
        return (uint32_t)(127 << 9 | 12 << 5 | 31) << 16 | (23 << 11 | 59 << 5 | 29);
    uint32_t date = (uint32_t)((year - 1980) << 9 | month << 5 | day);
    uint32_t time = (uint32_t)(hour << 11 | minute << 5 | second / 2);
    return date << 16 | time;
}

#ifdef _WIN32

namespace {

int64_t Ticks(FILETIME time)
{
    return (int64_t)((uint64_t)time.dwHighDateTime << 32 | time.dwLowDateTime);
}

// Whole seconds, odd ones rounded up, as ZIP tools commonly do.
uint32_t DosTimeOf(FILETIME written)
{
    const uint64_t ticksPerSecond = 10000000;
    uint64_t ticks = (uint64_t)written.dwHighDateTime << 32 | written.dwLowDateTime;
    uint64_t seconds = (ticks / ticksPerSecond + 1) & ~(uint64_t)1;
    ticks = seconds * ticksPerSecond;
    FILETIME utc = {(DWORD)ticks, (DWORD)(ticks >> 32)}, local;
    SYSTEMTIME t;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &t))
        return DosTimeDate(1980, 1, 1, 0, 0, 0);
    return DosTimeDate(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

// A handle to what a path leads to, links followed, file or folder, that
// serves only to ask about it.
HANDLE OpenToInspect(const std::string& path)
{
    return CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

bool Describe(const std::string& path, FolderItem& item)
{
    HANDLE file = OpenToInspect(path);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!known)
        return false;
    item.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::Folder : Kind::File;
    item.size = (uint64_t)info.nFileSizeHigh << 32 | info.nFileSizeLow;
    item.timeDate = DosTimeOf(info.ftLastWriteTime);
    item.modified = Ticks(info.ftLastWriteTime);
    item.identity = std::to_string(info.dwVolumeSerialNumber) + ":"
                    + std::to_string((uint64_t)info.nFileIndexHigh << 32 | info.nFileIndexLow);
    return true;
}

// A symbolic link or a junction. Other reparse points are files that merely
// live elsewhere (in the cloud, deduplicated), and are packed as files.
static bool IsLink(const std::string& path)
{
    DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide(path).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return found.dwReserved0 == IO_REPARSE_TAG_SYMLINK || found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT;
}

static std::string NameOf(const std::filesystem::path& path)
{
    return Utf8(path.native());
}

static std::filesystem::path FileSystemPath(const std::string& path)
{
    return std::filesystem::path(Wide(path));
}

const char Separator = '\\';

std::vector<std::string> ArgumentsOf(int argc, wchar_t** argv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; i++)
        arguments.push_back(Utf8(argv[i]));
    return arguments;
}

int ProcessorCount()
{
    DWORD_PTR process, system;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
        int count = 0;
        for (; process != 0; process &= process - 1)
            count++;
        return count;
    }
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return std::max<int>(1, (int)info.dwNumberOfProcessors);
}

bool ErrorIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

double Seconds()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

void InputFile::Status(uint64_t& size, int64_t& modified) const
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle((HANDLE)_get_osfhandle(_fileno(file_)), &info))
        throw Failure("cannot read " + path_ + ": error " + std::to_string(GetLastError()));
    size = (uint64_t)info.nFileSizeHigh << 32 | info.nFileSizeLow;
    modified = Ticks(info.ftLastWriteTime);
}

bool WriteProtected(const std::string& path)
{
    DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)
           && (attributes & FILE_ATTRIBUTE_READONLY);
}

std::string FinalPath(const std::string& path)
{
    HANDLE file = OpenToInspect(path);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::wstring final(32768, L'\0');
    DWORD n = GetFinalPathNameByHandleW(file, &final[0], (DWORD)final.size(), FILE_NAME_NORMALIZED);
    CloseHandle(file);
    return n == 0 || n >= final.size() ? "" : Utf8(final.substr(0, n));
}

bool PathInside(const std::string& path, const std::string& folder)
{
    // Windows compares names without regard to case.
    std::wstring p = Wide(path), f = Wide(folder);
    while (!f.empty() && f.back() == L'\\')
        f.pop_back();
    if (f.empty() || p.size() < f.size()
        || CompareStringOrdinal(p.c_str(), (int)f.size(), f.c_str(), (int)f.size(), TRUE) != CSTR_EQUAL)
        return false;
    return p.size() == f.size() || p[f.size()] == L'\\';
}

std::string ProgramFolder(const char*)
{
    std::wstring path(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, &path[0], (DWORD)path.size());
    if (n == 0 || n >= path.size())
        return "";
    std::string text = Utf8(path.substr(0, n));
    size_t slash = text.find_last_of("\\/");
    return slash == std::string::npos ? "" : text.substr(0, slash);
}

#else

namespace {

uint32_t DosTimeOf(time_t written)
{
    time_t even = (time_t)((written + 1) & ~(time_t)1);
    struct tm t;
    if (localtime_r(&even, &t) == nullptr)
        return DosTimeDate(1980, 1, 1, 0, 0, 0);
    return DosTimeDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

Kind KindOfMode(mode_t mode)
{
    if (S_ISREG(mode))
        return Kind::File;
    return S_ISDIR(mode) ? Kind::Folder : Kind::Other;
}

}  // namespace

std::vector<std::string> ArgumentsOf(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

int ProcessorCount()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? (int)n : 1;
}

bool ErrorIsTerminal()
{
    return isatty(STDERR_FILENO) != 0;
}

double Seconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static int64_t Nanoseconds(const struct timespec& time)
{
    return (int64_t)time.tv_sec * 1000000000 + time.tv_nsec;
}

void InputFile::Status(uint64_t& size, int64_t& modified) const
{
    struct stat s;
    if (fstat(fileno(file_), &s) != 0)
        throw Failure("cannot read " + path_ + ": " + SystemError());
    size = (uint64_t)s.st_size;
    modified = Nanoseconds(s.st_mtim);
}

bool Describe(const std::string& path, FolderItem& item)
{
    struct stat s;
    if (stat(path.c_str(), &s) != 0)
        return false;
    item.kind = KindOfMode(s.st_mode);
    item.size = (uint64_t)s.st_size;
    item.timeDate = DosTimeOf(s.st_mtime);
    item.modified = Nanoseconds(s.st_mtim);
    item.identity = std::to_string((unsigned long long)s.st_dev) + ":" + std::to_string((unsigned long long)s.st_ino);
    return true;
}

static bool IsLink(const std::string& path)
{
    struct stat s;
    return lstat(path.c_str(), &s) == 0 && S_ISLNK(s.st_mode);
}

static std::string NameOf(const std::filesystem::path& path)
{
    return path.native();
}

static std::filesystem::path FileSystemPath(const std::string& path)
{
    return std::filesystem::path(path);
}

const char Separator = '/';

bool WriteProtected(const std::string& path)
{
    struct stat s;
    return stat(path.c_str(), &s) == 0 && S_ISREG(s.st_mode) && (s.st_mode & 0222) == 0;
}

std::string FinalPath(const std::string& path)
{
    char* final = realpath(path.c_str(), nullptr);
    std::string text = final != nullptr ? final : "";
    std::free(final);
    return text;
}

bool PathInside(const std::string& path, const std::string& folder)
{
    if (folder.empty() || path.compare(0, folder.size(), folder) != 0)
        return false;
    return path.size() == folder.size() || folder.back() == '/' || path[folder.size()] == '/';
}

std::string ProgramFolder(const char* argv0)
{
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string text = n > 0 ? std::string(path, (size_t)n) : std::string(argv0 ? argv0 : "");
    size_t slash = text.find_last_of('/');
    return slash == std::string::npos ? "" : text.substr(0, slash);
}

#endif

Kind KindOf(const std::string& path)
{
    FolderItem item;
    return Describe(path, item) ? item.kind : Kind::Missing;
}

std::string IdentityOf(const std::string& path)
{
    FolderItem item;
    return Describe(path, item) ? item.identity : "";
}

std::vector<FolderItem> ListFolder(const std::string& path)
{
    std::error_code error;
    std::filesystem::directory_iterator entry(FileSystemPath(path), error), end;
    std::vector<FolderItem> items;
    for (; !error && entry != end; entry.increment(error)) {
        FolderItem item;
        item.name = NameOf(entry->path().filename());
        std::string full = path + Separator + item.name;
        item.link = IsLink(full);
        if (!Describe(full, item)) {
            // A link that leads nowhere; or a name that cannot be opened on
            // Windows (a device name such as aux.txt), which the checks of
            // names then refuse with the reason.
            std::error_code unknown;
            item.kind = item.link ? Kind::Missing : entry->is_directory(unknown) ? Kind::Folder : Kind::File;
        }
        items.push_back(item);
    }
    if (error)
        throw Failure("cannot read the folder " + path + ": " + error.message());
    std::sort(items.begin(), items.end(), [](const FolderItem& a, const FolderItem& b) { return a.name < b.name; });
    return items;
}

}  // namespace sfx
