#include "engine/sqlite/sqlite_call.h"

#include <cassert>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "text/korean.h"

int NumberFor(int rc, const std::string& message) {
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return err::Locked;
    case SQLITE_FULL: return err::DiskFullEngine;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return err::NotADatabase;
    case SQLITE_READONLY: return err::ReadOnly;
    case SQLITE_CANTOPEN: return err::CannotOpen;
    case SQLITE_IOERR: return err::DiskOrNetwork;
    case SQLITE_CONSTRAINT:
        // Only a unique index makes a key a duplicate; a trigger's RAISE, a
        // CHECK or a NOT NULL is the engine's own refusal, told in its words.
        return rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY ? err::DuplicateKey : err::Engine;
    case SQLITE_PERM:
    case SQLITE_AUTH: return err::CannotOpen;
    default: break;
    }
    if (message.starts_with("no such table")) return err::TableNotFound;
    if (message.starts_with("no such column")) return err::ItemNotFound;
    return err::Engine;
}

namespace {

// What a failure the engine reports means to the one who meets it, and what
// to do; empty where the engine's own words are all there is to say.
std::string KoreanWords(int rc, const std::string& message) {
    const auto named = [&](std::string_view prefix) { return message.substr(prefix.size()); };
    if (message.starts_with("no such table: "))
        return "표 " + WithParticle(named("no such table: "), Particle::IGa) +
               " 없습니다. 도장 데이터베이스인지 확인하십시오 (새 데이터베이스는 'kaldoria-db create'로 만듭니다).";
    if (message.starts_with("no such column: "))
        return "열 " + WithParticle(named("no such column: "), Particle::IGa) +
               " 없습니다. 표 pic_list에는 pic_name과 pic 열이 있어야 합니다.";
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "다른 프로그램이 데이터베이스를 쓰고 있어 기다렸지만 끝나지 않았습니다. 아무것도 바뀌지 않았습니다. 잠시 뒤 "
               "다시 하십시오.";
    case SQLITE_FULL: return "디스크 공간이 부족합니다. 공간을 비운 뒤 다시 하십시오. 저장된 도장은 그대로입니다.";
    case SQLITE_READONLY:
        return "데이터베이스 파일에 쓸 수 없습니다. 파일과 그 폴더의 권한을 확인하거나 관리자에게 요청하십시오.";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return "데이터베이스 파일이 손상되었습니다. 'kaldoria-db check'로 검사하고 백업에서 되살리십시오.";
    case SQLITE_IOERR: return "디스크나 네트워크에서 읽기/쓰기 오류가 났습니다. 장치와 연결을 확인하고 다시 하십시오.";
    case SQLITE_CANTOPEN: return "데이터베이스 파일을 열 수 없습니다. 경로와 권한을 확인하십시오.";
    case SQLITE_NOMEM: return "메모리가 부족합니다. 다른 프로그램을 닫고 다시 하십시오.";
    default: return {};
    }
}

}  // namespace

void Raise(sqlite3* db, int rc, const std::string& context, const std::string& statement) {
    // The connection's extended code, when it has one for this failure.
    if (db && (sqlite3_extended_errcode(db) & 0xff) == (rc & 0xff)) rc = sqlite3_extended_errcode(db);
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    // The reader's words first; what was done and the engine's own words on
    // a line of their own, for an administrator.
    const std::string words = KoreanWords(rc, message);
    std::string description = (words.empty() ? "" : words + "\n") + context + " — " + message;
    throw Error(NumberFor(rc, message), description, EngineCause{rc, {}, statement});
}

void Check(sqlite3* db, int rc, const std::string& context) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) Raise(db, rc, context);
}

namespace {
bool OnlySpaceOrComments(const char* tail) {
    for (const char* p = tail; *p;) {
        if (std::isspace(static_cast<unsigned char>(*p)) || *p == ';') {
            ++p;
        } else if (p[0] == '-' && p[1] == '-') {
            while (*p && *p != '\n') ++p;
        } else if (p[0] == '/' && p[1] == '*') {
            const char* end = std::strstr(p + 2, "*/");
            if (!end) return true;
            p = end + 2;
        } else {
            return false;
        }
    }
    return true;
}
}  // namespace

