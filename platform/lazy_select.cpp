#include "platform/lazy_select.h"

#include <cctype>
#include <cstring>

#include "platform/sql_words.h"
#include "platform/sqlite_call.h"
#include "platform/table_shape.h"

namespace {

// False for a column declared with a text or number type, whose values are
// read with the statement (a list of 100,000 names reads three times faster
// so); a column declared BLOB, with no type or any other type may hold
// pictures, which stay in the table until they are asked for.
bool MayHoldBlobs(const char* declared) {
    if (!declared) return true;
    std::string d = declared;
    for (auto& ch : d) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (const char* word : {"INT", "CHAR", "CLOB", "TEXT", "REAL", "FLOA", "DOUB"})
        if (d.find(word) != std::string::npos) return false;
    return true;
}

// Reads one identifier at `i` (bare, "quoted", [bracketed] or `backticked`),
// skipping blanks before it; empty when there is none.
std::string ReadIdentifier(const std::string& sql, std::size_t& i) {
    while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
    if (i >= sql.size()) return {};
    const char c = sql[i];
    if (c == '"' || c == '`' || c == '[') {
        const char close = c == '[' ? ']' : c;
        std::string id;
        for (++i; i < sql.size(); ++i) {
            if (sql[i] == close) {
                if (close != ']' && i + 1 < sql.size() && sql[i + 1] == close) {
                    id += close;
                    ++i;
                    continue;
                }
                ++i;
                return id;
            }
            id += sql[i];
        }
        return {};
    }
    std::size_t start = i;
    while (i < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '_' || (sql[i] & 0x80))) ++i;
    return sql.substr(start, i - start);
}

bool SameName(const std::string& a, const std::string& b) { return sqlite3_stricmp(a.c_str(), b.c_str()) == 0; }

// The table a FROM clause names when it names exactly one table and nothing
// else: `[main.]table [[AS] alias]`, then the end or the rest of the
// statement. Empty for a join, a list, a subquery or anything else.
std::string SingleSource(const std::string& sql, std::size_t fromWord, std::size_t restAt) {
    const std::string clause = sql.substr(fromWord + 4, restAt - fromWord - 4);
    std::size_t i = 0;
    std::string table = ReadIdentifier(clause, i);
    if (table.empty()) return {};
    if (i < clause.size() && clause[i] == '.') {
        if (!SameName(table, "main")) return {};
        ++i;
        table = ReadIdentifier(clause, i);
        if (table.empty()) return {};
    }
    std::string alias = ReadIdentifier(clause, i);
    if (SameName(alias, "AS")) alias = ReadIdentifier(clause, i);
    if (!alias.empty()) ReadIdentifier(clause, i);
    while (i < clause.size() && std::isspace(static_cast<unsigned char>(clause[i]))) ++i;
    return i == clause.size() ? table : std::string();
}

}  // namespace

std::optional<std::string> LazySelect(sqlite3* db, const std::string& sql, sqlite3_stmt* original,
                                      std::string& table, std::vector<std::string>& origin) {
    auto words = Words(sql);
    if (words.size() < 3 || words[0].upper != "SELECT" || words[1].upper == "DISTINCT" || words[1].upper == "ALL")
        return std::nullopt;
    std::size_t from = 0, rest = sql.size();
    for (const auto& w : words) {
        if (w.upper == "UNION" || w.upper == "INTERSECT" || w.upper == "EXCEPT" || w.upper == "GROUP" ||
            w.upper == "WINDOW" || w.upper == "ORDER" || w.upper == "VALUES" || w.upper == "JOIN")
            return std::nullopt;
        if (w.upper == "FROM" && from == 0) from = w.pos;
        else if (from != 0 && rest == sql.size() && (w.upper == "WHERE" || w.upper == "LIMIT")) rest = w.pos;
    }
    if (from == 0) return std::nullopt;
    // Every column must come straight from the one table the clause names:
    // through a view or a subquery, the rowid read would be another row's.
    const std::string source = SingleSource(sql, from, rest);
    if (source.empty() || ShapeOfTable(db, source) != TableShape::RowidTable) return std::nullopt;
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
        if (!t || !c || !d || std::strcmp(d, "main") != 0 || !SameName(t, source)) return std::nullopt;
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
    if (!t || !SameName(t, source)) return std::nullopt;
    table = source;
    return rewritten;
}
