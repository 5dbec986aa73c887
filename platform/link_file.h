#pragma once
// Inside the engine layer: how a link file holds its connection string.
#include <sqlite3.h>

#include <optional>
#include <string>

inline constexpr const char* kLinkTable = "kaldoria_link";

// The connection string of an open link file, or none for a picture database.
std::optional<std::string> LinkedConnection(sqlite3* db);
