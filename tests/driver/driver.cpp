// sfx-driver: lets end-to-end tests see and press the real dialogs of
// programs running in the same Wine prefix.
//
// A test starts one driver and talks to it over stdin/stdout: one command per
// line, exactly one reply line per command, in order. A reply is
//     ok <JSON value>
//     error <text>
// Texts travel as Unicode: the driver reads and writes them through the
// system's wide calls. Replies are plain ASCII; every UTF-16 unit beyond
// ASCII (and every control character) is written as \uXXXX, so a JSON
// decoder gives the text itself.
//
// Arguments are UTF-8, separated by blanks. An argument that contains
// blanks, quotes or is empty is written in double quotes, with the escapes
// \\ \" \n \r \t and \xHH (one byte of the UTF-8). Numbers are decimal or
// 0x-hex.
//   WINDOW   a window handle
//   CONTROL  WINDOW/ID (the child with that control id, as GetDlgItem finds
//            it) or a WINDOW handle itself
//   PID      a Windows process id; * for any process
//   MS       a timeout in milliseconds
//
// Commands and their reply values:
//   screen                         {"width":W,"height":H} of the primary screen
//   temp-path                      GetTempPathW, e.g. "C:\\users\\root\\Temp\\"
//   start EXE [CWD [NAME=VALUE...]]
//                                  {"pid":P}; starts EXE (no arguments) in CWD,
//                                  default the driver's current folder, with
//                                  the driver's environment and these
//                                  variables set
//   start-with EXE CWD TAIL [NAME=VALUE...]
//                                  the same, with TAIL behind the quoted EXE on
//                                  its command line, as the program gets it
//   wait-exit PID MS               the exit code of a process started here, or
//                                  "error timeout"
//   kill PID                       null; ends a process started here (code 255)
//   windows PID                    [{"hwnd","pid","class","caption"}...], the
//                                  visible top-level windows
//   wait-window PID CLASS CAPTION MS
//                                  WINDOW: the first visible top-level window
//                                  with exactly this caption (CLASS * for any
//                                  class, e.g. #32770 for dialogs), or
//                                  "error timeout". Dialogs become visible only
//                                  after their WM_INITDIALOG has run.
//   wait-gone WINDOW MS            null once the window is destroyed or hidden
//   children WINDOW                [{"hwnd","id","class","text","style",
//                                  "visible","enabled","checked"}...], the
//                                  direct children in creation order; checked is
//                                  BM_GETCHECK for buttons and null otherwise
//   text CONTROL                   its text (WM_GETTEXT); a window's caption
//   rect CONTROL                   {"left","top","right","bottom"} on the screen
//   checked CONTROL                BM_GETCHECK: 0, 1 or 2
//   check CONTROL STATE            null; BM_SETCHECK (the parent is not told)
//   set-text CONTROL TEXT          null; WM_SETTEXT
//   items CONTROL [FIRST COUNT]    [{"text","selected"}...] of a list box, or of COUNT
//                                  items from FIRST
//   list-counts CONTROL            {"items","selected"} of a list box
//   ping WINDOW MS                 the milliseconds that the window took to
//                                  answer a WM_NULL sent to it, or "error
//                                  timeout" after MS
//   select CONTROL INDEX STATE     null; LB_SETSEL (multiple-selection list,
//                                  INDEX -1 for all) or LB_SETCURSEL (single:
//                                  STATE 0 clears the selection); no notification
// The following only post and reply at once; their effect happens when the
// target's message loop gets to them, in the order they were posted, and may
// open modal dialogs. Wait for the effect (a window, a state) afterwards.
//   click CONTROL                  null; posts BM_CLICK
//   command WINDOW ID [CODE]       null; posts WM_COMMAND (ID, CODE) with the
//                                  control's handle, as the control would
//   type CONTROL TEXT              null; posts WM_CHAR for every UTF-16 unit
//   key CONTROL KEY                null; posts WM_KEYDOWN and WM_KEYUP. KEY is a
//                                  virtual-key number or one of return escape
//                                  tab space up down left right home end
//                                  delete back
//   close WINDOW                   null; posts WM_CLOSE
// Files:
//   lock PATH [ACCESS SHARE]       L; opens an existing file and holds it open.
//                                  ACCESS and SHARE are letters of r(ead)
//                                  w(rite) d(elete), or - for none; default
//                                  "r -": reading, no sharing. A running
//                                  program's own file cannot be held that way
//                                  (its image is mapped), but "d rwd" taken
//                                  before it starts lets it start and makes
//                                  every later open that does not share
//                                  deletion fail.
//   unlock L                       null; closes that handle
//   short-path PATH                the path as GetShortPathNameW gives it
//   remove-plain FOLDER            [names]; deletes the folder's files and the
//                                  folder with plain DeleteFileW and
//                                  RemoveDirectoryW calls, as Explorer would
//   version-info PATH              {"file","product","translation","texts"}:
//                                  the version numbers, the first translation
//                                  (8 hex digits) and the texts of its string
//                                  table, as the system's version functions
//                                  read them (what Properties -> Details
//                                  shows); "error none" without them
//   file-icon PATH                 {"width","height","pixels"} of the file's
//                                  large icon as Explorer takes it
//                                  (ExtractIconEx): pixels as RRGGBB hex,
//                                  row by row from the top
//   quit                           null, then the driver ends (so does end of
//                                  input)
//
// Queries use SendMessageTimeout: a target that does not answer within a few
// seconds gives "error not responding" instead of hanging the driver.
#include <windows.h>
#include <shellapi.h>
#include <wchar.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const UINT QueryTimeoutMs = 5000;
const DWORD PollMs = 20;

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ---- replies -------------------------------------------------------------

