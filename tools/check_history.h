#pragma once
// check's part for the history: its triggers, and every kept version read
// as a picture.
#include "engine/engine.h"

// Says on stdout what was found. Returns exitcode::Ok (also for a book
// without history), exitcode::UnreadablePictures when a kept version is no
// readable picture (each is named), or exitcode::Failure when a trigger is
// missing or memory ran out before every version was read.
int CheckHistory(Database& db);
