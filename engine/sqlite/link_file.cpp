#include "engine/sqlite/link_file.h"


#include "engine/postgres/link.h"
#include "engine/sqlite/sqlite_call.h"
#include "os/file_kind.h"
#include "os/paths.h"

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
    Stmt s = Prepare(db, "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = '" +
                             std::string(kLinkTable) + "'");
    Check(db, sqlite3_step(s.get()), "연결 파일 읽기");
    if (sqlite3_column_int(s.get(), 0) == 0) return std::nullopt;
    Stmt link = Prepare(db, std::string("SELECT conninfo FROM ") + kLinkTable);
    const int rc = sqlite3_step(link.get());
    Check(db, rc, "연결 파일 읽기");
    const auto* text = rc == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(link.get(), 0)) : nullptr;
    if (!text || !*text) throw Error(err::NotADatabase, "연결 파일에 서버의 연결 문자열이 없습니다.");
    return std::string(text);
}

void CreateLinkFile(const std::string& path, const std::string& conninfo) {
    CheckLinkConnection(conninfo);
    Workspace ws = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
    Database db = ws.CreateDatabase(path);
    try {
        Transaction t(db);
        db.Execute(std::string("CREATE TABLE ") + kLinkTable + " (conninfo TEXT NOT NULL)");
        std::string quoted;
        for (char c : conninfo) quoted += c == '\'' ? std::string("''") : std::string(1, c);
        db.Execute(std::string("INSERT INTO ") + kLinkTable + " VALUES ('" + quoted + "')");
        t.Commit();
        ws.Close();
    } catch (...) {
        ws.Close();
        RemoveQuietly(path);
        throw;
    }
}