std::string JsonWide(const wchar_t* text, size_t length)
{
    std::string out = "\"";
    for (size_t i = 0; i < length; i++) {
        char escape[8];
        snprintf(escape, sizeof escape, "\\u%04x", (unsigned)text[i]);
        out += escape;
    }
    return out + "\"";
}

std::wstring Wide(const std::string& utf8)
{
    std::wstring wide(utf8.size() + 1, L'\0');
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], (int)wide.size());
    wide.resize(length > 0 ? length : 0);
    return wide;
}

std::string Utf8(const wchar_t* units, size_t count)
{
    std::string utf8(count * 3 + 1, '\0');
    int length = WideCharToMultiByte(CP_UTF8, 0, units, (int)count, &utf8[0], (int)utf8.size(), 0, 0);
    utf8.resize(length > 0 ? length : 0);
    return utf8;
}

std::string JsonText(const std::string& utf8)
{
    std::wstring units = Wide(utf8);
    std::string out = "\"";
    for (wchar_t c : units) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20 || c >= 0x7F) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", (unsigned)c);
            out += escape;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

std::string JsonNumber(long long value)
{
    return std::to_string(value);
}

std::string JsonBool(bool value)
{
    return value ? "true" : "false";
}

// Builds {"a":1,...} in the order the fields are added.
class JsonObject {
public:
    JsonObject& Add(const char* name, const std::string& json)
    {
        body_ += body_.empty() ? "{" : ",";
        body_ += JsonText(name) + ":" + json;
        return *this;
    }
    std::string Done() const { return body_.empty() ? "{}" : body_ + "}"; }

private:
    std::string body_;
};

std::string JsonArray(const std::vector<std::string>& items)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); i++)
        out += (i ? "," : "") + items[i];
    return out + "]";
}

// ---- arguments -----------------------------------------------------------

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<std::string> SplitArguments(const std::string& line)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (true) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            i++;
        if (i >= line.size())
            break;
        std::string word;
        if (line[i] != '"') {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                word += line[i++];
            words.push_back(word);
            continue;
        }
        i++;
        while (true) {
            if (i >= line.size())
                throw Failure("unterminated quoted argument");
            char c = line[i++];
            if (c == '"')
                break;
            if (c != '\\') {
                word += c;
                continue;
            }
            if (i >= line.size())
                throw Failure("unterminated quoted argument");
            c = line[i++];
            switch (c) {
            case 'n': word += '\n'; break;
            case 'r': word += '\r'; break;
            case 't': word += '\t'; break;
            case 'x': {
                int high = i < line.size() ? HexDigit(line[i]) : -1;
                int low = i + 1 < line.size() ? HexDigit(line[i + 1]) : -1;
                if (high < 0 || low < 0)
                    throw Failure("\\x needs two hex digits");
                word += (char)(high * 16 + low);
                i += 2;
                break;
            }
            default: word += c; break;
            }
        }
        words.push_back(word);
    }
    return words;
}

