#include "os/process.h"

#include <io.h>

#include <windows.h>
// after windows.h
#include <shellapi.h>

#include "os/windows_text.h"

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

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

void UseUtf8Console() {
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
}
