#include "os/files.h"

#include <cerrno>

#include "os/local_binary_file.h"
#include "os/os_error.h"
#include "os/paths.h"
#include "os/process.h"
#include "os/retry.h"
#include "text/korean.h"

std::int64_t LocalBinaryFile::Length() {
    const PathFacts facts = StatOpen(fd());
    if (!facts.Exists()) RaiseErrno(facts.error, "파일 '" + path_ + "'의 길이를 알 수 없습니다");
    return facts.size;
}

void LocalBinaryFile::Read(std::span<std::uint8_t> into) {
    const auto n = TransferAll(into.size(), [&](std::size_t done) {
        return ReadSome(fd(), into.data() + done, into.size() - done);
    });
    if (n < 0) RaiseErrno(errno, "파일 " + WithParticle("'" + path_ + "'", Particle::EulReul) + " 읽을 수 없습니다");
    if (static_cast<std::size_t>(n) < into.size())
        throw Error(err::InputPastEnd, "파일 " + WithParticle("'" + path_ + "'", Particle::IGa) + " 예상보다 일찍 끝났습니다.");
}

void LocalBinaryFile::Write(std::span<const std::uint8_t> bytes) {
    const auto n = TransferAll(bytes.size(), [&](std::size_t done) {
        return WriteSome(fd(), bytes.data() + done, bytes.size() - done);
    });
    if (n < 0) RaiseErrno(errno, "파일 '" + path_ + "'에 쓸 수 없습니다");
}

void LocalBinaryFile::Truncate(std::int64_t length) {
    if (!TruncateFile(fd(), length)) RaiseErrno(errno, "파일 '" + path_ + "'의 길이를 바꿀 수 없습니다");
}

void LocalBinaryFile::Close() {
    if (fd_.Close() != 0) RaiseErrno(errno, "파일 " + WithParticle("'" + path_ + "'", Particle::EulReul) + " 닫을 수 없습니다");
}

int LocalBinaryFile::fd() const {
    if (!fd_) throw Error(err::PathFileAccess, "파일 " + WithParticle("'" + path_ + "'", Particle::IGa) + " 닫혀 있습니다.");
    return fd_.get();
}

bool LocalFileSystem::FileExists(const std::string& path) {
    if (path.empty()) return false;
    const PathFacts facts = StatPath(path);
    return facts.Exists() && !facts.folder;
}

void LocalFileSystem::Kill(const std::string& path) {
    const PathFacts entry = StatEntry(path);
    if (entry.Exists() && entry.folder) RaiseErrno(EISDIR, "파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " 지울 수 없습니다");
    if (!RemoveFile(path)) RaiseErrno(errno, "파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " 지울 수 없습니다");
}

std::unique_ptr<BinaryFile> LocalFileSystem::OpenBinary(const std::string& path) {
    UniqueFd fd = OpenForReading(path);
    if (!fd) RaiseErrnoAt(errno, "파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " 열 수 없습니다", path);
    return std::make_unique<LocalBinaryFile>(std::move(fd), path);
}

std::unique_ptr<BinaryFile> LocalFileSystem::OpenForWriting(const std::string& path) {
    UniqueFd fd = OpenExistingForWriting(path);
    if (!fd) RaiseErrnoAt(errno, "파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " 열 수 없습니다", path);
    return std::make_unique<LocalBinaryFile>(std::move(fd), path);
}

bool PathTaken(const std::string& path) { return StatEntry(path).error != ENOENT; }

Error NameTakenError(const std::string& path, int number) {
    return Error(number, WithParticle("'" + path + "'", Particle::IGa) + " 이미 있어 덮어쓰지 않습니다. 다른 이름을 주거나 있는 것을 먼저 옮기십시오.");
}

void RefuseTakenName(const std::string& path) {
    const PathFacts entry = StatEntry(path);
    if (entry.Exists()) throw NameTakenError(path);
    if (entry.error != ENOENT) RaiseErrno(entry.error, WithParticle("'" + path + "'", Particle::EulReul) + " 확인할 수 없습니다");
}

std::string FreshNameBeside(const std::string& path, const std::function<bool(const std::string&)>& attempt) {
    const std::string base = BaseNameOf(path);
    const bool bare = base == path;
    for (int n = 0; n < 1000; ++n) {
        // Appended piece by piece: gcc 12 warns falsely (-Wrestrict) on "." + base.
        std::string name(1, '.');
        name.append(base).append(1, '.').append(std::to_string(ProcessId())).append(1, '-').append(std::to_string(n));
        const std::string candidate = bare ? name : JoinPath(FolderOf(path), name);
        if (attempt(candidate)) return candidate;
    }
    throw Error(err::PathFileAccess, "'" + FolderOf(path) + "' 폴더에 쓸 새 이름이 남아 있지 않습니다.");
}

bool MakeFolders(const std::string& path) {
    const PathFacts facts = StatPath(path);
    if (facts.folder) return true;
    if (facts.Exists()) {
        errno = ENOTDIR;
        return false;
    }
    // The root, a drive or "." always exist: the walk up ends at one of them.
    const std::string parent = FolderOf(path);
    if (parent != path && !MakeFolders(parent)) return false;
    if (MakeFolder(path)) return true;
    // Made meanwhile by another program: as good.
    const int e = errno;
    if (e == EEXIST && StatPath(path).folder) return true;
    errno = e;
    return false;
}
