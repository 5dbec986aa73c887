#pragma once
// Inside the engine layer: the words of an SQL text, skipping quoted text and
// comments; enough to see the shape of a statement.
#include <string>
#include <vector>

struct Word {
    std::string upper;  // the word in upper case
    std::size_t pos;    // where it starts in the text
};

// The words outside every parenthesis, or with `topLevelOnly` false, all of them.
std::vector<Word> Words(const std::string& sql, bool topLevelOnly = true);
