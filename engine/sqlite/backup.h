#pragma once
// A copy of a database file made with the engine's online backup: consistent
// even while other connections and processes write to the file.
#include <functional>
#include <string>

// Pages copied so far and pages in all, after each step of the copy.
using BackupProgress = std::function<void(long long done, long long total)>;

// Copies the database at `path` into a new file `copy`, which must not exist:
// the copy is built under a fresh name in copy's folder, passes the engine's
// integrity check and is flushed to the disk before it takes the name `copy`,
// and it never replaces anything there. The file at `path` is only read (an
// interrupted write in it is rolled back first). Raises an Error naming the
// file on any failure, and then nothing is left at `copy` or beside it.
// Returns the copy's size in bytes.
long long BackupDatabase(const std::string& path, const std::string& copy, const BackupProgress& progress = {});
