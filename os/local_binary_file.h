#pragma once
// The BinaryFile over a descriptor that every system's FileSystem hands out;
// each system's replacing file builds on it. Internal to os/.
#include <string>

#include "os/files.h"
#include "os/unique_fd.h"

class LocalBinaryFile : public BinaryFile {
public:
    LocalBinaryFile(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}

    std::int64_t Length() override;
    void Read(std::span<std::uint8_t> into) override;
    void Write(std::span<const std::uint8_t> bytes) override;
    void Truncate(std::int64_t length) override;
    void Close() override;

protected:
    int fd() const;
    UniqueFd fd_;
    std::string path_;
};
