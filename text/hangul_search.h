#pragma once
// Finding a stamp by part of its name as Korean users type it: a plain
// substring, or initial consonants (초성) standing for whole syllables, so
// "ㄷㅈ" finds 도장 and "ㄱㅅ" finds 김수현 and 결산.
#include <string>

// Whether `query` occurs in `name`, a compatibility consonant of the query
// (ㄱ, ㄲ, ㄴ … ㅎ, U+3131…U+314E) matching a syllable that begins with it
// as well as itself; Latin letters match regardless of case. An empty query
// matches every name. Both are UTF-8.
bool MatchesSearch(const std::string& name, const std::string& query);
