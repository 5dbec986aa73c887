#include "os/temp_file.h"

#include <cerrno>

#include "os/files.h"
#include "os/os_error.h"
#include "os/paths.h"
#include "os/windows_text.h"

namespace {
std::string TempFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    std::string folder = n > 0 && n <= MAX_PATH ? Utf8(std::wstring(buffer, n)) : std::string(".");
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return folder;
}
}  // namespace

AnonymousFile::AnonymousFile() {
    const std::string folder = TempFolder();
    // Not FILE_FLAG_DELETE_ON_CLOSE: services handed Path() (Qt's image
    // writer) open it again without sharing deletion, which that flag forbids.
    fd_ = CreateFreshBeside(JoinPath(folder, "kaldoria"), name_);
}

AnonymousFile::~AnonymousFile() {
    fd_.reset();
    if (!name_.empty()) RemoveQuietly(name_);
}

std::string AnonymousFile::Path() const { return name_; }
