#pragma once
// Inside the engine layer: RAII owners of SQLite's handles and the helpers
// every SQLite call goes through, which turn a result code into an Error.
#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>

#include "engine/engine.h"
#include "engine/sql_words.h"

struct StmtDeleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

struct DbDeleter {
    void operator()(sqlite3* d) const { sqlite3_close_v2(d); }
};
using Db = std::unique_ptr<sqlite3, DbDeleter>;

struct BlobDeleter {
    void operator()(sqlite3_blob* b) const { sqlite3_blob_close(b); }
};
using BlobHandle = std::unique_ptr<sqlite3_blob, BlobDeleter>;

// How long a write waits for another process's lock, and how long opening
// waits before it calls the file held exclusively.
inline constexpr int kBusyTimeoutMs = 5000;
inline constexpr int kOpenBusyTimeoutMs = 2000;

// Opens the SQLite file at `path` the one way this layer does: a connection
// for one thread, extended result codes, and a wait of `busyTimeoutMs` for
// another process's lock. `flags` choose read-only, read-write or create.
// Raises the Error for a failure, described as `context`.
Db OpenSqlite(const std::string& path, int flags, const std::string& context, int busyTimeoutMs = kBusyTimeoutMs);

// The system's error number for an SQLite (extended) result code and message.
int NumberFor(int rc, const std::string& message);

// Raises the Error for `rc`, described as `context` and SQLite's message,
// keeping the extended code and `statement`.
[[noreturn]] void Raise(sqlite3* db, int rc, const std::string& context, const std::string& statement = {});

// Raises unless `rc` is OK, DONE or ROW.
void Check(sqlite3* db, int rc, const std::string& context);

// Prepares exactly one statement: trailing statements are refused, so text
// pasted into a statement can never run a second command.
Stmt Prepare(sqlite3* db, const std::string& sql);

// Prepares and runs one statement to its end, with `params` bound.
void Exec(sqlite3* db, const std::string& sql, const std::string& context, const Params& params = {});

// The statements run between its making and Commit land together or not at
// all: in a transaction of its own when none is open, else in a savepoint of
// the caller's. Dropped without Commit (an Error on the way), it undoes them.
class AllOrNothing {
public:
    AllOrNothing(sqlite3* db, const std::string& context);
    ~AllOrNothing();
    AllOrNothing(const AllOrNothing&) = delete;
    AllOrNothing& operator=(const AllOrNothing&) = delete;
    void Commit();

private:
    sqlite3* db_;
    std::string context_;
    bool own_;
    bool done_ = false;
};

// Column `i` of the current row, as the engine's Variant.
Variant ColumnValue(sqlite3_stmt* s, int i);

// Binds `v` to parameter `i`.
void Bind(sqlite3* db, sqlite3_stmt* s, int i, const Variant& v);

// Binds `params` to the statement's $1, $2, …; refuses (naming `sql`) a
// statement whose parameters are not exactly those.
void BindAll(sqlite3* db, sqlite3_stmt* s, const Params& params, const std::string& sql);