Stmt Prepare(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()) + 1, &raw, &tail);
    Stmt stmt(raw);
    if (rc != SQLITE_OK) Raise(db, rc, "SQL 문 [" + sql + "]", sql);
    if (!stmt) throw Error(err::InvalidEngineArgument, "SQL 문이 비어 있습니다: [" + sql + "]");
    if (tail && !OnlySpaceOrComments(tail))
        throw Error(err::InvalidEngineArgument, "한 번에 한 SQL 문만 실행할 수 있습니다: [" + sql + "]");
    return stmt;
}

void Exec(sqlite3* db, const std::string& sql, const std::string& context, const Params& params) {
    Stmt stmt = Prepare(db, sql);
    BindAll(db, stmt.get(), params, sql);
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    }
    Check(db, rc, context);
}

AllOrNothing::AllOrNothing(sqlite3* db, const std::string& context)
    : db_(db), context_(context), own_(sqlite3_get_autocommit(db) != 0) {
    Exec(db_, own_ ? "BEGIN IMMEDIATE" : "SAVEPOINT kaldoria_step", context_);
}

AllOrNothing::~AllOrNothing() {
    if (done_) return;
    // Best effort: the Error that brought us here is the one worth reporting.
    sqlite3_exec(db_, own_ ? "ROLLBACK" : "ROLLBACK TO kaldoria_step; RELEASE kaldoria_step", nullptr, nullptr, nullptr);
}

void AllOrNothing::Commit() {
    assert(!done_);
    Exec(db_, own_ ? "COMMIT" : "RELEASE kaldoria_step", context_);
    done_ = true;
}

Variant ColumnValue(sqlite3_stmt* s, int i) {
    switch (sqlite3_column_type(s, i)) {
    case SQLITE_INTEGER: return static_cast<long long>(sqlite3_column_int64(s, i));
    case SQLITE_FLOAT: return sqlite3_column_double(s, i);
    case SQLITE_TEXT: {
        auto p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
        return std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s, i)));
    }
    case SQLITE_BLOB: {
        auto p = static_cast<const std::uint8_t*>(sqlite3_column_blob(s, i));
        return Bytes(p, p + sqlite3_column_bytes(s, i));
    }
    default: return std::monostate{};
    }
}

void Bind(sqlite3* db, sqlite3_stmt* s, int i, const Variant& v) {
    int rc = SQLITE_OK;
    if (auto p = std::get_if<long long>(&v)) rc = sqlite3_bind_int64(s, i, *p);
    else if (auto d = std::get_if<double>(&v)) rc = sqlite3_bind_double(s, i, *d);
    else if (auto t = std::get_if<std::string>(&v))
        rc = sqlite3_bind_text64(s, i, t->data(), t->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    else if (auto b = std::get_if<Bytes>(&v))
        // An empty vector's data() may be null, which SQLite would bind as Null.
        rc = b->empty() ? sqlite3_bind_zeroblob(s, i, 0) : sqlite3_bind_blob64(s, i, b->data(), b->size(), SQLITE_TRANSIENT);
    else rc = sqlite3_bind_null(s, i);
    Check(db, rc, "값 연결");
}

void BindAll(sqlite3* db, sqlite3_stmt* s, const Params& params, const std::string& sql) {
    const int count = sqlite3_bind_parameter_count(s);
    for (int i = 1; i <= count; ++i) {
        const char* name = sqlite3_bind_parameter_name(s, i);
        // Parameters are numbered as on a server: $1 is the first value.
        char* end = nullptr;
        const long n = name && name[0] == '$' ? std::strtol(name + 1, &end, 10) : 0;
        if (n < 1 || *end != '\0' || static_cast<std::size_t>(n) > params.size())
            throw Error(err::InvalidEngineArgument, "SQL 문의 매개변수 " + std::string(name ? name : "?") + "에 줄 값이 없습니다. " +
                                                        "매개변수는 $1부터 $" + std::to_string(params.size()) +
                                                        "까지 씁니다: [" + sql + "]");
        Bind(db, s, i, params[static_cast<std::size_t>(n) - 1]);
    }
    // A value the text never asks for is a mistake in the caller, not a value to drop.
    for (std::size_t n = 1; n <= params.size(); ++n)
        if (sqlite3_bind_parameter_index(s, ("$" + std::to_string(n)).c_str()) == 0)
            throw Error(err::InvalidEngineArgument, "SQL 문이 매개변수 " + WithParticle("$" + std::to_string(n), Particle::EulReul) +
                                                        " 쓰지 않습니다: [" + sql + "]");
}
