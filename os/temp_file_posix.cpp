#include "os/temp_file.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>

#include "os/os_error.h"
#include "os/retry.h"

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

std::string AnonymousFile::Path() const { return "/proc/self/fd/" + std::to_string(fd_.get()); }

void AnonymousFile::WriteAt(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
    const ssize_t n = TransferAll(bytes.size(), [&](std::size_t done) {
        return ::pwrite(fd_.get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    });
    if (n < 0) RaiseErrno(errno, "임시 파일에 쓸 수 없습니다");
}

void AnonymousFile::ReadAt(std::span<std::uint8_t> into, std::uint64_t offset) const {
    const ssize_t n = TransferAll(into.size(), [&](std::size_t done) {
        return ::pread(fd_.get(), into.data() + done, into.size() - done, static_cast<off_t>(offset + done));
    });
    if (n < 0) RaiseErrno(errno, "임시 파일을 읽을 수 없습니다");
    if (static_cast<std::size_t>(n) < into.size()) throw Error(err::DeviceIO, "임시 파일이 예상보다 일찍 끝났습니다.");
}
