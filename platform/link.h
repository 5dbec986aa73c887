#pragma once
// A linked picture database: a small SQLite file that, instead of pictures,
// holds the libpq connection string of a PostgreSQL server whose table
// pic_list is the stamp book. Opening such a file opens the server.
//
// The connection string never holds a password: credentials come from
// libpq's own ~/.pgpass or connection service file.
#include <string>

// Refuses a connection string that cannot be read or that holds a password,
// with an Error that says why (and, for a password, where it belongs).
void CheckLinkConnection(const std::string& conninfo);

// Makes a link file at `path` holding `conninfo`; refuses a path where
// anything exists, and leaves nothing behind on failure.
void CreateLinkFile(const std::string& path, const std::string& conninfo);
