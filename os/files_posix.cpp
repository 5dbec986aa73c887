#include "os/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "os/leftovers.h"
#include "os/local_binary_file.h"
#include "os/os_error.h"
#include "os/paths.h"
#include "os/unique_fd.h"
#include "text/korean.h"

namespace {

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
            named_ = FreshNameBeside(path_, [&](const std::string& name) {
                if (NameUnnamed(fd(), name)) return true;
                if (errno != EEXIST) RaiseErrnoAt(errno, "파일 " + WithParticle("'" + path_ + "'", Particle::EulReul) + " 만들 수 없습니다", path_);
                return false;
            });
            Guard();
        }
        LocalBinaryFile::Close();
        // Replaces the entry itself: a link there is never followed.
        if (::rename(named_.c_str(), path_.c_str()) != 0) RaiseErrno(errno, "파일 " + WithParticle("'" + path_ + "'", Particle::EulReul) + " 새 내용으로 바꿀 수 없습니다");
        namedGuard_->Keep();
    }

private:
    void Guard() { namedGuard_.emplace(std::vector<std::string>{named_}, LeftoverFiles::Watch::WhileRunning); }
    std::string named_;
    std::optional<LeftoverFiles> namedGuard_;  // the named file goes unless it took the path's place
};

}  // namespace

std::unique_ptr<BinaryFile> LocalFileSystem::CreateReplacing(const std::string& path) {
    UniqueFd fd = CreateUnnamedIn(FolderOf(path));
    std::string named;
    // File systems without unnamed files: a fresh name from the start.
    if (!fd) fd = CreateFreshBeside(path, named);
    return std::make_unique<ReplacingFile>(std::move(fd), path, std::move(named));
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
        if (errno != EEXIST) RaiseErrnoAt(errno, "폴더 '" + FolderOf(path) + "'에 새 파일을 만들 수 없습니다", path);
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
    RaiseErrno(e, WithParticle("'" + to + "'", Particle::EuroRo) + " 옮길 수 없습니다");
}

void SyncFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd || ::fsync(fd.get()) != 0) RaiseErrno(errno, WithParticle("'" + path + "'", Particle::EulReul) + " 디스크에 기록할 수 없습니다");
}

void SyncFolder(const std::string& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) (void)::fsync(fd.get());
}
