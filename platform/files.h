#pragma once
// File services: the exists test, deletion and binary files with a length,
// reads and writes. Every failure raises an Error naming the file.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

// A file open for reading and writing at its first byte. Closed by Close or
// by the destructor on every path, error paths included.
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
    // Opens for binary reading and writing, creating an empty file when missing.
    virtual std::unique_ptr<BinaryFile> OpenBinary(const std::string& path) = 0;
};

class PosixFileSystem : public FileSystem {
public:
    bool FileExists(const std::string& path) override;
    void Kill(const std::string& path) override;
    std::unique_ptr<BinaryFile> OpenBinary(const std::string& path) override;
};

// `folder` joined with `name` by the platform's separator.
std::string JoinPath(const std::string& folder, const std::string& name);
