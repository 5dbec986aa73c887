#pragma once
// An unnamed temporary file: gone from the file system from the start, so
// nothing is left behind whatever happens, and released with the object.
#include <cstdint>
#include <span>
#include <string>

#include "os/unique_fd.h"

class AnonymousFile {
public:
    // Made in $TMPDIR (or /tmp); raises an Error naming the folder on failure.
    AnonymousFile();
    // A path that reaches the open file while it lives, for services that take a path.
    std::string Path() const;
    // Writes `bytes` at `offset`; raises an Error (err::DiskFull when full).
    void WriteAt(std::span<const std::uint8_t> bytes, std::uint64_t offset);
    // Fills `into` from `offset`; raises an Error when the file ends first.
    void ReadAt(std::span<std::uint8_t> into, std::uint64_t offset) const;

private:
    UniqueFd fd_;
};
