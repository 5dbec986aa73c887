#pragma once
// An unnamed temporary file: gone from the file system from the start, so
// nothing is left behind whatever happens, and released with the object.
// Windows has no unnamed files: there it has a fresh name in %TEMP%, removed
// with the object (and by Windows' own clean-up of %TEMP% after a crash).
#include <cstdint>
#include <span>
#include <string>

#include "os/unique_fd.h"

class AnonymousFile {
public:
    // Made in $TMPDIR (or /tmp); raises an Error naming the folder on failure.
    AnonymousFile();
    ~AnonymousFile();
    AnonymousFile(AnonymousFile&& other) noexcept = default;
    AnonymousFile& operator=(AnonymousFile&&) = delete;

    // A path that reaches the open file while it lives, for services that take a path.
    std::string Path() const;
    // Writes `bytes` at `offset`; raises an Error (err::DiskFull when full).
    void WriteAt(std::span<const std::uint8_t> bytes, std::uint64_t offset);
    // Fills `into` from `offset`; raises an Error when the file ends first.
    void ReadAt(std::span<std::uint8_t> into, std::uint64_t offset) const;

private:
    UniqueFd fd_;
    std::string name_;  // only where the file has a name
};
