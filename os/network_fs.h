#pragma once
// Network file systems, where SQLite's file locks cannot be trusted: a
// database written there by several PCs at once gets corrupted.
#include <string>

#include "os/error.h"

// "NFS", "SMB/CIFS" and the like for a statfs(2) file system type that is a
// network one; nullptr for a local one. (Windows tells network drives by
// their drive type instead.)
const char* NetworkFileSystemName(long type);

// The refusal of a database at `path` on the network file system `name`.
Error NetworkFileSystemError(const std::string& path, const std::string& name);

// Refuses, with an Error that names `kaldoria-db link` as the safe way to
// share, a database file at `path` that lies on a network file system.
// Used before a file is opened for writing; reading it stays allowed.
void RefuseNetworkFileSystem(const std::string& path);
