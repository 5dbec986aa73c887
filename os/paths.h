#pragma once
// What the file system says of a path, and the few direct operations on
// paths and descriptors that code above os/ needs. Paths are UTF-8 on every
// system. Functions that return a descriptor or a bool leave errno set, as a
// system call would, for the caller's message.
#include <cstdint>
#include <span>
#include <string>

#include "os/unique_fd.h"

struct PathFacts {
    int error = 0;                // 0, or why nothing could be told (ENOENT: nothing is there)
    bool regular = false;         // a file, not a folder, device, FIFO or socket
    bool folder = false;
    std::int64_t size = 0;
    std::int64_t modified = 0;    // nanoseconds, for telling a changed file
    unsigned permissions = 0;     // POSIX permission bits; 0 where the system has none
    std::uint64_t device = 0;     // with `file`, the file's identity
    std::uint64_t file = 0;

    bool Exists() const { return error == 0; }
    // The same file, unchanged: identity, size and modification time.
    bool SameUnchanged(const PathFacts& other) const {
        return device == other.device && file == other.file && size == other.size && modified == other.modified;
    }
};

// Follows links.
PathFacts StatPath(const std::string& path);
// The entry itself: a link is reported as what it is, not followed.
PathFacts StatEntry(const std::string& path);
// An open descriptor's file.
PathFacts StatOpen(int fd);

// Whether this user may read and write the file.
bool MayReadAndWrite(const std::string& path);
// Whether this user may make and remove files in the folder.
bool MayWriteIn(const std::string& folder);

// Opens an existing file for reading; never waits (a FIFO with no writer),
// never takes a terminal. An invalid descriptor with errno on failure.
UniqueFd OpenForReading(const std::string& path);
// Opens an existing file for writing; never creates one.
UniqueFd OpenExistingForWriting(const std::string& path);
// Makes a new, empty file for writing, never over anything that has the
// name (errno EEXIST), never through a link.
UniqueFd CreateNewFile(const std::string& path);

// Reads and writes at the descriptor's position, or at `offset`; the
// number of bytes, or -1 with errno. Short counts are the caller's to repeat.
long long ReadSome(int fd, void* into, std::size_t size);
long long WriteSome(int fd, const void* bytes, std::size_t size);
long long ReadSomeAt(int fd, void* into, std::size_t size, std::int64_t offset);
long long WriteSomeAt(int fd, const void* bytes, std::size_t size, std::int64_t offset);
// Cuts the file off after `length` bytes; the position stays. False with errno.
bool TruncateFile(int fd, std::int64_t length);
// Flushes the file's data to the disk; false with errno on failure.
bool FlushToDisk(int fd);
// Starts writing `size` bytes from `offset` to the disk without waiting:
// only a hint, where the system has one.
void StartWriteBack(int fd, std::int64_t offset, std::int64_t size) noexcept;

// A new file without a name in `folder`, named by NameUnnamed once written:
// an empty descriptor, with errno, where the system or the file system has
// no such files (Windows; a file system without O_TMPFILE).
UniqueFd CreateUnnamedIn(const std::string& folder);
// Gives the unnamed file `fd` the name `path`, never over anything; false
// with errno (EEXIST: taken).
bool NameUnnamed(int fd, const std::string& path);

// Makes one folder; false with errno on failure (EEXIST: something has the name).
bool MakeFolder(const std::string& path);
// Removes a file (not a folder); false with errno on failure.
bool RemoveFile(const std::string& path);
// Removes a file, as a clean-up that cannot report: errors are ignored.
void RemoveQuietly(const std::string& path) noexcept;
// Renames `from` to `to` only when nothing has the name `to` (errno EEXIST);
// false with errno otherwise.
bool RenameWithoutReplacing(const std::string& from, const std::string& to);
// Renames `from` over whatever entry `to` is (a link there is replaced, not
// followed); false with errno on failure.
bool RenameReplacing(const std::string& from, const std::string& to);
// Whether the file itself lets RenameReplacing put another in its place:
// false with errno EROFS for a file Windows keeps read-only (its attribute
// binds every name of the file, so a second name of it cannot be removed
// either). On POSIX only the folder decides: always true.
bool MayBeReplaced(const std::string& path);
// A second name `to` for the file `from`; false with errno (EEXIST: taken;
// EPERM, EXDEV, EOPNOTSUPP, EMLINK, ENOSYS: the file system has none).
bool HardLink(const std::string& from, const std::string& to);
// Gives `path` the permission bits `from` had; nothing where there are none.
void CopyPermissions(const PathFacts& from, const std::string& path) noexcept;

// The path spelled for a C library that opens files by a char* name (fopen):
// on POSIX the path itself. Windows' C library reads such a name in the ANSI
// code page, which has no room for most Korean names, and only up to 260
// characters: there a plain ASCII path short enough goes as it is, any other
// as its 8.3 short name. Empty, with errno, when there is no such spelling
// (ENOENT: no file; EILSEQ: the volume keeps no short names; ENAMETOOLONG:
// even the short name is too long).
std::string NarrowLibraryPath(const std::string& path);