long long ParseNumber(const std::string& text)
{
    if (text.empty())
        throw Failure("missing number");
    char* end = 0;
    long long value = strtoll(text.c_str(), &end, 0);
    if (*end != 0)
        throw Failure("not a number: " + text);
    return value;
}

HWND ParseWindow(const std::string& text)
{
    HWND window = (HWND)(INT_PTR)ParseNumber(text);
    if (!IsWindow(window))
        throw Failure("no such window: " + text);
    return window;
}

// WINDOW/ID or WINDOW.
HWND ParseControl(const std::string& text)
{
    size_t slash = text.find('/');
    if (slash == std::string::npos)
        return ParseWindow(text);
    HWND parent = ParseWindow(text.substr(0, slash));
    int id = (int)ParseNumber(text.substr(slash + 1));
    HWND control = GetDlgItem(parent, id);
    if (control == 0)
        throw Failure("no control " + std::to_string(id) + " in " + text.substr(0, slash));
    return control;
}

DWORD ParseProcess(const std::string& text)
{
    return text == "*" ? 0 : (DWORD)ParseNumber(text);
}

class Arguments {
public:
    Arguments(const std::vector<std::string>& words, size_t least, size_t most)
        : words_(words)
    {
        size_t given = words.size() - 1;
        if (given < least || given > most)
            throw Failure(words[0] + ": wrong number of arguments");
    }
    size_t Count() const { return words_.size() - 1; }
    const std::string& operator[](size_t i) const { return words_[i + 1]; }

private:
    const std::vector<std::string>& words_;
};

// ---- windows -------------------------------------------------------------

LRESULT Query(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, QueryTimeoutMs,
                             &result))
        throw Failure("not responding");
    return (LRESULT)result;
}

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!PostMessageW(window, message, wParam, lParam))
        throw Failure("cannot post to the window");
}

std::string ClassOf(HWND window)
{
    wchar_t name[256];
    int length = GetClassNameW(window, name, 256);
    return Utf8(name, length > 0 ? length : 0);
}

// Top-level captions come from Wine's server copy without a message, so they
// can be read while the owner is busy.
std::string CaptionOf(HWND window)
{
    std::vector<wchar_t> text(GetWindowTextLengthW(window) + 2);
    int length = GetWindowTextW(window, text.data(), (int)text.size());
    return Utf8(text.data(), length > 0 ? length : 0);
}

// A control's text lives in the control (an edit box keeps its own buffer),
// so it is asked for.
std::string TextOf(HWND window)
{
    // The text may grow between the two questions (a footer line that the
    // program rewrites): asked again with more room until it fits.
    LRESULT length = Query(window, WM_GETTEXTLENGTH, 0, 0);
    for (size_t size = (size_t)length + 64;; size *= 2) {
        std::vector<wchar_t> text(size);
        LRESULT copied = Query(window, WM_GETTEXT, text.size(), (LPARAM)text.data());
        if (copied < 0 || (size_t)copied + 1 < size)
            return Utf8(text.data(), copied > 0 ? copied : 0);
    }
}

std::string ItemText(HWND list, LRESULT index)
{
    LRESULT length = Query(list, LB_GETTEXTLEN, index, 0);
    std::vector<wchar_t> wide((length > 0 ? length : 0) + 2);
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(list, LB_GETTEXT, index, (LPARAM)wide.data(), SMTO_ABORTIFHUNG,
                             QueryTimeoutMs, &copied))
        throw Failure("not responding");
    return (LRESULT)copied > 0 ? Utf8(wide.data(), copied) : std::string();
}

