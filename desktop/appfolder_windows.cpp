#include "desktop/appfolder.h"

#include <vector>

#include "os/windows_text.h"

// The module's own path, as Windows knows it (long and Korean names
// included), not Qt's slash-separated copy: the program's two files are
// joined to it with the backslash, "\dojang.mdb" and "\temp.bmp".
std::string ApplicationFolder() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return ".";
        if (n < buffer.size()) {
            std::wstring path(buffer.data(), n);
            const auto slash = path.find_last_of(L"\\/");
            if (slash == std::wstring::npos) return ".";
            // The root keeps its backslash ("C:\").
            path.resize(slash == 2 && path[1] == L':' ? slash + 1 : slash);
            return Utf8(path);
        }
        buffer.resize(buffer.size() * 2);  // truncated: ask again with room
    }
}
