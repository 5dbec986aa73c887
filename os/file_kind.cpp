#include "os/file_kind.h"

#include <fcntl.h>

#include <cstring>

#include "os/unique_fd.h"

DatabaseKind KindOfHeader(std::span<const std::uint8_t> head) {
    static const char kSQLite[] = "SQLite format 3";  // 16 bytes with its NUL
    static const char kJet[] = "\x00\x01\x00\x00Standard Jet DB";
    if (head.size() >= 16 && std::memcmp(head.data(), kSQLite, 16) == 0) return DatabaseKind::SQLite;
    if (head.size() >= 19 && std::memcmp(head.data(), kJet, 19) == 0) return DatabaseKind::Jet;
    return DatabaseKind::Other;
}

DatabaseKind SniffDatabaseFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return DatabaseKind::Other;
    std::uint8_t head[kDatabaseHeaderBytes] = {};
    const ssize_t got = ::read(fd.get(), head, sizeof head);
    return got > 0 ? KindOfHeader(std::span(head, static_cast<std::size_t>(got))) : DatabaseKind::Other;
}
