#include "store/connection.h"

#include "os/files.h"
#include "store/picture_table.h"

std::string DatabasePath(const std::string& appFolder) { return JoinPath(appFolder, kDatabaseFileName); }
std::string TransferFilePath(const std::string& appFolder) { return JoinPath(appFolder, kTransferFileName); }

void OpenPICDB(Workspace& wrkPIC, Database& dbsPIC, const std::string& appFolder) {
    DBEngine& engine = DBEngine::Instance();
    wrkPIC = engine.CreateWorkspace("", "admin", "", dbUseJet);
    dbsPIC = wrkPIC.OpenDatabase(DatabasePath(appFolder));
    CheckPictureTable(dbsPIC);
    RequireTextNames(dbsPIC);
}

void ClosePICDB(Workspace& wrkPIC, Database& dbsPIC) {
    dbsPIC.Close();
    wrkPIC.Close();
}

void CreatePICDB(const std::string& path) {
    Workspace ws = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
    Database db = ws.CreateDatabase(path);
    CreatePictureTable(db);
    ws.Close();
}
