#include "os/network_fs.h"

#include <sys/vfs.h>

void RefuseNetworkFileSystem(const std::string& path) {
    struct statfs fs {};
    if (::statfs(path.c_str(), &fs) != 0) return;  // the open that follows reports it
    if (const char* name = NetworkFileSystemName(static_cast<long>(fs.f_type)))
        throw NetworkFileSystemError(path, name);
}
