// sfx-recorder: the program that end-to-end tests have the extractor launch.
// It writes what it was started with into launched.txt beside itself, in
// UTF-8, so that names in any script arrive as they are:
//   line 1: its own path, in long form
//   line 2: the parameters (the command line without the program part)
//   line 3: its current folder
// and exits at once.
#include <windows.h>

#include <cwchar>
#include <string>

static const wchar_t* SkipProgramPart(const wchar_t* commandLine)
{
    const wchar_t* p = commandLine;
    if (*p == L'"') {
        p = std::wcschr(p + 1, L'"');
        p = p != nullptr ? p + 1 : commandLine + std::wcslen(commandLine);
    } else {
        while (*p != 0 && *p != L' ' && *p != L'\t')
            p++;
    }
    while (*p == L' ' || *p == L'\t')
        p++;
    return p;
}

static std::string Utf8(const wchar_t* text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    return out;
}

int main()
{
    const DWORD size = 32768;
    static wchar_t self[size], longSelf[size], folder[size];
    GetModuleFileNameW(nullptr, self, size);
    if (GetLongPathNameW(self, longSelf, size) == 0)
        std::wcscpy(longSelf, self);
    GetCurrentDirectoryW(size, folder);
    std::wstring record = longSelf;
    size_t slash = record.rfind(L'\\');
    record = record.substr(0, slash == std::wstring::npos ? 0 : slash + 1) + L"launched.txt";
    HANDLE f = CreateFileW(record.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return 1;
    std::string text = Utf8(longSelf) + "\n" + Utf8(SkipProgramPart(GetCommandLineW())) + "\n" + Utf8(folder) + "\n";
    DWORD written = 0;
    WriteFile(f, text.data(), (DWORD)text.size(), &written, nullptr);
    CloseHandle(f);
    return 0;
}
