#include "platform/link.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include "platform/engine.h"
#include "platform/file_kind.h"
#include "platform/link_file.h"
#include "platform/sqlite_call.h"

namespace {

// A key of a connection string that a link file may hold, and the values it
// may take (none listed: any). The TLS keys are those that only make the
// connection stricter; the rest (hostaddr, passfile, options, sslcert, ...)
// could send the user's password or certificate elsewhere, or change the
// session under the program, so they belong in the administrator's own
// service file instead.
struct AllowedKey {
    const char* key;
    std::vector<const char*> values;
};

const std::vector<AllowedKey>& AllowedKeys() {
    static const std::vector<AllowedKey> keys = {
        {"host", {}},
        {"port", {}},
        {"dbname", {}},
        {"user", {}},
        {"service", {}},
        {"connect_timeout", {}},
        {"application_name", {}},
        {"sslmode", {"prefer", "require", "verify-ca", "verify-full"}},
        {"sslrootcert", {}},
        {"sslcrl", {}},
        {"sslcrldir", {}},
        {"ssl_min_protocol_version", {"TLSv1.2", "TLSv1.3"}},
        {"channel_binding", {"prefer", "require"}},
        {"requirepeer", {}},
        {"require_auth", {}},
    };
    return keys;
}

std::string AllowedList() {
    std::string list;
    for (const auto& k : AllowedKeys()) list += (list.empty() ? "" : ", ") + std::string(k.key);
    return list;
}

}  // namespace

void CheckLinkConnection(const std::string& conninfo) {
    char* message = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &message);
    if (!options) {
        std::string why = message ? message : "메모리가 모자랍니다";
        PQfreemem(message);
        while (!why.empty() && why.back() == '\n') why.pop_back();
        throw Error(err::InvalidEngineArgument, "연결 문자열을 읽을 수 없습니다: " + why);
    }
    std::vector<std::pair<std::string, std::string>> given;
    for (PQconninfoOption* o = options; o->keyword; ++o)
        if (o->val) given.emplace_back(o->keyword, o->val);
    PQconninfoFree(options);
    for (const auto& setting : given) {
        // Named copies, not structured bindings: lambdas below capture them.
        const std::string& key = setting.first;
        const std::string& value = setting.second;
        if (key == "password") {
            if (value.empty()) continue;
            throw Error(err::InvalidEngineArgument,
                        "연결 문자열에 암호가 들어 있습니다. 암호는 연결 파일에 두지 않습니다: 각 사용자의 ~/.pgpass나 "
                        "연결 서비스 파일(pg_service.conf)에 두고, 연결 문자열에서는 빼십시오.");
        }
        const auto& allowed = AllowedKeys();
        auto known = std::find_if(allowed.begin(), allowed.end(), [&](const AllowedKey& k) { return key == k.key; });
        if (known == allowed.end())
            throw Error(err::InvalidEngineArgument,
                        "연결 문자열의 설정 '" + key + "'은(는) 연결 파일에 둘 수 없습니다. 연결 파일에는 " + AllowedList() +
                            "만 둡니다. 다른 설정이 필요하면 관리자의 서비스 파일(pg_service.conf)에 두고 service=로 "
                            "부르십시오.");
        if (!known->values.empty() &&
            std::find_if(known->values.begin(), known->values.end(), [&](const char* v) { return value == v; }) ==
                known->values.end()) {
            std::string values;
            for (const char* v : known->values) values += (values.empty() ? "" : ", ") + std::string(v);
            throw Error(err::InvalidEngineArgument, "연결 문자열의 '" + key + "=" + value + "'은(는) 연결을 덜 안전하게 "
                                                    "하므로 연결 파일에 둘 수 없습니다. " + key + "에는 " + values +
                                                    " 중 하나만 둡니다.");
        }
    }
}

bool IsLinkFile(const std::string& path) {
    if (SniffDatabaseFile(path) != DatabaseKind::SQLite) return false;
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    Db db(raw);
    if (rc != SQLITE_OK) return false;
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    try {
        return LinkedConnection(raw).has_value();
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
        ::unlink(path.c_str());
        throw;
    }
}
