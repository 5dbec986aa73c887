#include "os/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "os/leftovers.h"
#include "os/os_error.h"
#include "os/retry.h"
#include "os/unique_fd.h"

namespace {

class LocalBinaryFile : public BinaryFile {
public:
    LocalBinaryFile(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}

    std::int64_t Length() override {
        struct stat st {};
        if (::fstat(fd(), &st) != 0) RaiseErrno(errno, "파일 '" + path_ + "' 길이를 알 수 없습니다");
        return st.st_size;
    }

    void Read(std::span<std::uint8_t> into) override {
        const ssize_t n = TransferAll(into.size(), [&](std::size_t done) {
            return ::read(fd(), into.data() + done, into.size() - done);
        });
        if (n < 0) RaiseErrno(errno, "파일 '" + path_ + "' 읽기 실패");
        if (static_cast<std::size_t>(n) < into.size())
            throw Error(err::InputPastEnd, "파일 '" + path_ + "'이(가) 예상보다 일찍 끝났습니다.");
    }

    void Write(std::span<const std::uint8_t> bytes) override {
        const ssize_t n = TransferAll(bytes.size(), [&](std::size_t done) {
            return ::write(fd(), bytes.data() + done, bytes.size() - done);
        });
        if (n < 0) RaiseErrno(errno, "파일 '" + path_ + "' 쓰기 실패");
    }

    void Truncate(std::int64_t length) override {
        if (::ftruncate(fd(), length) != 0) RaiseErrno(errno, "파일 '" + path_ + "' 길이 조정 실패");
    }

    void Close() override {
        if (fd_.Close() != 0) RaiseErrno(errno, "파일 '" + path_ + "' 닫기 실패");
    }

protected:
    int fd() const {
        if (!fd_) throw Error(err::PathFileAccess, "파일 '" + path_ + "'이(가) 닫혀 있습니다.");
        return fd_.get();
    }
    UniqueFd fd_;
    std::string path_;
};

// Written without a name (or under a fresh one) and renamed over its path by
// Close; removed instead when dropped or when Close fails.
class ReplacingFile : public LocalBinaryFile {
public:
    ReplacingFile(UniqueFd fd, std::string path, std::string named)
        : LocalBinaryFile(std::move(fd), std::move(path)), named_(std::move(named)) {
        if (!named_.empty()) Guard();
    }

    void Close() override {
        if (named_.empty()) {
            const std::string self = "/proc/self/fd/" + std::to_string(fd());
            named_ = FreshNameBeside(path_, [&](const std::string& name) {
                if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
                if (errno != EEXIST) RaiseErrno(errno, "파일 '" + path_ + "' 만들기 실패");
                return false;
            });
            Guard();
        }
        LocalBinaryFile::Close();
        // Replaces the entry itself: a link there is never followed.
        if (::rename(named_.c_str(), path_.c_str()) != 0) RaiseErrno(errno, "파일 '" + path_ + "' 바꾸기 실패");
        namedGuard_->Keep();
    }

private:
    void Guard() { namedGuard_.emplace(std::vector<std::string>{named_}, LeftoverFiles::Watch::WhileRunning); }
    std::string named_;
    std::optional<LeftoverFiles> namedGuard_;  // the named file goes unless it took the path's place
};

}  // namespace

bool LocalFileSystem::FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void LocalFileSystem::Kill(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) RaiseErrno(EISDIR, "파일 '" + path + "' 삭제 실패");
    if (::unlink(path.c_str()) != 0) RaiseErrno(errno, "파일 '" + path + "' 삭제 실패");
}

std::unique_ptr<BinaryFile> LocalFileSystem::OpenBinary(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) RaiseErrno(errno, "파일 '" + path + "' 열기 실패");
    return std::make_unique<LocalBinaryFile>(std::move(fd), path);
}

std::unique_ptr<BinaryFile> LocalFileSystem::OpenForWriting(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (!fd) RaiseErrno(errno, "파일 '" + path + "' 열기 실패");
    return std::make_unique<LocalBinaryFile>(std::move(fd), path);
}

std::unique_ptr<BinaryFile> LocalFileSystem::CreateReplacing(const std::string& path) {
    UniqueFd fd(::open(FolderOf(path).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    std::string named;
    // File systems without unnamed files: a fresh name from the start.
    if (!fd) fd = CreateFreshBeside(path, named);
    return std::make_unique<ReplacingFile>(std::move(fd), path, std::move(named));
}

bool PathTaken(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

void RefuseTakenName(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) throw NameTakenError(path);
    if (errno != ENOENT) RaiseErrno(errno, "'" + path + "'을(를) 확인할 수 없습니다");
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string FolderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

UniqueFd CreateFreshBeside(const std::string& path, std::string& name) {
    UniqueFd fd;
    name = FreshNameBeside(path, [&](const std::string& candidate) {
        fd.reset(::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (fd) return true;
        if (errno != EEXIST) RaiseErrno(errno, "'" + FolderOf(path) + "' 폴더에 새 파일을 만들 수 없습니다");
        return false;
    });
    return fd;
}

void PlaceWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
    int e = errno;
    // Without RENAME_NOREPLACE a hard link, which never replaces either.
    if (e == EINVAL || e == ENOSYS) {
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str());
            return;
        }
        e = errno;
    }
    if (e == EEXIST) throw NameTakenError(to);
    RaiseErrno(e, "'" + to + "'(으)로 옮길 수 없습니다");
}

void SyncFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd || ::fsync(fd.get()) != 0) RaiseErrno(errno, "'" + path + "'을(를) 디스크에 기록할 수 없습니다");
}

void SyncFolder(const std::string& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) (void)::fsync(fd.get());
}
