#pragma once
// The one blank-name test of the system: the window's save, import and
// export's file names all use it.
#include <string>

// True for a UTF-8 name with nothing visible in it: empty, or only
// characters that Unicode classes as white space (tabs, the no-break and
// ideographic spaces) or as default-ignorable (zero-width characters, the
// soft hyphen, variation selectors, invisible operators, the Hangul fillers
// that a Korean input method types for an empty syllable). The properties
// come from ICU, so the rule follows the Unicode standard rather than a
// hand-kept list. Bytes that are not UTF-8 count as visible.
bool IsBlankName(const std::string& name);
