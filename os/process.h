#pragma once
// This process and the system it runs on: what names, messages and limits
// need to know. Each system has its own implementation.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

// This process's number, for names no other process makes.
long ProcessId();
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
// Makes a console show the UTF-8 this program writes (Windows' console
// otherwise reads it in the ANSI code page). Nothing elsewhere.
void UseUtf8Console();
