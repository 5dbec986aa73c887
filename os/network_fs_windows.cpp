#include "os/network_fs.h"

#include <vector>

#include "os/windows_text.h"

void RefuseNetworkFileSystem(const std::string& path) {
    // The volume the path lies on: a UNC share (\\server\share\…), or a
    // drive letter mapped to one, both of which Windows calls remote.
    const std::wstring wide = WidePath(path);
    std::vector<wchar_t> root(wide.size() + MAX_PATH + 1);
    if (!GetVolumePathNameW(wide.c_str(), root.data(), static_cast<DWORD>(root.size()))) return;  // the open reports it
    const std::wstring volume(root.data());
    const bool unc = volume.rfind(L"\\\\", 0) == 0 && volume.rfind(L"\\\\?\\", 0) != 0;
    const bool longUnc = volume.rfind(L"\\\\?\\UNC\\", 0) == 0;
    if (unc || longUnc) throw NetworkFileSystemError(path, "UNC " + Utf8(volume));
    if (GetDriveTypeW(volume.c_str()) == DRIVE_REMOTE) throw NetworkFileSystemError(path, "네트워크 드라이브 " + Utf8(volume));
}
