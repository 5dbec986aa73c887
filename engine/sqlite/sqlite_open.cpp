// Opening and making SQLite files: the local book, and the one way every
// connection of this layer is opened.

#include <cerrno>

#include "engine/kinds.h"
#include "engine/sqlite/database_file.h"
#include "engine/sqlite/interrupted_write.h"
#include "engine/sqlite/link_file.h"
#include "engine/sqlite/sqlite_backend.h"
#include "os/files.h"
#include "os/paths.h"
#include "os/network_fs.h"
#include "os/os_error.h"
#include "os/unique_fd.h"
#include "text/korean.h"

Db OpenSqlite(const std::string& path, int flags, const std::string& context, int busyTimeoutMs) {
    sqlite3* raw = nullptr;
    // Each connection serves one thread, so SQLite need not lock on every call.
    const int rc = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE, nullptr);
    Db db(raw);
    if (rc != SQLITE_OK) Raise(raw, rc, context);
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, busyTimeoutMs);
    return db;
}

std::shared_ptr<ConnectionImpl> OpenLocalBook(const std::string& path, bool readOnly, std::optional<std::string>& link) {
    // First, as a file cut off mid-write can look truncated until then, and
    // a read-only connection could not read it at all.
    RollBackInterruptedWrite(path);
    CheckDatabaseFile(path, true);
    const std::string context = "데이터베이스 " + path + " 열기";
    Db handle = OpenSqlite(path, readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE, context, kOpenBusyTimeoutMs);
    sqlite3* raw = handle.get();
    try {
        // Reading the schema and checking the pages makes a locked, foreign or
        // damaged file fail here rather than at the first statement.
        Exec(raw, "SELECT count(*) FROM sqlite_schema", context);
        // A link file is only read; the server does the writing.
        if ((link = LinkedConnection(raw))) return nullptr;
        if (!readOnly) {
            CheckDatabaseFile(path, false);
            if (sqlite3_db_readonly(raw, "main") == 1)
                throw Error(err::CannotOpen, "데이터베이스 파일 '" + path + "'에 쓸 수 없습니다 (읽기 전용).");
            RefuseNetworkFileSystem(path);
        }
        CheckPages(raw, path);
    } catch (const Error& e) {
        if (e.Number() == err::Locked)
            throw Error(err::InUseExclusively,
                        "데이터베이스 파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " 다른 프로그램이 독점적으로 사용하고 있습니다.");
        throw;
    }
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    return std::make_shared<SqliteConnection>(path, std::move(handle));
}

std::shared_ptr<ConnectionImpl> CreateLocalBook(const std::string& path) {
    UniqueFd fd = CreateNewFile(path);
    if (!fd) {
        if (errno == EEXIST) throw NameTakenError(path, err::CannotOpen);
        RaiseErrnoAt(errno, "데이터베이스 파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " 만들 수 없습니다", path);
    }
    fd.reset();
    try {
        return std::make_shared<SqliteConnection>(path, OpenSqlite(path, SQLITE_OPEN_READWRITE, "데이터베이스 " + path + " 만들기"));
    } catch (...) {
        RemoveQuietly(path);
        throw;
    }
}
