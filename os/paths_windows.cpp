#include "os/paths.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "os/windows_text.h"

// Every handle here shares reading, writing and deleting with other
// handles, as POSIX descriptors do: SQLite opens the same files while they
// are open here, and a file open here may still be renamed or removed.
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// A CRT descriptor owning `h`, so UniqueFd closes it; invalid with errno on failure.
UniqueFd Adopt(HANDLE h, int flags) {
    if (h == INVALID_HANDLE_VALUE) {
        FailWithLastError();
        return UniqueFd();
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) CloseHandle(h);
    return UniqueFd(fd);
}

std::int64_t Join(DWORD high, DWORD low) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

PathFacts FactsOfHandle(HANDLE h) {
    PathFacts facts;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info)) {
        facts.error = ErrnoOf(GetLastError());
        return facts;
    }
    facts.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A device or pipe has no file information; a link opened as itself is not a file.
    facts.regular = !facts.folder && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
                    GetFileType(h) == FILE_TYPE_DISK;
    facts.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
    // 100-nanosecond ticks.
    facts.modified = Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime) * 100;
    facts.device = info.dwVolumeSerialNumber;
    facts.file = static_cast<std::uint64_t>(Join(info.nFileIndexHigh, info.nFileIndexLow));
    return facts;
}

PathFacts FactsOfPath(const std::string& path, DWORD flags) {
    // No access but the attributes: works on files others hold exclusively.
    HANDLE h = CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        PathFacts facts;
        facts.error = ErrnoOf(GetLastError());
        return facts;
    }
    PathFacts facts = FactsOfHandle(h);
    CloseHandle(h);
    return facts;
}

bool ReadOnlyAttribute(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// Runs `io` with the file position kept as it was, as pread and pwrite leave it.
template <class Io>
long long AtOffset(int fd, std::int64_t offset, Io io) {
    HANDLE h = HandleOf(fd);
    LARGE_INTEGER here{}, zero{};
    if (!SetFilePointerEx(h, zero, &here, FILE_CURRENT)) {
        FailWithLastError();
        return -1;
    }
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xffffffffu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD done = 0;
    const bool ok = io(h, &at, &done);
    const DWORD code = GetLastError();
    SetFilePointerEx(h, here, nullptr, FILE_BEGIN);
    if (ok) return done;
    if (code == ERROR_HANDLE_EOF) return 0;
    errno = ErrnoOf(code);
    return -1;
}

}  // namespace

PathFacts StatPath(const std::string& path) { return FactsOfPath(path, 0); }

PathFacts StatEntry(const std::string& path) { return FactsOfPath(path, FILE_FLAG_OPEN_REPARSE_POINT); }

PathFacts StatOpen(int fd) {
    HANDLE h = HandleOf(fd);
    if (h == INVALID_HANDLE_VALUE) {
        PathFacts facts;
        facts.error = EBADF;
        return facts;
    }
    return FactsOfHandle(h);
}

bool MayReadAndWrite(const std::string& path) {
    if (ReadOnlyAttribute(path)) {
        errno = EROFS;
        return false;
    }
    HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FailWithLastError();
    CloseHandle(h);
    return true;
}

bool MayWriteIn(const std::string& folder) {
    // Windows answers this only by trying (ACLs, not mode bits): a probe
    // file that goes again when its handle closes, named for the thread, as
    // two threads of a program may ask at once, and another name tried when
    // one is taken.
    const std::string probe = folder + "\\.kaldoria-probe-" + std::to_string(GetCurrentProcessId()) + "-" +
                              std::to_string(GetCurrentThreadId()) + "-";
    for (int n = 0; n < 100; ++n) {
        HANDLE h = CreateFileW(WidePath(probe + std::to_string(n)).c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return FailWithLastError();
    }
    return FailWithLastError();
}

UniqueFd OpenForReading(const std::string& path) {
    // Backup semantics: a folder opens too, so that callers can tell it apart.
    return Adopt(CreateFileW(WidePath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr),
                 _O_RDONLY);
}

UniqueFd OpenExistingForWriting(const std::string& path) {
    // Windows refuses a read-only file's write open itself; asked first so
    // that the reason is told (and so under Wine run as root, which lets
    // root write it).
    if (ReadOnlyAttribute(path)) {
        errno = EROFS;
        return UniqueFd();
    }
    UniqueFd fd = Adopt(CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr),
                        _O_WRONLY);
    return fd;
}

UniqueFd CreateNewFile(const std::string& path) {
    // CREATE_NEW with the reparse point opened as itself: a link, even a
    // dangling one, already has the name and is never followed.
    return Adopt(CreateFileW(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr),
                 _O_RDWR);
}

long long ReadSome(int fd, void* into, std::size_t size) {
    DWORD done = 0;
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    if (ReadFile(HandleOf(fd), into, want, &done, nullptr)) return done;
    if (GetLastError() == ERROR_BROKEN_PIPE) return 0;  // the writer has gone: the end
    FailWithLastError();
    return -1;
}

long long WriteSome(int fd, const void* bytes, std::size_t size) {
    DWORD done = 0;
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    if (WriteFile(HandleOf(fd), bytes, want, &done, nullptr)) return done;
    FailWithLastError();
    return -1;
}

