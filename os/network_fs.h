#pragma once
// Network file systems, where SQLite's file locks cannot be trusted: a
// database written there by several PCs at once gets corrupted.
#include <string>

// "NFS", "SMB/CIFS" and the like for a statfs(2) file system type that is a
// network one; nullptr for a local one.
const char* NetworkFileSystemName(long type);

// Refuses, with an Error that names `kaldoria-db link` as the safe way to
// share, a database file at `path` that lies on a network file system.
// Used before a file is opened for writing; reading it stays allowed.
void RefuseNetworkFileSystem(const std::string& path);
