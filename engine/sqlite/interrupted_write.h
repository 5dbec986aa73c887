#pragma once
// An interrupted write: a transaction cut off part way (the process killed,
// the machine stopped) leaves a "hot" journal beside the database file, and
// the engine restores the file from it the next time it opens the file for
// writing. A read-only connection cannot, and refuses to read the file.
#include <string>

// Rolls back the interrupted write of the database at `path`, if there is
// one, by opening the file for writing just for that. Returns true when it
// rolled one back. Raises err::CannotOpen, saying what happened and what to
// do, when there is one but the file or its folder cannot be written; and
// likewise, naming the file, its WAL log and the folder, for a file in WAL
// mode that cannot be read because its folder cannot be written. Any other
// problem with the file is left to the open that follows.
bool RollBackInterruptedWrite(const std::string& path);
