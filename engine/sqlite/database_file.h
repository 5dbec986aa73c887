#pragma once
// Inside the engine layer: the checks a database file goes through before
// and just after SQLite opens it. SQLite would take an empty file for an
// empty database, open a read-only file read-only without a word, and take
// some truncated files for valid ones; these checks refuse all of them and
// never change the file.
#include <sqlite3.h>

#include <string>

// Refuses, with an Error naming the file, a path that is missing or empty
// (err::DatabaseNotFound), not an SQLite database (err::NotADatabase, with a
// hint for an older Jet-format file), truncated, or, unless `readOnly`, a
// file or folder that cannot be written (err::CannotOpen).
void CheckDatabaseFile(const std::string& path, bool readOnly);

// Checks the pages of a freshly opened file: every page of a small file, the
// first and last rows of each table of a larger one. Raises
// err::NotADatabase for a damaged file.
void CheckPages(sqlite3* db, const std::string& path);
