#include "engine/sql_words.h"

#include <algorithm>
#include <cctype>
#include <cstring>

std::string QuoteId(std::string_view id) {
    std::string out = "\"";
    for (char c : id) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

std::vector<Word> Words(const std::string& sql, bool topLevelOnly) {
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
            if (depth == 0 || !topLevelOnly) {
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

namespace {

bool Is(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
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

// The table a FROM clause names when it names exactly one table and nothing
// else: `[schema.]table [[AS] alias]`, then the end or the rest of the
// statement. Empty for a join, a list, a subquery or anything else.
std::string SingleSource(const std::string& sql, std::size_t fromWord, std::size_t restAt, std::string& schema) {
    const std::string clause = sql.substr(fromWord + 4, restAt - fromWord - 4);
    std::size_t i = 0;
    std::string table = ReadIdentifier(clause, i);
    if (table.empty()) return {};
    if (i < clause.size() && clause[i] == '.') {
        schema = table;
        ++i;
        table = ReadIdentifier(clause, i);
        if (table.empty()) return {};
    }
    std::string alias = ReadIdentifier(clause, i);
    if (Is(alias, "AS")) alias = ReadIdentifier(clause, i);
    while (i < clause.size() && std::isspace(static_cast<unsigned char>(clause[i]))) ++i;
    return i == clause.size() ? table : std::string();
}

}  // namespace

std::optional<PlainSelect> ParsePlainSelect(const std::string& sql) {
    const auto words = Words(sql);
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
    std::string schema;
    std::string table = SingleSource(sql, from, rest, schema);
    if (table.empty()) return std::nullopt;
    return PlainSelect{from, schema, table};
}

bool SameIdentifier(std::string_view a, std::string_view b) {
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return fold(x) == fold(y); });
}
