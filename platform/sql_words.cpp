#include "platform/sql_words.h"

#include <cctype>

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
