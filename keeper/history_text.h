#pragma once
// The history in words: its times in the PC's own time zone, the warning for
// pictures too large for it to keep, and why a book has none.
#include <QString>
#include <optional>
#include <string>

#include "engine/engine.h"

// "YYYY-MM-DD HH:MM:SS" in UTC, as the history keeps it, shown in local time.
std::string LocalTimeOf(const std::string& utc);

// A date ("YYYY-MM-DD") or time ("YYYY-MM-DD HH:MM[:SS]") in local time, as
// UTC text; none when `text` is no such date.
std::optional<std::string> UtcOfLocal(const std::string& text);

// That `count` rows of `name` left without their pictures; empty for none.
std::string UnkeptWarning(const std::string& name, long count);

// Why the book at `path` has no history to read or change, and what to do:
// it has none, or its pic_history is another table that only has the name.
// Empty when it has one.
std::string NoHistoryMessage(Database& db, const std::string& path);
