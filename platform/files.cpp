#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/os_error.h"
#include "platform/unique_fd.h"

namespace {

class PosixBinaryFile : public BinaryFile {
public:
    PosixBinaryFile(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}

    std::int64_t Length() override {
        struct stat st {};
        if (::fstat(fd(), &st) != 0) RaiseErrno(errno, "파일 '" + path_ + "' 길이를 알 수 없습니다");
        return st.st_size;
    }

    void Read(std::span<std::uint8_t> into) override {
        std::size_t done = 0;
        while (done < into.size()) {
            ssize_t n = ::read(fd(), into.data() + done, into.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) RaiseErrno(errno, "파일 '" + path_ + "' 읽기 실패");
            if (n == 0) throw Error(err::InputPastEnd, "파일 '" + path_ + "'이(가) 예상보다 일찍 끝났습니다.");
            done += static_cast<std::size_t>(n);
        }
    }

    void Write(std::span<const std::uint8_t> bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(fd(), bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) RaiseErrno(errno, "파일 '" + path_ + "' 쓰기 실패");
            done += static_cast<std::size_t>(n);
        }
    }

    void Truncate(std::int64_t length) override {
        if (::ftruncate(fd(), length) != 0) RaiseErrno(errno, "파일 '" + path_ + "' 길이 조정 실패");
    }

    void Close() override {
        if (fd_.Close() != 0) RaiseErrno(errno, "파일 '" + path_ + "' 닫기 실패");
    }

private:
    int fd() const {
        if (!fd_) throw Error(err::PathFileAccess, "파일 '" + path_ + "'이(가) 닫혀 있습니다.");
        return fd_.get();
    }
    UniqueFd fd_;
    std::string path_;
};

}  // namespace

bool PosixFileSystem::FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void PosixFileSystem::Kill(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) RaiseErrno(EISDIR, "파일 '" + path + "' 삭제 실패");
    if (::unlink(path.c_str()) != 0) RaiseErrno(errno, "파일 '" + path + "' 삭제 실패");
}

std::unique_ptr<BinaryFile> PosixFileSystem::OpenBinary(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!fd) RaiseErrno(errno, "파일 '" + path + "' 열기 실패");
    return std::make_unique<PosixBinaryFile>(std::move(fd), path);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}
