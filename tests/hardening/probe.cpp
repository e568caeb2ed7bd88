// sfx-plant-probe.exe: a program with the stub's static imports (kernel32,
// user32, gdi32, shell32) that does nothing and exits. Whatever planted DLL
// it loads is loaded by the system's own DLLs before any program's code runs,
// which no program can prevent.
#include <windows.h>
#include <shellapi.h>

// Referenced through volatile pointers so that each import stays in place.
static void* volatile Imports[] = {
    (void*)&GetSysColor, (void*)&GetStockObject, (void*)&ShellExecuteA,
};

extern "C" void ProbeEntry()
{
    ExitProcess(Imports[0] != 0 ? 0 : 1);
}
