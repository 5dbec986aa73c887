#pragma once
// What a mistyped command or option was meant to be.
#include <string>
#include <vector>

// The word of `candidates` nearest to `typed` (edits counted by letter: an
// insertion, a removal, a change, or two neighbours swapped), when it is near
// enough to be what was meant: at most two edits, and fewer than half of
// `typed`. Empty when none is.
std::string NearestWord(const std::string& typed, const std::vector<std::string>& candidates);
