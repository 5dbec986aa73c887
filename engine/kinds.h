#pragma once
// Inside the engine layer: the kinds of database behind a Workspace. Each is
// made in its own folder (engine/sqlite/, engine/postgres/); workspace.cpp
// is the one place that picks a kind. A new kind implements ConnectionImpl
// and RecordsetImpl (engine_impl.h) and adds its opener here.
#include <memory>
#include <optional>
#include <string>

class ConnectionImpl;

// The SQLite file at `path`: a local book, or a link file, in which case it
// is closed again, nullptr is returned and `link` receives the connection
// string of the server it names.
std::shared_ptr<ConnectionImpl> OpenLocalBook(const std::string& path, bool readOnly, std::optional<std::string>& link);
// A new, empty SQLite file at `path`; refuses a path where anything exists.
std::shared_ptr<ConnectionImpl> CreateLocalBook(const std::string& path);
// The server `conninfo` names (checked first against what a link file may
// hold), its pic_list with a text name column; `name` is the file or path
// the caller knows the book by.
std::shared_ptr<ConnectionImpl> OpenServerBook(const std::string& name, const std::string& conninfo, bool readOnly);
