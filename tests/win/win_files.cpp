#include "win_files.h"

#include <stdexcept>

std::wstring Wide(const std::string& utf8)
{
    std::wstring units(utf8.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &units[0], (int)units.size());
    units.resize(n > 0 ? n : 0);
    return units;
}

std::string Narrow(const std::wstring& units)
{
    std::string utf8(units.size() * 3 + 1, '\0');
    int n = WideCharToMultiByte(CP_UTF8, 0, units.data(), (int)units.size(), &utf8[0], (int)utf8.size(), 0, 0);
    utf8.resize(n > 0 ? n : 0);
    return utf8;
}

std::string Narrow(const wchar_t* units)
{
    return Narrow(std::wstring(units));
}

std::wstring Literal(const std::string& path)
{
    std::wstring units = Wide(path);
    return units.size() >= 3 && units[1] == L':' && units[2] == L'\\' ? L"\\\\?\\" + units : units;
}

std::string TempPath()
{
    wchar_t path[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, path);
    if (length == 0 || length > MAX_PATH)
        throw std::runtime_error("GetTempPathW failed");
    return Narrow(std::wstring(path, length));
}

namespace {

void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

ScratchFolder::ScratchFolder()
{
    static int serial = 0;
    path_ = TempPath() + "sfx-win-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++serial);
    RemoveTree(Literal(path_));
    if (!CreateDirectoryW(Literal(path_).c_str(), 0))
        throw std::runtime_error("cannot create " + path_);
}

ScratchFolder::~ScratchFolder()
{
    RemoveTree(Literal(path_));
}

void MakeFolders(const std::string& path)
{
    for (size_t at = path.find('\\', 3);; at = path.find('\\', at + 1)) {
        CreateDirectoryW(Literal(path.substr(0, at)).c_str(), 0);
        if (at == std::string::npos)
            break;
    }
    if (!IsFolder(path))
        throw std::runtime_error("cannot create " + path);
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(Literal(path).c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot create " + path);
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, 0);
    CloseHandle(file);
    if (!ok || written != bytes.size())
        throw std::runtime_error("cannot write " + path);
}

bool IsFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesW(Literal(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::string& path)
{
    DWORD attributes = GetFileAttributesW(Literal(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
