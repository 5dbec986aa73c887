#include "os/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

PathFacts FactsOf(int rc, const struct stat& st) {
    PathFacts facts;
    if (rc != 0) {
        facts.error = errno;
        return facts;
    }
    facts.regular = S_ISREG(st.st_mode);
    facts.folder = S_ISDIR(st.st_mode);
    facts.size = st.st_size;
    facts.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    facts.permissions = st.st_mode & 07777;
    facts.device = st.st_dev;
    facts.file = st.st_ino;
    return facts;
}

}  // namespace

PathFacts StatPath(const std::string& path) {
    struct stat st {};
    const int rc = ::stat(path.c_str(), &st);
    return FactsOf(rc, st);
}

PathFacts StatEntry(const std::string& path) {
    struct stat st {};
    const int rc = ::lstat(path.c_str(), &st);
    return FactsOf(rc, st);
}

PathFacts StatOpen(int fd) {
    struct stat st {};
    const int rc = ::fstat(fd, &st);
    return FactsOf(rc, st);
}

bool MayReadAndWrite(const std::string& path) { return ::access(path.c_str(), R_OK | W_OK) == 0; }

bool MayWriteIn(const std::string& folder) { return ::access(folder.c_str(), W_OK | X_OK) == 0; }

UniqueFd OpenForReading(const std::string& path) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

UniqueFd OpenExistingForWriting(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
}

UniqueFd CreateNewFile(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
}

long long ReadSome(int fd, void* into, std::size_t size) { return ::read(fd, into, size); }
long long WriteSome(int fd, const void* bytes, std::size_t size) { return ::write(fd, bytes, size); }
long long ReadSomeAt(int fd, void* into, std::size_t size, std::int64_t offset) {
    return ::pread(fd, into, size, static_cast<off_t>(offset));
}
long long WriteSomeAt(int fd, const void* bytes, std::size_t size, std::int64_t offset) {
    return ::pwrite(fd, bytes, size, static_cast<off_t>(offset));
}

bool TruncateFile(int fd, std::int64_t length) { return ::ftruncate(fd, static_cast<off_t>(length)) == 0; }

bool FlushToDisk(int fd) { return ::fsync(fd) == 0; }

void StartWriteBack(int fd, std::int64_t offset, std::int64_t size) noexcept {
    ::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(size), SYNC_FILE_RANGE_WRITE);
}

UniqueFd CreateUnnamedIn(const std::string& folder) {
    return UniqueFd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
}

bool NameUnnamed(int fd, const std::string& path) {
    // linkat's AT_EMPTY_PATH needs a privilege; the descriptor's /proc entry does not.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

bool MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

void RemoveQuietly(const std::string& path) noexcept { ::unlink(path.c_str()); }

bool RenameWithoutReplacing(const std::string& from, const std::string& to) {
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool RenameReplacing(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

bool HardLink(const std::string& from, const std::string& to) { return ::link(from.c_str(), to.c_str()) == 0; }

void CopyPermissions(const PathFacts& from, const std::string& path) noexcept {
    ::chmod(path.c_str(), from.permissions);
}

bool MayBeReplaced(const std::string&) { return true; }

std::string NarrowLibraryPath(const std::string& path) { return path; }
