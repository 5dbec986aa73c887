#pragma once
// This process and the system it runs on: what names, messages and limits
// need to know. Each system has its own implementation.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// This process's number, for names no other process makes.
long ProcessId();
// The name of the user this process runs as, as the system knows them
// (the login name); empty when the system cannot tell.
std::string LoginUserName();
// Sets an environment variable of this process, for a library that reads
// it with getenv (on Windows, the C library's own copy). `value` is not
// empty. False with errno on failure.
bool SetEnvironmentValue(const std::string& name, const std::string& value);
// Whether the stream is a terminal (a person watching), not a file or pipe.
bool IsTerminal(std::FILE* stream);
// Whether `bytes` of memory could be had now, asked of the system without
// touching a page, so that a memory limit answers.
bool MemoryAvailable(std::uint64_t bytes);
// A monotonic clock in milliseconds that is cheap to read often; good to a
// few milliseconds (Windows: to its tick of about 16).
std::int64_t CoarseMilliseconds();

// Calendar time in UTC and in the system's time zone, safe from any thread.
std::time_t TimeOfUtc(std::tm utc);
std::tm LocalCalendar(std::time_t t);
std::tm UtcCalendar(std::time_t t);

// The program's arguments as UTF-8 (Windows hands main() its ANSI code
// page, which has no room for most Korean names; the wide command line has).
std::vector<std::string> ProgramArguments(int argc, char* argv[]);
// Writes the UTF-8 `text` to `stream` (stdout or stderr). A Windows console
// is handed it as UTF-16 (WriteConsoleW), whatever its code page, which
// stays as the user had it; a file or a pipe gets the UTF-8 bytes, without a
// byte-order mark, on every system.
void WriteText(std::FILE* stream, std::string_view text);
