#pragma once
// What the keeper's commands share: the history's times shown in the PC's own time zone, and the warning for
// pictures too large for the history to keep.
#include <QString>
#include <optional>
#include <string>

#include "engine/engine.h"

// "YYYY-MM-DD HH:MM:SS" in UTC, as the history keeps it, shown in local time.
std::string LocalTimeOf(const std::string& utc);

// A date ("YYYY-MM-DD") or time ("YYYY-MM-DD HH:MM[:SS]") in local time, as
// UTC text; none when `text` is no such date.
std::optional<std::string> UtcOfLocal(const std::string& text);

// Tells on stderr that `count` rows of `name` left without their pictures.
void WarnUnkept(const std::string& name, long count);

// The message for a book without history, and how to give it one.
std::string NoHistoryMessage(const std::string& path);
