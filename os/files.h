#pragma once
// File services: the exists test, deletion and binary files with a length,
// reads and writes. Every failure raises an Error naming the file.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "os/error.h"
#include "os/unique_fd.h"

// A file open at its first byte: for reading only (OpenBinary) or for
// writing (CreateReplacing, OpenForWriting). Closed by Close or by the
// destructor on every path, error paths included.
class BinaryFile {
public:
    virtual ~BinaryFile() = default;
    virtual std::int64_t Length() = 0;
    // Fills `into` from the current position, which advances; a file that
    // ends first raises err::InputPastEnd.
    virtual void Read(std::span<std::uint8_t> into) = 0;
    virtual void Write(std::span<const std::uint8_t> bytes) = 0;
    // Cuts the file off after `length` bytes.
    virtual void Truncate(std::int64_t length) = 0;
    // Reports the errors of the final flush, which the destructor cannot.
    virtual void Close() = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // True for an existing file that is not a folder.
    virtual bool FileExists(const std::string& path) = 0;
    // Raises an Error when there is no such file or it cannot be deleted.
    virtual void Kill(const std::string& path) = 0;
    // Opens an existing file for binary reading only, so a file the user may
    // read but not write can be stored; never creates one, so a dangling link
    // planted after an exists test makes nothing.
    virtual std::unique_ptr<BinaryFile> OpenBinary(const std::string& path) = 0;
    // A new, empty file that takes the place of `path` when Close succeeds.
    // It is made without a name in path's folder (or under a fresh one, with
    // O_EXCL), so nothing planted at `path` is followed or written into;
    // Close renames it over whatever entry `path` is, a link included.
    // Dropped, or failing, it leaves `path` as it was and nothing else behind.
    virtual std::unique_ptr<BinaryFile> CreateReplacing(const std::string& path) = 0;
};

class LocalFileSystem : public FileSystem {
public:
    bool FileExists(const std::string& path) override;
    void Kill(const std::string& path) override;
    std::unique_ptr<BinaryFile> OpenBinary(const std::string& path) override;
    std::unique_ptr<BinaryFile> CreateReplacing(const std::string& path) override;
    // Opens an existing file for writing; never creates one.
    std::unique_ptr<BinaryFile> OpenForWriting(const std::string& path);
};

// True when anything at all has the name `path` (a folder, a dangling link),
// or when that cannot be told: nothing may be made there. FileExists, which
// looks through links for a file, is the window's question; this is the
// question of a command about to make something.
bool PathTaken(const std::string& path);

// The Error for a name something already has: nothing is ever overwritten.
Error NameTakenError(const std::string& path, int number = err::PathFileAccess);
// Raises NameTakenError when something has the name `path`, and the system's
// reason when that cannot be told (a folder that cannot be searched).
void RefuseTakenName(const std::string& path);

// `folder` joined with `name` by the platform's separator.
std::string JoinPath(const std::string& folder, const std::string& name);
// The folder part of `path` ("." for a bare name).
std::string FolderOf(const std::string& path);
// The last part of `path`, after the folder.
std::string BaseNameOf(const std::string& path);

// Tries `attempt` on fresh hidden names beside `path` until one is free and
// returns it; `attempt` returns false only when the name is taken.
std::string FreshNameBeside(const std::string& path, const std::function<bool(const std::string&)>& attempt);

// A new, empty file with a fresh hidden name beside `path`, made with O_EXCL
// (never through a link, never into an existing file); `name` is set to it.
UniqueFd CreateFreshBeside(const std::string& path, std::string& name);
// Gives the file `from` the name `to` unless something already has it
// (err::PathFileAccess, "이미 있습니다"); `from` is gone when it succeeds.
void PlaceWithoutReplacing(const std::string& from, const std::string& to);
// Makes the folder `path` and every missing folder above it; true when
// `path` is a folder at the end, false with errno otherwise (ENOTDIR:
// something other than a folder has one of the names).
bool MakeFolders(const std::string& path);
// Flushes the file at `path` to the disk; raises an Error naming it.
void SyncFile(const std::string& path);
// Flushes a folder's entries to the disk; best effort, never raises.
void SyncFolder(const std::string& folder);
