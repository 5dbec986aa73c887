#pragma once
// A linked picture database: a small SQLite file that, instead of pictures,
// holds the libpq connection string of a PostgreSQL server whose table
// pic_list is the stamp book. Opening such a file opens the server.
//
// The connection string never holds a password: credentials come from
// libpq's own ~/.pgpass or connection service file.
#include <string>

// The table of the server that is the stamp book, and its name column,
// which must be of a text type.
inline constexpr const char* kLinkedTable = "pic_list";
inline constexpr const char* kLinkedNameColumn = "pic_name";

// Refuses a connection string that cannot be read, that holds a password, or
// that holds any key but host, port, dbname, user, service, connect_timeout,
// application_name and the TLS keys that make a connection stricter, with an
// Error that names the key and says why (and where such settings belong).
// A service stanza is the administrator's own file and is not looked into.
void CheckLinkConnection(const std::string& conninfo);

// True when `path` is a link file, read from the file alone: deciding it
// never connects, so a server that cannot be reached is reported by the open
// that follows, never taken for "not a link".
bool IsLinkFile(const std::string& path);

// Makes a link file at `path` holding `conninfo`; refuses a path where
// anything exists, and leaves nothing behind on failure.
void CreateLinkFile(const std::string& path, const std::string& conninfo);
