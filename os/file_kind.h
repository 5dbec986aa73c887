#pragma once
// What a database file's first bytes say it is: the one header test that the
// engine, the companion tool and the Jet reader share.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

enum class DatabaseKind { SQLite, Jet, Other };

// Bytes enough for every test here (the SQLite header is 100 bytes long).
inline constexpr std::size_t kDatabaseHeaderBytes = 100;

// The kind of a file that starts with `head`.
DatabaseKind KindOfHeader(std::span<const std::uint8_t> head);

// The kind of the file at `path`; Other for a file that cannot be read.
DatabaseKind SniffDatabaseFile(const std::string& path);
