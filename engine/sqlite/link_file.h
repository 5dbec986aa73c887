#pragma once
// A link file: a small SQLite file that, instead of pictures, holds the
// connection string of the PostgreSQL server whose pic_list is the stamp
// book (engine/postgres/link.h says what it may hold; engine/workspace/link_maker.h
// makes one).
#include <optional>
#include <string>

struct sqlite3;

inline constexpr const char* kLinkTable = "kaldoria_link";

// True when `path` is a link file, read from the file alone: deciding it
// never connects, so a server that cannot be reached is reported by the open
// that follows, never taken for "not a link".
bool IsLinkFile(const std::string& path);

// The connection string of an open link file, or none for a picture database.
std::optional<std::string> LinkedConnection(sqlite3* db);
