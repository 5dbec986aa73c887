#include "os/process.h"

#include <io.h>
#include <stdlib.h>

#include <algorithm>
#include <cerrno>

#include <windows.h>
// after windows.h
#include <shellapi.h>

#include "os/windows_text.h"

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

std::string LoginUserName() {
    wchar_t name[257];
    DWORD size = 257;
    return GetUserNameW(name, &size) ? Utf8(std::wstring(name, size - 1)) : std::string();
}

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
    // The C library's copy, which getenv reads; it passes the change on to
    // the process's own environment too. (An empty value would remove it.)
    const errno_t e = _putenv_s(name.c_str(), value.c_str());
    if (e != 0) errno = e;
    return e == 0;
}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

bool MemoryAvailable(std::uint64_t bytes) {
    // Committed, not touched: the commit limit and a job's memory limit answer.
    void* p = VirtualAlloc(nullptr, static_cast<SIZE_T>(bytes), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!p) return false;
    VirtualFree(p, 0, MEM_RELEASE);
    return true;
}

std::int64_t CoarseMilliseconds() { return static_cast<std::int64_t>(GetTickCount64()); }

std::time_t TimeOfUtc(std::tm utc) { return _mkgmtime(&utc); }

std::tm LocalCalendar(std::time_t t) {
    std::tm tm{};
    localtime_s(&tm, &t);
    return tm;
}

std::tm UtcCalendar(std::time_t t) {
    std::tm tm{};
    gmtime_s(&tm, &t);
    return tm;
}

std::vector<std::string> ProgramArguments(int argc, char* argv[]) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return args;
}

namespace {

bool IsConsole(std::FILE* stream) {
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode);
}

}  // namespace

void WriteText(std::FILE* stream, std::string_view text) {
    // Asked once per stream: a list of a million rows writes a line each.
    static const bool outIsConsole = IsConsole(stdout), errIsConsole = IsConsole(stderr);
    const bool console = stream == stdout ? outIsConsole : stream == stderr ? errIsConsole : IsConsole(stream);
    if (!console) {
        std::fwrite(text.data(), 1, text.size(), stream);
        return;
    }
    // What the C library still holds goes first, so the lines keep their order.
    std::fflush(stream);
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    const std::wstring wide = Wide(std::string(text));
    std::size_t at = 0;
    while (at < wide.size()) {
        // Pieces a console takes at once, never splitting a surrogate pair.
        std::size_t n = std::min<std::size_t>(wide.size() - at, 8192);
        if (at + n < wide.size() && IS_HIGH_SURROGATE(wide[at + n - 1])) --n;
        DWORD written = 0;
        if (!WriteConsoleW(h, wide.data() + at, static_cast<DWORD>(n), &written, nullptr) || written == 0) return;
        at += written;
    }
}
