#pragma once
// An order of names for a Korean reader that needs no collation data:
// symbols and blanks (among themselves by code point), then numbers by their
// value, then Hangul (a lone consonant before the syllables that begin with
// it, syllables in 가나다 order), then Han characters, then Latin letters
// without regard to case, then the rest by code point. ICU's Korean
// collation orders such names the same way but for the symbols among
// themselves and Han by its Korean reading; this is for a platform whose
// collation does not order Korean.
#include <string>

// A key whose byte order (std::string's <) is that order; UTF-8 in.
std::string KoreanSortKey(const std::string& name);
