#pragma once
// The store's small questions of a book: a statement's text answers, read
// through a snapshot that is closed before they are returned.
#include <string>
#include <vector>

#include "engine/engine.h"

// The first column of every row of `sql`, as text (Null as "").
std::vector<std::string> ColumnText(Database& db, const std::string& sql, const Params& params = {});

// The first column of the first row of `sql`, as text; "" when it has none.
std::string FirstText(Database& db, const std::string& sql, const Params& params = {});
