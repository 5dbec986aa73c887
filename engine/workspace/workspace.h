#pragma once
// The workspace: where books are opened and made, whatever their kind. It
// lives above the kinds of database (engine/sqlite/, engine/postgres/), which
// implement engine.h's objects, and is the one place that picks a kind: by
// the connect string, or by what the file says (a local book or a link file
// naming a server).
#include <memory>
#include <string>

#include "engine/engine.h"

class WorkspaceImpl;

class Workspace {
public:
    Workspace() = default;
    const std::string& Name() const;
    const std::string& UserName() const;
    // Opens an existing SQLite database; never creates a file. Refused with
    // an Error when the file is missing, not a database (empty, text,
    // truncated, corrupt, an older Jet-format file), cannot be both read and
    // written (unless readOnly), or is held exclusively by another process.
    // The file is not changed by a refused open; an interrupted write left
    // in it is rolled back first (RollBackInterruptedWrite), read-only or not.
    Database OpenDatabase(const std::string& path, bool readOnly = false, const std::string& connect = "");
    // Makes a new, empty database file; refuses a path where anything exists.
    Database CreateDatabase(const std::string& path);
    // Closes the workspace and every database still open through it.
    void Close();

private:
    friend class DBEngine;
    explicit Workspace(std::shared_ptr<WorkspaceImpl> w) : ws_(std::move(w)) {}
    WorkspaceImpl& ws() const;
    std::shared_ptr<WorkspaceImpl> ws_;
};

// The one engine object of the process, created on first use.
class DBEngine {
public:
    static DBEngine& Instance();
    Workspace CreateWorkspace(const std::string& name, const std::string& user,
                              const std::string& password, int type = dbUseJet);

private:
    DBEngine() = default;
};
