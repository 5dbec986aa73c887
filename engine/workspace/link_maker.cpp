#include "engine/workspace/link_maker.h"

#include "engine/postgres/link.h"
#include "engine/sqlite/link_file.h"
#include "engine/workspace/workspace.h"
#include "os/paths.h"

void CreateLinkFile(const std::string& path, const std::string& conninfo) {
    CheckLinkConnection(conninfo);
    Workspace ws = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
    Database db = ws.CreateDatabase(path);
    try {
        Transaction t(db);
        db.Execute(std::string("CREATE TABLE ") + kLinkTable + " (conninfo TEXT NOT NULL)");
        db.Execute(std::string("INSERT INTO ") + kLinkTable + " VALUES ($1)", {conninfo});
        t.Commit();
        ws.Close();
    } catch (...) {
        ws.Close();
        RemoveQuietly(path);
        throw;
    }
}
