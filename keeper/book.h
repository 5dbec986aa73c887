#pragma once
// A book opened for one piece of work, and how its names are shown.
#include <string>

#include "engine/workspace/workspace.h"

// A database opened for one command or one window: closed (recordsets
// first) when it goes. Read-only opens work on files and folders the user
// cannot write. Its pic_list is checked to be one the save can use.
class OpenedDatabase {
public:
    OpenedDatabase(const std::string& path, bool readOnly);
    ~OpenedDatabase();
    OpenedDatabase(const OpenedDatabase&) = delete;
    OpenedDatabase& operator=(const OpenedDatabase&) = delete;
    Database& db() { return db_; }

private:
    Workspace ws_;
    Database db_;
};

// A name as `list` and the messages show it: in double quotes with
// backslashes, quotes and control characters escaped, so that an empty name
// or one of blanks is visible; a Null name shows as Null and one stored as a
// BLOB as its SQL literal, x'EB8F84'.
std::string ShownName(const Variant& name);
