#pragma once
// This process and the system it runs on: what names, messages and limits
// need to know. Each system has its own implementation.
#include <cstdint>
#include <cstdio>
#include <ctime>

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