long long ReadSomeAt(int fd, void* into, std::size_t size, std::int64_t offset) {
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    return AtOffset(fd, offset, [&](HANDLE h, OVERLAPPED* at, DWORD* done) { return ReadFile(h, into, want, done, at); });
}

long long WriteSomeAt(int fd, const void* bytes, std::size_t size, std::int64_t offset) {
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    return AtOffset(fd, offset, [&](HANDLE h, OVERLAPPED* at, DWORD* done) { return WriteFile(h, bytes, want, done, at); });
}

bool TruncateFile(int fd, std::int64_t length) {
    HANDLE h = HandleOf(fd);
    LARGE_INTEGER here{}, zero{}, to{};
    to.QuadPart = length;
    if (!SetFilePointerEx(h, zero, &here, FILE_CURRENT) || !SetFilePointerEx(h, to, nullptr, FILE_BEGIN))
        return FailWithLastError();
    const bool ok = SetEndOfFile(h);
    const DWORD code = GetLastError();
    SetFilePointerEx(h, here, nullptr, FILE_BEGIN);
    if (ok) return true;
    errno = ErrnoOf(code);
    return false;
}

bool FlushToDisk(int fd) { return FlushFileBuffers(HandleOf(fd)) ? true : FailWithLastError(); }

void StartWriteBack(int, std::int64_t, std::int64_t) noexcept {}  // Windows has no such hint

// Windows has no files without a name.
UniqueFd CreateUnnamedIn(const std::string&) {
    errno = EOPNOTSUPP;
    return {};
}

bool NameUnnamed(int, const std::string&) {
    errno = EOPNOTSUPP;
    return false;
}

bool MakeFolder(const std::string& path) {
    return CreateDirectoryW(WidePath(path).c_str(), nullptr) ? true : FailWithLastError();
}

bool RemoveFile(const std::string& path) { return DeleteFileW(WidePath(path).c_str()) ? true : FailWithLastError(); }

void RemoveQuietly(const std::string& path) noexcept { DeleteFileW(WidePath(path).c_str()); }

bool RenameWithoutReplacing(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING an existing `to` fails the move
    // (ERROR_ALREADY_EXISTS). Wine was seen to rename onto another hard link
    // of the same file regardless; Windows does not.
    return MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_WRITE_THROUGH) ? true
                                                                                            : FailWithLastError();
}

bool RenameReplacing(const std::string& from, const std::string& to) {
    // Windows refuses to replace a read-only file; asked first, as above.
    if (ReadOnlyAttribute(to)) {
        errno = EROFS;
        return false;
    }
    // The entry at `to` is replaced, a symbolic link or junction included,
    // never what it points to; MOVEFILE_WRITE_THROUGH returns once the move
    // is on the disk.
    if (MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    const DWORD code = GetLastError();
    errno = ErrnoOf(code);
    if (code != ERROR_ACCESS_DENIED) return false;
    // Windows also says "access denied" for a file another program holds
    // open without sharing deletion: tell that apart.
    HANDLE h = CreateFileW(WidePath(to).c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) errno = EBUSY;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return false;
}

bool MayBeReplaced(const std::string& path) {
    if (!ReadOnlyAttribute(path)) return true;
    errno = EROFS;
    return false;
}

bool HardLink(const std::string& from, const std::string& to) {
    return CreateHardLinkW(WidePath(to).c_str(), WidePath(from).c_str(), nullptr) ? true : FailWithLastError();
}

// Windows keeps access in ACLs, which a file made in the same folder
// inherits from it: there are no permission bits to carry over.
void CopyPermissions(const PathFacts&, const std::string&) noexcept {}

namespace {
template <typename Text>
bool PlainAscii(const Text& text) {
    return std::all_of(text.begin(), text.end(), [](auto c) { return c > 0 && c < 0x7f; });
}
}  // namespace

std::string NarrowLibraryPath(const std::string& path) {
    if (PlainAscii(path) && path.size() < MAX_PATH) return path;
    // The short name of every part of the path, made when the file was;
    // an NTFS volume may have that turned off (fsutil 8dot3name), and other
    // file systems may keep none. (Wine makes up short names of its own, so
    // the volume without them was not seen under Wine.)
    const std::wstring wide = WidePath(path);
    DWORD n = GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (n == 0) {
        FailWithLastError();
        return {};
    }
    std::wstring shortName(n, L'\0');
    n = GetShortPathNameW(wide.c_str(), shortName.data(), n);
    if (n == 0 || n >= shortName.size()) {
        if (n == 0) FailWithLastError(); else errno = EIO;
        return {};
    }
    shortName.resize(n);
    if (shortName.rfind(L"\\\\?\\UNC\\", 0) == 0) shortName = L"\\\\" + shortName.substr(8);
    else if (shortName.rfind(L"\\\\?\\", 0) == 0) shortName = shortName.substr(4);
    // A part without a short name keeps its long one.
    if (!PlainAscii(shortName)) {
        errno = EILSEQ;
        return {};
    }
    if (shortName.size() >= MAX_PATH) {
        errno = ENAMETOOLONG;
        return {};
    }
    return std::string(shortName.begin(), shortName.end());
}