DWORD ProcessOf(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

std::vector<HWND> TopLevelWindows()
{
    std::vector<HWND> all;
    EnumWindows([](HWND window, LPARAM list) -> BOOL {
        ((std::vector<HWND>*)list)->push_back(window);
        return TRUE;
    }, (LPARAM)&all);
    return all;
}

bool IsButton(HWND window)
{
    return lstrcmpiA(ClassOf(window).c_str(), "Button") == 0;
}

std::string DescribeControl(HWND control)
{
    return JsonObject()
        .Add("hwnd", JsonNumber((INT_PTR)control))
        .Add("id", JsonNumber(GetDlgCtrlID(control)))
        .Add("class", JsonText(ClassOf(control)))
        .Add("text", JsonText(TextOf(control)))
        .Add("style", JsonNumber((DWORD)GetWindowLongA(control, GWL_STYLE)))
        .Add("visible", JsonBool(IsWindowVisible(control)))
        .Add("enabled", JsonBool(IsWindowEnabled(control)))
        .Add("checked", IsButton(control) ? JsonNumber(Query(control, BM_GETCHECK, 0, 0)) : "null")
        .Done();
}

std::string DescribeRect(const RECT& r)
{
    return JsonObject()
        .Add("left", JsonNumber(r.left))
        .Add("top", JsonNumber(r.top))
        .Add("right", JsonNumber(r.right))
        .Add("bottom", JsonNumber(r.bottom))
        .Done();
}

UINT ParseKey(const std::string& name)
{
    static const std::map<std::string, UINT> keys = {
        {"return", VK_RETURN}, {"escape", VK_ESCAPE}, {"tab", VK_TAB},
        {"space", VK_SPACE}, {"up", VK_UP}, {"down", VK_DOWN},
        {"left", VK_LEFT}, {"right", VK_RIGHT}, {"home", VK_HOME},
        {"end", VK_END}, {"delete", VK_DELETE}, {"back", VK_BACK},
    };
    auto known = keys.find(name);
    return known != keys.end() ? known->second : (UINT)ParseNumber(name);
}

// ---- processes and files ---------------------------------------------------

std::map<DWORD, HANDLE> Started;     // pid -> process handle
std::map<long long, HANDLE> Locks;   // lock id -> file handle
long long NextLock = 1;

HANDLE StartedProcess(DWORD pid)
{
    auto known = Started.find(pid);
    if (known == Started.end())
        throw Failure("process " + std::to_string(pid) + " was not started by this driver");
    return known->second;
}

// "rwd" letters: read, write, delete; "-" for none.
DWORD ParseAccess(const std::string& letters, DWORD read, DWORD write, DWORD remove)
{
    DWORD mask = 0;
    for (char c : letters) {
        if (c == 'r') mask |= read;
        else if (c == 'w') mask |= write;
        else if (c == 'd') mask |= remove;
        else if (c != '-') throw Failure("access and sharing are letters of rwd, or -");
    }
    return mask;
}

long long LockFile(const std::string& path, const std::string& access, const std::string& share)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), ParseAccess(access, GENERIC_READ, GENERIC_WRITE, DELETE),
                              ParseAccess(share, FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_DELETE),
                              0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        throw Failure("cannot open " + path + " (error " + std::to_string(GetLastError()) + ")");
    Locks[NextLock] = file;
    return NextLock++;
}

// A list box's number of items.
LRESULT ListCount(HWND list)
{
    LRESULT count = Query(list, LB_GETCOUNT, 0, 0);
    if (count < 0)
        throw Failure("not a list box");
    return count;
}

