#include "os/temp_file.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>

#include "os/os_error.h"

namespace {
std::string TempFolder() {
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}
}  // namespace

AnonymousFile::AnonymousFile() {
    const std::string folder = TempFolder();
    fd_.reset(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!fd_) {
        // File systems without O_TMPFILE: a named file, unlinked at once.
        std::string name = folder + "/kaldoria-XXXXXX";
        fd_.reset(::mkostemp(name.data(), O_CLOEXEC));
        if (fd_) ::unlink(name.c_str());
    }
    if (!fd_) RaiseErrno(errno, "임시 파일을 '" + folder + "'에 만들 수 없습니다");
}

AnonymousFile::~AnonymousFile() = default;

std::string AnonymousFile::Path() const { return "/proc/self/fd/" + std::to_string(fd_.get()); }
