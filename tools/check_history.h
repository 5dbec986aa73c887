#pragma once
// check's part for the history: every way it can be off, and every kept
// version read as a picture.
#include <string>

#include "engine/engine.h"

// Says on stdout what was found; each fault is named on stderr with the
// command that mends it (`path` as the user gave it). Returns exitcode::Ok
// (also for a book without history), exitcode::UnreadablePictures when a
// kept version is no readable picture (each is named), or
// exitcode::Failure when the history has a fault or memory ran out before
// every version was read.
int CheckHistory(Database& db, const std::string& path);
