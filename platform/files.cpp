#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace {

[[noreturn]] void RaiseErrno(int e, const std::string& what, const std::string& path) {
    int number = err::PathFileAccess;
    switch (e) {
    case ENOENT: number = err::FileNotFound; break;
    case EACCES:
    case EPERM:
    case EROFS: number = err::PermissionDenied; break;
    case ENOSPC:
    case EDQUOT: number = err::DiskFull; break;
    case EIO: number = err::DeviceIO; break;
    default: break;
    }
    throw Error(number, "파일 '" + path + "' " + what + ": " + std::strerror(e));
}

class PosixBinaryFile : public BinaryFile {
public:
    PosixBinaryFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixBinaryFile() override {
        if (fd_ >= 0) ::close(fd_);
    }

    std::int64_t Length() override {
        struct stat st {};
        if (::fstat(fd(), &st) != 0) RaiseErrno(errno, "길이를 알 수 없습니다", path_);
        return st.st_size;
    }

    void Read(std::span<std::uint8_t> into) override {
        std::size_t done = 0;
        while (done < into.size()) {
            ssize_t n = ::read(fd(), into.data() + done, into.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) RaiseErrno(errno, "읽기 실패", path_);
            if (n == 0) throw Error(err::InputPastEnd, "파일 '" + path_ + "'이(가) 예상보다 일찍 끝났습니다.");
            done += static_cast<std::size_t>(n);
        }
    }

    void Write(std::span<const std::uint8_t> bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(fd(), bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) RaiseErrno(errno, "쓰기 실패", path_);
            done += static_cast<std::size_t>(n);
        }
    }

    void Truncate(std::int64_t length) override {
        if (::ftruncate(fd(), length) != 0) RaiseErrno(errno, "길이 조정 실패", path_);
    }

    void Close() override {
        int fd = fd_;
        fd_ = -1;
        if (fd >= 0 && ::close(fd) != 0) RaiseErrno(errno, "닫기 실패", path_);
    }

private:
    int fd() const {
        if (fd_ < 0) throw Error(err::PathFileAccess, "파일 '" + path_ + "'이(가) 닫혀 있습니다.");
        return fd_;
    }
    int fd_;
    std::string path_;
};

}  // namespace

bool PosixFileSystem::FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void PosixFileSystem::Kill(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) RaiseErrno(EISDIR, "삭제 실패", path);
    if (::unlink(path.c_str()) != 0) RaiseErrno(errno, "삭제 실패", path);
}

std::unique_ptr<BinaryFile> PosixFileSystem::OpenBinary(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) RaiseErrno(errno, "열기 실패", path);
    return std::make_unique<PosixBinaryFile>(fd, path);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}
