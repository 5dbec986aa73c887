#pragma once
// Making a link file: a local file (engine/sqlite/link_file.h) that holds a
// connection string the server kind accepts (engine/postgres/link.h). It
// needs both kinds, so it lives above them.
#include <string>

// Makes a link file at `path` holding `conninfo`, once CheckLinkConnection
// has accepted it; refuses a path where anything exists, and leaves nothing
// behind on failure.
void CreateLinkFile(const std::string& path, const std::string& conninfo);
