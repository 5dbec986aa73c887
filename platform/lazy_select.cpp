#include "platform/lazy_select.h"

#include <cctype>
#include <cstring>

#include "platform/sqlite_call.h"

namespace {

// Finds the top-level words of a statement, skipping quotes, comments and
// parentheses; enough to see the shape of a SELECT.
struct Word {
    std::string upper;
    std::size_t pos;
};

std::vector<Word> TopLevelWords(const std::string& sql) {
    std::vector<Word> words;
    int depth = 0;
    for (std::size_t i = 0; i < sql.size();) {
        char c = sql[i];
        if (c == '\'' || c == '"' || c == '`' || c == '[') {
            char close = c == '[' ? ']' : c;
            i = sql.find(close, i + 1);
            if (i == std::string::npos) break;
            ++i;
        } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
            i = sql.find('\n', i);
            if (i == std::string::npos) break;
        } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
            i = sql.find("*/", i + 2);
            if (i == std::string::npos) break;
            i += 2;
        } else if (c == '(') {
            ++depth, ++i;
        } else if (c == ')') {
            --depth, ++i;
        } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || (c & 0x80)) {
            std::size_t start = i;
            while (i < sql.size() &&
                   (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '_' || (sql[i] & 0x80)))
                ++i;
            if (depth == 0) {
                std::string w = sql.substr(start, i - start);
                for (auto& ch : w) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
                words.push_back({w, start});
            }
        } else {
            ++i;
        }
    }
    return words;
}

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

}  // namespace

std::optional<std::string> LazySelect(sqlite3* db, const std::string& sql, sqlite3_stmt* original,
                                      std::string& table, std::vector<std::string>& origin) {
    auto words = TopLevelWords(sql);
    if (words.size() < 3 || words[0].upper != "SELECT" || words[1].upper == "DISTINCT" || words[1].upper == "ALL")
        return std::nullopt;
    std::size_t from = 0;
    for (const auto& w : words) {
        if (w.upper == "UNION" || w.upper == "INTERSECT" || w.upper == "EXCEPT" || w.upper == "GROUP" ||
            w.upper == "WINDOW" || w.upper == "ORDER" || w.upper == "VALUES")
            return std::nullopt;
        if (w.upper == "FROM" && from == 0) from = w.pos;
    }
    if (from == 0) return std::nullopt;
    int n = sqlite3_column_count(original);
    bool anyBlob = false;
    for (int i = 0; i < n; ++i) anyBlob = anyBlob || MayHoldBlobs(sqlite3_column_decltype(original, i));
    if (!anyBlob) return std::nullopt;
    std::string list = "_rowid_";
    for (int i = 0; i < n; ++i) {
        const char* t = sqlite3_column_table_name(original, i);
        const char* c = sqlite3_column_origin_name(original, i);
        const char* d = sqlite3_column_database_name(original, i);
        if (!t || !c || !d || std::strcmp(d, "main") != 0) return std::nullopt;
        if (i == 0) table = t;
        else if (table != t) return std::nullopt;
        origin.emplace_back(c);
        std::string q = QuoteId(c);
        list += ", typeof(" + q + "), CASE WHEN typeof(" + q + ")='blob' THEN length(" + q + ") ELSE " + q + " END";
    }
    std::string rewritten = "SELECT " + list + " " + sql.substr(from);
    sqlite3_stmt* probe = nullptr;
    if (sqlite3_prepare_v2(db, rewritten.c_str(), -1, &probe, nullptr) != SQLITE_OK) {
        sqlite3_finalize(probe);
        return std::nullopt;
    }
    sqlite3_finalize(probe);
    return rewritten;
}

