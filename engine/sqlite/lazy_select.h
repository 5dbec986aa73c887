#pragma once
// Inside the engine layer: the rewrite that lets a snapshot leave its blobs
// in the table until they are asked for.
#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

// Rewrites a plain one-table SELECT so that blob columns come back as their
// type and length only, with the rowid to read them by later: the rowid
// first, then a (type, value-or-length) pair per column. Sets `table` and
// each column's `origin` in it. Returns nothing for any other shape of
// statement, or when no column may hold blobs; such a statement is then read
// in full.
std::optional<std::string> LazySelect(sqlite3* db, const std::string& sql, sqlite3_stmt* original,
                                      std::string& table, std::vector<std::string>& origin);

// False for a column declared with a text or number type, whose values are
// read with the statement that steps over the rows; a column declared BLOB,
// with no type or any other type may hold pictures, which stay in the table
// until they are asked for.
bool MayHoldBlobs(const char* declared);
