#pragma once
// Inside the engine layer: the words of an SQL text, skipping quoted text and
// comments; enough to see the shape of a statement.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct Word {
    std::string upper;  // the word in upper case
    std::size_t pos;    // where it starts in the text
};

// Whether two identifiers name the same table or column: equal but for the
// case of ASCII letters, as both kinds of database compare them.
bool SameIdentifier(std::string_view a, std::string_view b);

// `id` as a double-quoted SQL identifier.
std::string QuoteId(std::string_view id);

// The words outside every parenthesis, or with `topLevelOnly` false, all of them.
std::vector<Word> Words(const std::string& sql, bool topLevelOnly = true);

// A plain read of one table: `SELECT … FROM [schema.]table [[AS] alias]`,
// then nothing or `WHERE …` / `LIMIT …`, with no DISTINCT, compound, GROUP,
// ORDER, JOIN or subquery in its FROM clause.
struct PlainSelect {
    std::size_t from;    // where the word FROM starts
    std::string schema;  // empty when not given
    std::string table;
};
std::optional<PlainSelect> ParsePlainSelect(const std::string& sql);