// a[0] the program, a[1] its folder, a[firstVariable...] NAME=VALUE; tail
// follows the program's quoted name on its command line.
PROCESS_INFORMATION CreateChild(const std::string& exe, const Arguments& a, DWORD flags, size_t firstVariable = 2,
                                const std::string& tail = "")
{
    std::wstring program = Wide(exe), commandLine = L"\"" + program + L"\"";
    if (!tail.empty())
        commandLine += L" " + Wide(tail);
    std::wstring folderText = a.Count() > 1 ? Wide(a[1]) : std::wstring();
    const wchar_t* folder = a.Count() > 1 ? folderText.c_str() : 0;
    // The environment block: the driver's own, the given variables
    // replacing theirs.
    std::vector<std::wstring> variables;
    for (size_t i = firstVariable; i < a.Count(); i++)
        variables.push_back(Wide(a[i]));
    std::wstring block;
    wchar_t* own = GetEnvironmentStringsW();
    for (const wchar_t* v = own; *v != 0; v += wcslen(v) + 1) {
        const wchar_t* equals = wcschr(v + 1, L'=');
        size_t nameLength = equals ? (size_t)(equals - v) : wcslen(v);
        bool replaced = false;
        for (const std::wstring& given : variables)
            replaced = replaced || (given.size() > nameLength && given[nameLength] == L'=' &&
                                    _wcsnicmp(given.c_str(), v, nameLength) == 0);
        if (!replaced)
            block += std::wstring(v) + L'\0';
    }
    FreeEnvironmentStringsW(own);
    for (const std::wstring& given : variables)
        block += given + L'\0';
    block += L'\0';
    void* environment = variables.empty() ? 0 : (void*)block.data();
    flags |= CREATE_UNICODE_ENVIRONMENT;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessW(program.c_str(), &commandLine[0], 0, 0, FALSE, flags, environment, folder,
                                  &startup, &process);
    if (!started && GetLastError() == ERROR_INTERNAL_ERROR) {
        // Wine's answer when the new process died before its loader reported
        // to the server: before the program's first instruction. It comes
        // about once in some thousands of starts on a busy machine, with
        // nothing in the log; the program never ran, so it is started anew.
        fprintf(stderr, "sfx-driver: Wine lost the start of %s (error 1359); starting it again\n", exe.c_str());
        started = CreateProcessW(program.c_str(), &commandLine[0], 0, 0, FALSE, flags, environment, folder,
                                 &startup, &process);
    }
    if (!started)
        throw Failure("cannot start " + exe + " (error " + std::to_string(GetLastError()) + ")");
    CloseHandle(process.hThread);
    Started[process.dwProcessId] = process.hProcess;
    return process;
}

std::string VersionInfo(const std::string& path)
{
    std::wstring file = Wide(path);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0)
        throw Failure("none");
    std::vector<char> block(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data()))
        throw Failure("GetFileVersionInfoW failed");
    VS_FIXEDFILEINFO* fixed = 0;
    DWORD* translation = 0;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", (void**)&fixed, &length) || length < sizeof *fixed ||
        !VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", (void**)&translation, &length) || length < 4)
        throw Failure("no version numbers or no translation");
    auto numbers = [](DWORD high, DWORD low) {
        return JsonText(std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) + "." +
                        std::to_string(low >> 16) + "." + std::to_string(low & 0xFFFF));
    };
    wchar_t table[16];
    swprintf(table, 16, L"%04x%04x", (unsigned)(*translation & 0xFFFF), (unsigned)(*translation >> 16));
    JsonObject texts;
    for (const char* name : {"CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
                             "OriginalFilename", "ProductName", "ProductVersion"}) {
        std::wstring query = L"\\StringFileInfo\\" + std::wstring(table) + L"\\" + Wide(name);
        wchar_t* text = 0;
        if (VerQueryValueW(block.data(), query.c_str(), (void**)&text, &length) && text)
            texts.Add(name, JsonWide(text, wcsnlen(text, length)));
    }
    char key[16];
    snprintf(key, sizeof key, "%04X%04X", (unsigned)(*translation & 0xFFFF), (unsigned)(*translation >> 16));
    return JsonObject()
        .Add("file", numbers(fixed->dwFileVersionMS, fixed->dwFileVersionLS))
        .Add("product", numbers(fixed->dwProductVersionMS, fixed->dwProductVersionLS))
        .Add("translation", JsonText(key))
        .Add("texts", texts.Done())
        .Done();
}

std::string FileIcon(const std::string& path)
{
    HICON icon = 0;
    if (ExtractIconExW(Wide(path).c_str(), 0, &icon, 0, 1) == 0 || icon == 0)
        throw Failure("no icon");
    ICONINFO info;
    BITMAP bitmap;
    if (!GetIconInfo(icon, &info) || !GetObjectW(info.hbmColor, sizeof bitmap, &bitmap)) {
        DestroyIcon(icon);
        throw Failure("cannot read the icon");
    }
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = bitmap.bmWidth;
    format.bmiHeader.biHeight = -bitmap.bmHeight;  // top-down
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    std::vector<DWORD> pixels((size_t)bitmap.bmWidth * bitmap.bmHeight);
    HDC screen = GetDC(0);
    int rows = GetDIBits(screen, info.hbmColor, 0, bitmap.bmHeight, pixels.data(), &format, DIB_RGB_COLORS);
    ReleaseDC(0, screen);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
    if (rows != bitmap.bmHeight)
        throw Failure("cannot read the icon's pixels");
    std::string hex;
    for (DWORD p : pixels) {
        char text[8];
        snprintf(text, sizeof text, "%06lx", (unsigned long)(p & 0xFFFFFF));
        hex += text;
    }
    return JsonObject()
        .Add("width", JsonNumber(bitmap.bmWidth))
        .Add("height", JsonNumber(bitmap.bmHeight))
        .Add("pixels", JsonText(hex))
        .Done();
}

