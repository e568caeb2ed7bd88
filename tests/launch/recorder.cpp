// sfx-recorder: the program that end-to-end tests have the extractor launch.
// It writes what it was started with into launched.txt beside itself:
//   line 1: its own path, in long form
//   line 2: the parameters (the command line without the program part)
//   line 3: its current folder
// and exits at once.
#include <windows.h>

#include <cstdio>
#include <cstring>

static const char* SkipProgramPart(const char* commandLine)
{
    const char* p = commandLine;
    if (*p == '"') {
        p = std::strchr(p + 1, '"');
        p = p != nullptr ? p + 1 : commandLine + std::strlen(commandLine);
    } else {
        while (*p != 0 && *p != ' ' && *p != '\t')
            p++;
    }
    while (*p == ' ' || *p == '\t')
        p++;
    return p;
}

int main()
{
    char self[MAX_PATH], longSelf[MAX_PATH], folder[MAX_PATH], record[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (GetLongPathNameA(self, longSelf, MAX_PATH) == 0)
        std::strcpy(longSelf, self);
    GetCurrentDirectoryA(MAX_PATH, folder);
    std::strcpy(record, longSelf);
    char* slash = std::strrchr(record, '\\');
    std::strcpy(slash != nullptr ? slash + 1 : record, "launched.txt");
    FILE* f = std::fopen(record, "wb");
    if (f == nullptr)
        return 1;
    std::fprintf(f, "%s\n%s\n%s\n", longSelf, SkipProgramPart(GetCommandLineA()), folder);
    std::fclose(f);
    return 0;
}
