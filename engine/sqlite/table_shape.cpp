#include "engine/sqlite/table_shape.h"

#include <cstring>

#include "engine/sql_words.h"
#include "engine/sqlite/sqlite_call.h"

namespace {

std::string Text(sqlite3_stmt* s, int i) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s, i))) : std::string();
}

// Runs `sql` with `table` (and `column`) bound and collects the first column of every row.
std::vector<std::string> Column(sqlite3* db, const std::string& sql, const std::string& table,
                                const std::string& column = {}) {
    Stmt s = Prepare(db, sql);
    sqlite3_bind_text(s.get(), 1, table.c_str(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
    if (sqlite3_bind_parameter_count(s.get()) > 1)
        sqlite3_bind_text(s.get(), 2, column.c_str(), static_cast<int>(column.size()), SQLITE_TRANSIENT);
    std::vector<std::string> out;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) out.push_back(Text(s.get(), 0));
    Check(db, rc, "표 " + table + "의 구조 읽기");
    return out;
}

bool FiresOnInsert(const std::string& triggerSql) {
    for (const Word& w : Words(triggerSql)) {
        if (w.upper == "ON") return false;
        if (w.upper == "INSERT") return true;
    }
    return false;
}

}  // namespace

TableShape ShapeOfTable(sqlite3* db, const std::string& name) {
    Stmt s = Prepare(db, "SELECT type, wr FROM pragma_table_list WHERE schema = 'main' AND name = ?1 COLLATE NOCASE");
    sqlite3_bind_text(s.get(), 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(s.get());
    Check(db, rc, "표 " + name + "의 구조 읽기");
    if (rc != SQLITE_ROW) return TableShape::Missing;
    if (Text(s.get(), 0) != "table") return TableShape::View;
    return sqlite3_column_int(s.get(), 1) ? TableShape::WithoutRowid : TableShape::RowidTable;
}

std::optional<std::string> RowidAlias(sqlite3* db, const std::string& table) {
    const auto columns = Column(db, "SELECT name FROM pragma_table_xinfo(?1)", table);
    for (const char* alias : {"_rowid_", "rowid", "oid"}) {
        bool taken = false;
        for (const auto& c : columns) taken = taken || sqlite3_stricmp(c.c_str(), alias) == 0;
        if (!taken) return alias;
    }
    return std::nullopt;
}

std::vector<std::string> ValueObservers(sqlite3* db, const std::string& table, const std::string& column) {
    std::vector<std::string> seen;
    for (const auto& trigger :
         Column(db, "SELECT name FROM main.sqlite_schema WHERE type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE", table))
        for (const auto& sql : Column(db, "SELECT sql FROM main.sqlite_schema WHERE type = 'trigger' AND name = ?1", trigger))
            if (FiresOnInsert(sql)) seen.push_back("트리거 '" + trigger + "'");
    for (const auto& sql : Column(db, "SELECT sql FROM main.sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE", table))
        for (const Word& w : Words(sql, false))
            if (w.upper == "CHECK") {
                seen.push_back("CHECK 제약");
                break;
            }
    for (const auto& index : Column(db,
             "SELECT DISTINCT il.name FROM pragma_index_list(?1) il, pragma_index_xinfo(il.name) ix "
             "WHERE il.partial = 1 OR (ix.key = 1 AND (ix.cid = -2 OR ix.name = ?2 COLLATE NOCASE))",
             table, column))
        seen.push_back("색인 '" + index + "'");
    for (const auto& generated : Column(db, "SELECT name FROM pragma_table_xinfo(?1) WHERE hidden IN (2, 3)", table))
        seen.push_back("생성 열 '" + generated + "'");
    return seen;
}
