#include "platform/link.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <cerrno>

#include "platform/engine.h"
#include "platform/link_file.h"
#include "platform/sqlite_call.h"

void CheckLinkConnection(const std::string& conninfo) {
    char* message = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &message);
    if (!options) {
        std::string why = message ? message : "메모리가 모자랍니다";
        PQfreemem(message);
        while (!why.empty() && why.back() == '\n') why.pop_back();
        throw Error(err::InvalidEngineArgument, "연결 문자열을 읽을 수 없습니다: " + why);
    }
    bool password = false;
    for (PQconninfoOption* o = options; o->keyword; ++o)
        if (std::string(o->keyword) == "password" && o->val && *o->val) password = true;
    PQconninfoFree(options);
    if (password)
        throw Error(err::InvalidEngineArgument,
                    "연결 문자열에 암호가 들어 있습니다. 암호는 연결 파일에 두지 않습니다: 각 사용자의 ~/.pgpass나 "
                    "연결 서비스 파일(pg_service.conf)에 두고, 연결 문자열에서는 빼십시오.");
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
        ::unlink(path.c_str());
        throw;
    }
}
