#include "os/files.h"

#include <cerrno>
#include <optional>

#include "os/leftovers.h"
#include "os/local_binary_file.h"
#include "os/os_error.h"
#include "os/paths.h"
#include "text/korean.h"

namespace {

// Written under a fresh hidden name beside its path, flushed, and moved over
// the path by Close; removed instead when dropped or when Close fails.
// Windows has no unnamed files, so the name exists from the start.
class ReplacingFile : public LocalBinaryFile {
public:
    ReplacingFile(UniqueFd fd, std::string path, std::string named)
        : LocalBinaryFile(std::move(fd), std::move(path)),
          named_(std::move(named)),
          namedGuard_(std::vector<std::string>{named_}, LeftoverFiles::Watch::WhileRunning) {}

    void Close() override {
        // Whole on the disk before it takes the path's place.
        if (!FlushToDisk(fd())) RaiseErrno(errno, "파일 " + WithParticle("'" + path_ + "'", Particle::EulReul) + " 디스크에 기록할 수 없습니다");
        LocalBinaryFile::Close();
        if (!RenameReplacing(named_, path_)) RaiseErrno(errno, "파일 " + WithParticle("'" + path_ + "'", Particle::EulReul) + " 새 내용으로 바꿀 수 없습니다");
        namedGuard_.Keep();
    }

private:
    std::string named_;
    LeftoverFiles namedGuard_;  // the named file goes unless it took the path's place
};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::unique_ptr<BinaryFile> LocalFileSystem::CreateReplacing(const std::string& path) {
    std::string named;
    UniqueFd fd = CreateFreshBeside(path, named);
    return std::make_unique<ReplacingFile>(std::move(fd), path, std::move(named));
}

// Windows takes both separators; the system's own paths use the backslash.
std::string JoinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && IsSeparator(folder.back())) return folder + name;
    return folder + "\\" + name;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    if (slash == std::string::npos) {
        // "C:name" is relative to drive C's folder.
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    }
    // The root keeps its separator: "C:\", "\".
    if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    auto slash = path.find_last_of("\\/");
    if (slash == std::string::npos && path.size() >= 2 && path[1] == ':') slash = 1;
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

UniqueFd CreateFreshBeside(const std::string& path, std::string& name) {
    UniqueFd fd;
    name = FreshNameBeside(path, [&](const std::string& candidate) {
        fd = CreateNewFile(candidate);
        if (fd) return true;
        if (errno != EEXIST) RaiseErrnoAt(errno, "폴더 '" + FolderOf(path) + "'에 새 파일을 만들 수 없습니다", path);
        return false;
    });
    return fd;
}

void PlaceWithoutReplacing(const std::string& from, const std::string& to) {
    if (RenameWithoutReplacing(from, to)) return;
    if (errno == EEXIST) throw NameTakenError(to);
    RaiseErrno(errno, WithParticle("'" + to + "'", Particle::EuroRo) + " 옮길 수 없습니다");
}

void SyncFile(const std::string& path) {
    // FlushFileBuffers needs a handle that may write.
    UniqueFd fd = OpenExistingForWriting(path);
    if (!fd || !FlushToDisk(fd.get())) RaiseErrno(errno, WithParticle("'" + path + "'", Particle::EulReul) + " 디스크에 기록할 수 없습니다");
}

// NTFS journals its folder entries, and MoveFileExW with
// MOVEFILE_WRITE_THROUGH returns only once a move is on the disk: there is
// no folder to flush.
void SyncFolder(const std::string&) {}
