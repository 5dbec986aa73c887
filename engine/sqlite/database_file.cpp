#include "engine/sqlite/database_file.h"


#include <cerrno>
#include <cstring>
#include <vector>

#include "engine/sqlite/sqlite_call.h"
#include "os/byte_order.h"
#include "os/error.h"
#include "os/file_kind.h"
#include "os/files.h"
#include "os/os_error.h"
#include "os/paths.h"
#include "os/unique_fd.h"
#include "text/korean.h"

namespace {

// Pages up to which opening checks every page of the file (1 MiB at the
// default page size, a few milliseconds). A larger file has only the first
// and last rows of each table checked, so that opening does not take time in
// proportion to the pictures stored; damage deeper inside is reported as
// err::NotADatabase by the statement that reads it.
constexpr long long kFullCheckPages = 256;

}  // namespace

void CheckDatabaseFile(const std::string& path, bool readOnly) {
    if (path.empty()) throw Error(err::DatabaseNotFound, "데이터베이스 파일의 경로가 비어 있습니다.");
    const PathFacts st = StatPath(path);
    if (!st.Exists()) {
        if (st.error == EACCES) throw Error(err::CannotOpen, "데이터베이스 파일 '" + path + "'에 접근할 수 없습니다. 파일과 폴더의 권한을 확인하십시오.");
        throw Error(err::DatabaseNotFound, "데이터베이스 파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " 찾을 수 없습니다. 경로를 확인하십시오.");
    }
    if (!st.regular) throw Error(err::NotADatabase, WithParticle("'" + path + "'", Particle::EunNeun) + " 데이터베이스 파일이 아닙니다.");
    UniqueFd fd = OpenForReading(path);
    if (!fd)
        throw Error(err::CannotOpen, "데이터베이스 파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " 읽을 수 없습니다: " + SystemWords(errno));
    // The header and the length it must match are read without the engine's
    // lock, while another program may be saving: a commit that grows the file
    // between the two reads would make a sound file look cut off. So the
    // length is taken after the header, from the same open file, and a
    // mismatch is read again before it counts.
    unsigned char header[kDatabaseHeaderBytes] = {};
    for (int attempt = 1;; ++attempt) {
        const long long got = ReadSomeAt(fd.get(), header, sizeof header, 0);
        const PathFacts now = StatOpen(fd.get());
        const DatabaseKind kind =
            got > 0 ? KindOfHeader(std::span(header, static_cast<std::size_t>(got))) : DatabaseKind::Other;
        if (kind == DatabaseKind::Jet)
            throw Error(err::NotADatabase, WithParticle("'" + path + "'", Particle::EunNeun) + " 이전 Jet 형식의 데이터베이스입니다. "
                                           "'kaldoria-db migrate \"" + path + "\"' 명령으로 변환한 뒤 사용하십시오.");
        if (got < static_cast<long long>(kDatabaseHeaderBytes) || kind != DatabaseKind::SQLite)
            throw Error(err::NotADatabase, WithParticle("'" + path + "'", Particle::EunNeun) + " 데이터베이스 파일이 아닙니다.");
        unsigned pageSize = LoadBig<std::uint16_t>(header + 16);
        if (pageSize == 1) pageSize = 65536;
        if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0)
            throw Error(err::NotADatabase, "데이터베이스 파일 " + WithParticle("'" + path + "'", Particle::IGa) + " 손상되었습니다 (머리글).");
        const unsigned pages = LoadBig<std::uint32_t>(header + 28);
        const bool pagesValid = pages != 0 && std::memcmp(header + 24, header + 92, 4) == 0;
        const auto size = static_cast<unsigned long long>(now.Exists() ? now.size : st.size);
        if (size % pageSize == 0 && !(pagesValid && size < 1ULL * pages * pageSize)) break;
        if (attempt == 3) throw Error(err::NotADatabase, "데이터베이스 파일 " + WithParticle("'" + path + "'", Particle::IGa) + " 잘렸거나 손상되었습니다.");
    }
    fd.reset();
    if (readOnly) return;
    if (!MayReadAndWrite(path))
        throw Error(err::CannotOpen, "데이터베이스 파일 '" + path + "'에 쓸 수 없습니다 (읽기 전용).");
    // The engine writes its journal beside the file.
    if (!MayWriteIn(FolderOf(path)))
        throw Error(err::CannotOpen, "데이터베이스 파일이 있는 폴더 '" + FolderOf(path) + "'에 쓸 수 없습니다.");
}

void CheckPages(sqlite3* db, const std::string& path) {
    const std::string context = "데이터베이스 " + path + " 검사";
    auto damaged = [&](const std::string& detail) {
        return Error(err::NotADatabase, "데이터베이스 파일 " + WithParticle("'" + path + "'", Particle::IGa) + " 손상되었습니다: " + detail);
    };
    Stmt count = Prepare(db, "PRAGMA page_count");
    Check(db, sqlite3_step(count.get()), context);
    if (sqlite3_column_int64(count.get(), 0) <= kFullCheckPages) {
        Stmt check = Prepare(db, "PRAGMA quick_check(1)");
        Check(db, sqlite3_step(check.get()), context);
        const char* verdict = reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
        if (!verdict || std::strcmp(verdict, "ok") != 0) throw damaged(verdict ? verdict : "?");
        return;
    }
    std::vector<std::string> tables;
    Stmt list = Prepare(db, "SELECT name FROM sqlite_schema WHERE type = 'table' AND rootpage > 0");
    int rc;
    while ((rc = sqlite3_step(list.get())) == SQLITE_ROW)
        tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
    Check(db, rc, context);
    for (const auto& table : tables) {
        // Each min or max alone walks one edge of the tree, root to leaf.
        const std::string t = QuoteId(table);
        const std::string sql = "SELECT (SELECT min(_rowid_) FROM " + t + "), (SELECT max(_rowid_) FROM " + t + ")";
        sqlite3_stmt* raw = nullptr;
        rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr);
        Stmt edges(raw);
        if (rc == SQLITE_ERROR) continue;  // a table without rowid: left to its first reader
        Check(db, rc, context);
        rc = sqlite3_step(edges.get());
        if ((rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB) throw damaged(sqlite3_errmsg(db));
        Check(db, rc, context);
    }
}

