#pragma once
// The window's one connection to the picture database, and the two fixed
// files of the application folder.
#include <string>

#include "engine/workspace/workspace.h"

inline constexpr const char* kDatabaseFileName = "dojang.mdb";
inline constexpr const char* kTransferFileName = "temp.bmp";

std::string DatabasePath(const std::string& appFolder);
std::string TransferFilePath(const std::string& appFolder);

// Creates the workspace as "admin" and opens dojang.mdb in `appFolder`,
// shared, for reading and writing. Raises the engine's Error on failure.
void OpenPICDB(Workspace& wrkPIC, Database& dbsPIC, const std::string& appFolder);
// Closes the database, then the workspace.
void ClosePICDB(Workspace& wrkPIC, Database& dbsPIC);

// Makes a new picture database at `path` (table pic_list with an index on
// pic_name); refuses to overwrite an existing file.
void CreatePICDB(const std::string& path);
