#include <windows.h>

#include "os/leftovers.h"
#include "os/windows_text.h"

// A file another process still holds open cannot be deleted on Windows (a
// sharing violation, or "access denied" while a delete is pending). The
// watcher learns of a killed parent when the system closes the parent's end
// of the pipe, and the parent's other handles, its database file's among
// them, may close a moment later; a virus scanner may hold a new file
// briefly. So a few tries, a short sleep apart, before giving up.
void LeftoverFiles::Remove(const std::string& path) {
    const std::wstring wide = WidePath(path);
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (::DeleteFileW(wide.c_str())) return;
        const DWORD e = ::GetLastError();
        if (e != ERROR_SHARING_VIOLATION && e != ERROR_ACCESS_DENIED && e != ERROR_LOCK_VIOLATION) return;
        ::Sleep(100);
    }
}
