#include "engine/postgres/libpq_files.h"

#include <shlobj.h>

#include <cstdlib>

#include "os/windows_text.h"

namespace {

// The folder libpq reads on Windows: the one it asks the shell for with
// SHGetFolderPath(CSIDL_APPDATA), plus "postgresql". Named in full, since a
// user cannot type %APPDATA% into every window; the variable's form where
// the shell has none.
std::string LibpqFolder() {
    wchar_t appData[MAX_PATH] = {};
    if (::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData) != S_OK) return "%APPDATA%\\postgresql";
    return Utf8(appData) + "\\postgresql";
}

// A libpq variable that names the file instead, when set.
std::string Variable(const wchar_t* name) {
    const wchar_t* value = ::_wgetenv(name);
    return value && *value ? Utf8(value) : std::string();
}

std::string Either(const std::string& fromVariable, const std::string& otherwise) {
    return fromVariable.empty() ? otherwise : fromVariable;
}

}  // namespace

LibpqUserFiles UserLibpqFiles() {
    const std::string folder = LibpqFolder();
    return {Either(Variable(L"PGPASSFILE"), folder + "\\pgpass.conf"),
            Either(Variable(L"PGSERVICEFILE"), folder + "\\.pg_service.conf"),
            Either(Variable(L"PGSSLROOTCERT"), folder + "\\root.crt"), false};
}

// libpq on Windows reads the password file whoever else may read it.
std::string IgnoredPasswordFile() { return {}; }
