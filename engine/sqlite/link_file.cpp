#include "engine/sqlite/link_file.h"


#include "engine/sqlite/sqlite_call.h"
#include "os/file_kind.h"

bool IsLinkFile(const std::string& path) {
    if (SniffDatabaseFile(path) != DatabaseKind::SQLite) return false;
    Db db;
    try {
        db = OpenSqlite(path, SQLITE_OPEN_READONLY, "연결 파일 " + path + " 읽기");
    } catch (const Error&) {
        return false;  // the open that follows says what is wrong with it
    }
    try {
        return LinkedConnection(db.get()).has_value();
    } catch (const Error& e) {
        // A link file without its connection string is still a link file.
        return e.Number() == err::NotADatabase;
    }
}

std::optional<std::string> LinkedConnection(sqlite3* db) {
    const std::string sql = "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = $1";
    Stmt s = Prepare(db, sql);
    BindAll(db, s.get(), {std::string(kLinkTable)}, sql);
    Check(db, sqlite3_step(s.get()), "연결 파일 읽기");
    if (sqlite3_column_int(s.get(), 0) == 0) return std::nullopt;
    Stmt link = Prepare(db, std::string("SELECT conninfo FROM ") + kLinkTable);
    const int rc = sqlite3_step(link.get());
    Check(db, rc, "연결 파일 읽기");
    const auto* text = rc == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(link.get(), 0)) : nullptr;
    if (!text || !*text) throw Error(err::NotADatabase, "연결 파일에 서버의 연결 문자열이 없습니다.");
    return std::string(text);
}
