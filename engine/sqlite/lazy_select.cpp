#include "engine/sqlite/lazy_select.h"

#include <cctype>
#include <cstring>

#include "engine/sql_words.h"
#include "engine/sqlite/sqlite_call.h"
#include "engine/sqlite/table_shape.h"

// A list of 100,000 names reads three times faster with the names read by
// the statement itself.
bool MayHoldBlobs(const char* declared) {
    if (!declared) return true;
    std::string d = declared;
    for (auto& ch : d) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (const char* word : {"INT", "CHAR", "CLOB", "TEXT", "REAL", "FLOA", "DOUB"})
        if (d.find(word) != std::string::npos) return false;
    return true;
}

std::optional<std::string> LazySelect(sqlite3* db, const std::string& sql, sqlite3_stmt* original,
                                      std::string& table, std::vector<std::string>& origin) {
    const std::optional<PlainSelect> plain = ParsePlainSelect(sql);
    // Every column must come straight from the one table the clause names:
    // through a view or a subquery, the rowid read would be another row's.
    if (!plain || (!plain->schema.empty() && !SameIdentifier(plain->schema, "main"))) return std::nullopt;
    const std::string& source = plain->table;
    const std::size_t from = plain->from;
    if (ShapeOfTable(db, source) != TableShape::RowidTable) return std::nullopt;
    int n = sqlite3_column_count(original);
    bool anyBlob = false;
    for (int i = 0; i < n; ++i) anyBlob = anyBlob || MayHoldBlobs(sqlite3_column_decltype(original, i));
    if (!anyBlob) return std::nullopt;
    const std::optional<std::string> rowid = RowidAlias(db, source);
    if (!rowid) return std::nullopt;
    std::string list = *rowid;
    for (int i = 0; i < n; ++i) {
        const char* t = sqlite3_column_table_name(original, i);
        const char* c = sqlite3_column_origin_name(original, i);
        const char* d = sqlite3_column_database_name(original, i);
        if (!t || !c || !d || std::strcmp(d, "main") != 0 || !SameIdentifier(t, source)) return std::nullopt;
        origin.emplace_back(c);
        std::string q = QuoteId(c);
        list += ", typeof(" + q + "), CASE WHEN typeof(" + q + ")='blob' THEN length(" + q + ") ELSE " + q + " END";
    }
    std::string rewritten = "SELECT " + list + " " + sql.substr(from);
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db, rewritten.c_str(), -1, &raw, nullptr);
    Stmt probe(raw);
    if (rc != SQLITE_OK || sqlite3_column_count(raw) != 1 + 2 * n) return std::nullopt;
    // The first column must really be that table's rowid.
    const char* t = sqlite3_column_table_name(raw, 0);
    if (!t || !SameIdentifier(t, source)) return std::nullopt;
    table = source;
    return rewritten;
}