// ---- commands --------------------------------------------------------------

std::string Run(const std::vector<std::string>& words)
{
    const std::string& name = words[0];

    if (name == "screen") {
        Arguments a(words, 0, 0);
        return JsonObject()
            .Add("width", JsonNumber(GetSystemMetrics(SM_CXSCREEN)))
            .Add("height", JsonNumber(GetSystemMetrics(SM_CYSCREEN)))
            .Done();
    }
    if (name == "temp-path") {
        Arguments a(words, 0, 0);
        wchar_t path[MAX_PATH + 1];
        DWORD length = GetTempPathW(MAX_PATH + 1, path);
        if (length == 0 || length > MAX_PATH)
            throw Failure("GetTempPathW failed");
        return JsonText(Utf8(path, length));
    }
    if (name == "start") {
        Arguments a(words, 1, 16);
        PROCESS_INFORMATION process = CreateChild(a[0], a, 0);
        return JsonObject().Add("pid", JsonNumber(process.dwProcessId)).Done();
    }
    if (name == "start-with") {
        Arguments a(words, 3, 16);
        PROCESS_INFORMATION process = CreateChild(a[0], a, 0, 3, a[2]);
        return JsonObject().Add("pid", JsonNumber(process.dwProcessId)).Done();
    }
    if (name == "wait-exit") {
        Arguments a(words, 2, 2);
        HANDLE process = StartedProcess(ParseProcess(a[0]));
        if (WaitForSingleObject(process, (DWORD)ParseNumber(a[1])) != WAIT_OBJECT_0)
            throw Failure("timeout");
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        return JsonNumber(code);
    }
    if (name == "kill") {
        Arguments a(words, 1, 1);
        TerminateProcess(StartedProcess(ParseProcess(a[0])), 255);
        return "null";
    }
    if (name == "windows") {
        Arguments a(words, 1, 1);
        DWORD pid = ParseProcess(a[0]);
        std::vector<std::string> found;
        for (HWND window : TopLevelWindows()) {
            if (!IsWindowVisible(window) || (pid != 0 && ProcessOf(window) != pid))
                continue;
            found.push_back(JsonObject()
                                .Add("hwnd", JsonNumber((INT_PTR)window))
                                .Add("pid", JsonNumber(ProcessOf(window)))
                                .Add("class", JsonText(ClassOf(window)))
                                .Add("caption", JsonText(CaptionOf(window)))
                                .Done());
        }
        return JsonArray(found);
    }
    if (name == "wait-window") {
        Arguments a(words, 4, 4);
        DWORD pid = ParseProcess(a[0]);
        const std::string& className = a[1];
        const std::string& caption = a[2];
        DWORD timeout = (DWORD)ParseNumber(a[3]);
        DWORD start = GetTickCount();
        while (true) {
            for (HWND window : TopLevelWindows()) {
                if (IsWindowVisible(window) && (pid == 0 || ProcessOf(window) == pid) &&
                    (className == "*" || ClassOf(window) == className) &&
                    CaptionOf(window) == caption)
                    return JsonNumber((INT_PTR)window);
            }
            if (GetTickCount() - start >= timeout)
                throw Failure("timeout");
            Sleep(PollMs);
        }
    }
    if (name == "wait-gone") {
        Arguments a(words, 2, 2);
        HWND window = (HWND)(INT_PTR)ParseNumber(a[0]);
        DWORD timeout = (DWORD)ParseNumber(a[1]);
        DWORD start = GetTickCount();
        while (IsWindow(window) && IsWindowVisible(window)) {
            if (GetTickCount() - start >= timeout)
                throw Failure("timeout");
            Sleep(PollMs);
        }
        return "null";
    }
    if (name == "children") {
        Arguments a(words, 1, 1);
        HWND parent = ParseWindow(a[0]);
        std::vector<std::string> found;
        for (HWND child = GetWindow(parent, GW_CHILD); child != 0;
             child = GetWindow(child, GW_HWNDNEXT))
            found.push_back(DescribeControl(child));
        return JsonArray(found);
    }
    if (name == "text") {
        Arguments a(words, 1, 1);
        HWND control = ParseControl(a[0]);
        bool child = (GetWindowLongA(control, GWL_STYLE) & WS_CHILD) != 0;
        return JsonText(child ? TextOf(control) : CaptionOf(control));
    }
    if (name == "ping") {
        Arguments a(words, 2, 2);
        DWORD_PTR result = 0;
        ULONGLONG start = GetTickCount64();
        if (!SendMessageTimeoutA(ParseWindow(a[0]), WM_NULL, 0, 0, SMTO_NORMAL, (UINT)ParseNumber(a[1]), &result))
            throw Failure("timeout");
        return JsonNumber((long long)(GetTickCount64() - start));
    }
    if (name == "rect") {
        Arguments a(words, 1, 1);
        RECT bounds;
        GetWindowRect(ParseControl(a[0]), &bounds);
        return DescribeRect(bounds);
    }
    if (name == "checked") {
        Arguments a(words, 1, 1);
        return JsonNumber(Query(ParseControl(a[0]), BM_GETCHECK, 0, 0));
    }
    if (name == "check") {
        Arguments a(words, 2, 2);
        Query(ParseControl(a[0]), BM_SETCHECK, (WPARAM)ParseNumber(a[1]), 0);
        return "null";
    }
    if (name == "set-text") {
        Arguments a(words, 2, 2);
        std::wstring text = Wide(a[1]);
        if (!Query(ParseControl(a[0]), WM_SETTEXT, 0, (LPARAM)text.c_str()))
            throw Failure("the control refused the text");
        return "null";
    }
    if (name == "items") {
        Arguments a(words, 1, 3);
        HWND list = ParseControl(a[0]);
        LRESULT count = ListCount(list);
        LRESULT first = a.Count() > 1 ? (LRESULT)ParseNumber(a[1]) : 0;
        if (a.Count() > 2 && first + (LRESULT)ParseNumber(a[2]) < count)
            count = first + (LRESULT)ParseNumber(a[2]);
        std::vector<std::string> found;
        for (LRESULT i = first; i < count; i++)
            found.push_back(JsonObject()
                                .Add("text", JsonText(ItemText(list, i)))
                                .Add("selected", JsonBool(Query(list, LB_GETSEL, i, 0) > 0))
                                .Done());
        return JsonArray(found);
    }
    if (name == "list-counts") {
        Arguments a(words, 1, 1);
        HWND list = ParseControl(a[0]);
        return JsonObject()
            .Add("items", JsonNumber(ListCount(list)))
            .Add("selected", JsonNumber(Query(list, LB_GETSELCOUNT, 0, 0)))
            .Done();
    }
    if (name == "select") {
        Arguments a(words, 3, 3);
        HWND list = ParseControl(a[0]);
        long long index = ParseNumber(a[1]);
        bool state = ParseNumber(a[2]) != 0;
        LRESULT result;
        if (GetWindowLongA(list, GWL_STYLE) & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL))
            result = Query(list, LB_SETSEL, state, (LPARAM)index);
        else
            result = Query(list, LB_SETCURSEL, state ? (WPARAM)index : (WPARAM)-1, 0);
        if (result == LB_ERR && !(index == -1 || !state))
            throw Failure("no item " + std::to_string(index));
        return "null";
    }
    if (name == "click") {
        Arguments a(words, 1, 1);
        Post(ParseControl(a[0]), BM_CLICK, 0, 0);
        return "null";
    }
    if (name == "command") {
        Arguments a(words, 2, 3);
        HWND window = ParseWindow(a[0]);
        int id = (int)ParseNumber(a[1]);
        int code = a.Count() > 2 ? (int)ParseNumber(a[2]) : BN_CLICKED;
        Post(window, WM_COMMAND, MAKEWPARAM(id, code), (LPARAM)GetDlgItem(window, id));
        return "null";
    }
    if (name == "type") {
        Arguments a(words, 2, 2);
        HWND control = ParseControl(a[0]);
        for (wchar_t c : Wide(a[1]))
            Post(control, WM_CHAR, c, 1);
        return "null";
    }
    if (name == "key") {
        Arguments a(words, 2, 2);
        HWND control = ParseControl(a[0]);
        UINT key = ParseKey(a[1]);
        LPARAM scan = (LPARAM)MapVirtualKeyA(key, MAPVK_VK_TO_VSC) << 16;
        Post(control, WM_KEYDOWN, key, scan | 1);
        // The program may have handled the key-down already and closed the
        // window (Esc, Enter): then the key-up has nowhere to go.
        if (!PostMessageW(control, WM_KEYUP, key, scan | 1 | (LPARAM)0xC0000000) && IsWindow(control))
            throw Failure("cannot post to the window");
        return "null";
    }
    if (name == "close") {
        Arguments a(words, 1, 1);
        Post(ParseWindow(a[0]), WM_CLOSE, 0, 0);
        return "null";
    }
    if (name == "lock") {
        Arguments a(words, 1, 3);
        if (a.Count() == 2)
            throw Failure("lock: give both ACCESS and SHARE, or neither");
        return JsonNumber(LockFile(a[0], a.Count() > 1 ? a[1] : "r", a.Count() > 1 ? a[2] : "-"));
    }
    if (name == "unlock") {
        Arguments a(words, 1, 1);
        auto known = Locks.find(ParseNumber(a[0]));
        if (known == Locks.end())
            throw Failure("no such lock");
        CloseHandle(known->second);
        Locks.erase(known);
        return "null";
    }
    if (name == "short-path") {
        // GetShortPathNameW of an existing path, as the system gives it.
        Arguments a(words, 1, 1);
        std::wstring path = Wide(a[0]);
        std::vector<wchar_t> shortPath(32768);
        DWORD length = GetShortPathNameW(path.c_str(), shortPath.data(), (DWORD)shortPath.size());
        if (length == 0 || length >= shortPath.size())
            throw Failure("GetShortPathNameW failed");
        return JsonText(Utf8(shortPath.data(), length));
    }
    if (name == "remove-plain") {
        // Deletes a folder's files and then the folder with the plain calls
        // that Explorer makes (no "\\?\" in front); returns the names.
        Arguments a(words, 1, 1);
        std::wstring folder = Wide(a[0]);
        std::string names = "[";
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            throw Failure("FindFirstFileW failed");
        do {
            std::wstring item = found.cFileName;
            if (item == L"." || item == L"..")
                continue;
            if (!DeleteFileW((folder + L"\\" + item).c_str())) {
                FindClose(search);
                throw Failure("DeleteFileW failed: " + Utf8(item.data(), item.size()));
            }
            names += (names.size() > 1 ? "," : "") + JsonText(Utf8(item.data(), item.size()));
        } while (FindNextFileW(search, &found));
        FindClose(search);
        if (!RemoveDirectoryW(folder.c_str()))
            throw Failure("RemoveDirectoryW failed");
        return names + "]";
    }
    if (name == "version-info") {
        Arguments a(words, 1, 1);
        return VersionInfo(a[0]);
    }
    if (name == "file-icon") {
        Arguments a(words, 1, 1);
        return FileIcon(a[0]);
    }
    throw Failure("unknown command: " + name);
}

bool ReadLine(std::string& line)
{
    line.clear();
    int c;
    while ((c = getchar()) != EOF && c != '\n')
        line += (char)c;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return c != EOF || !line.empty();
}

void Reply(const std::string& text)
{
    fputs(text.c_str(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

}  // namespace

int main()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    std::string line;
    while (ReadLine(line)) {
        std::vector<std::string> words;
        try {
            words = SplitArguments(line);
            if (words.empty()) {
                Reply("error empty command");
                continue;
            }
            if (words[0] == "quit") {
                Reply("ok null");
                break;
            }
            Reply("ok " + Run(words));
        } catch (const Failure& failure) {
            std::string text = failure.what();
            for (char& c : text)
                if (c == '\n' || c == '\r')
                    c = ' ';
            Reply("error " + text);
        }
    }
    for (auto& lock : Locks)
        CloseHandle(lock.second);
    return 0;
}
