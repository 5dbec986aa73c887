#include "os/temp_file.h"

#include <cerrno>

#include "os/os_error.h"
#include "os/paths.h"
#include "os/retry.h"

void AnonymousFile::WriteAt(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
    const auto n = TransferAll(bytes.size(), [&](std::size_t done) {
        return WriteSomeAt(fd_.get(), bytes.data() + done, bytes.size() - done, static_cast<std::int64_t>(offset + done));
    });
    if (n < 0) RaiseErrno(errno, "임시 파일에 쓸 수 없습니다");
}

void AnonymousFile::ReadAt(std::span<std::uint8_t> into, std::uint64_t offset) const {
    const auto n = TransferAll(into.size(), [&](std::size_t done) {
        return ReadSomeAt(fd_.get(), into.data() + done, into.size() - done, static_cast<std::int64_t>(offset + done));
    });
    if (n < 0) RaiseErrno(errno, "임시 파일을 읽을 수 없습니다");
    if (static_cast<std::size_t>(n) < into.size()) throw Error(err::DeviceIO, "임시 파일이 예상보다 일찍 끝났습니다.");
}
