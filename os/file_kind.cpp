#include "os/file_kind.h"

#include <cstring>

#include "os/paths.h"

DatabaseKind KindOfHeader(std::span<const std::uint8_t> head) {
    static const char kSQLite[] = "SQLite format 3";  // 16 bytes with its NUL
    static const char kJet[] = "\x00\x01\x00\x00Standard Jet DB";
    if (head.size() >= 16 && std::memcmp(head.data(), kSQLite, 16) == 0) return DatabaseKind::SQLite;
    if (head.size() >= 19 && std::memcmp(head.data(), kJet, 19) == 0) return DatabaseKind::Jet;
    return DatabaseKind::Other;
}

DatabaseKind SniffDatabaseFile(const std::string& path) {
    UniqueFd fd = OpenForReading(path);
    if (!fd) return DatabaseKind::Other;
    std::uint8_t head[kDatabaseHeaderBytes] = {};
    const long long got = ReadSomeAt(fd.get(), head, sizeof head, 0);
    return got > 0 ? KindOfHeader(std::span(head, static_cast<std::size_t>(got))) : DatabaseKind::Other;
}
