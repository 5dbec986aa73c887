#include "os/process.h"

#include <pwd.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

long ProcessId() { return static_cast<long>(::getpid()); }

std::string LoginUserName() {
    // The account of the effective user, not $USER, which anyone can set.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) return found->pw_name;
    return {};
}

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
    return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

bool MemoryAvailable(std::uint64_t bytes) {
    const std::size_t wanted = static_cast<std::size_t>(bytes);
    void* p = ::mmap(nullptr, wanted, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    ::munmap(p, wanted);
    return true;
}

std::int64_t CoarseMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::time_t TimeOfUtc(std::tm utc) { return ::timegm(&utc); }

std::tm LocalCalendar(std::time_t t) {
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return tm;
}

std::tm UtcCalendar(std::time_t t) {
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    return tm;
}

std::vector<std::string> ProgramArguments(int argc, char* argv[]) { return std::vector<std::string>(argv, argv + argc); }

void WriteText(std::FILE* stream, std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream); }
