#pragma once
// Inside the engine layer: what a table is made of, as far as reading and
// adding rows piece by piece depends on it.
#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/engine.h"

// What `name` is in the main database; a virtual table counts as a view.
TableShape ShapeOfTable(sqlite3* db, const std::string& name);

// The name that reaches `table`'s rowid: _rowid_, rowid or oid, whichever no
// column of the table has taken; none when all three are columns.
std::optional<std::string> RowidAlias(sqlite3* db, const std::string& table);

// What would see a value of `column` between its insertion and the moment it
// is filled in place: INSERT triggers, CHECK constraints, indexes over the
// column (or over expressions, or partial ones) and generated columns, each
// described for a message. Empty when nothing would.
std::vector<std::string> ValueObservers(sqlite3* db, const std::string& table, const std::string& column);
