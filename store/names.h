#pragma once
// The blank-name test that the window's save and the companion tool share.
#include <string>

// True for a UTF-8 name with nothing visible in it: empty, or only white
// space (tabs, no-break and ideographic spaces U+00A0 and U+3000 included),
// zero-width characters and the Hangul fillers (U+3164 and the like) that a
// Korean input method types for an empty syllable. Bytes that are not UTF-8
// count as visible.
bool IsBlankName(const std::string& name);
