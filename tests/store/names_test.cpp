// The one blank-name test that the window, import and export share.
#include <gtest/gtest.h>

#include "store/names.h"

namespace {

struct NameCase {
    const char* what;
    const char* name;  // UTF-8
    bool blank;
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.what; }

class BlankNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(BlankNames, FollowTheUnicodeProperties) { EXPECT_EQ(IsBlankName(GetParam().name), GetParam().blank); }

INSTANTIATE_TEST_SUITE_P(
    Names, BlankNames,
    ::testing::Values(
        NameCase{"empty", "", true}, NameCase{"spaces_and_tabs", " \t \r\n", true},
        NameCase{"no_break_and_ideographic_spaces", "\u00a0\u3000\u202f", true},
        NameCase{"line_and_paragraph_separators", "\u2028\u2029", true},
        NameCase{"zero_width_characters", "\u200b\u200c\u200d\u2060\ufeff", true},
        NameCase{"hangul_fillers", "\u3164\uffa0\u115f\u1160", true},
        // Invisible, yet missed by the hand-kept table this rule replaced.
        NameCase{"soft_hyphen", "\u00ad", true}, NameCase{"combining_grapheme_joiner", "\u034f", true},
        NameCase{"mongolian_vowel_separator", "\u180e", true},
        NameCase{"invisible_operators", "\u2061\u2062\u2063\u2064", true},
        NameCase{"variation_selectors", "\ufe00\ufe0f", true}, NameCase{"tag_characters", "\U000E0041", true},
        NameCase{"hangul", "도장", false}, NameCase{"blanks_around_a_letter", " \u3000a\u200b ", false},
        NameCase{"a_combining_mark_alone", "\u0301", false}, NameCase{"a_control_character", "\x01", false},
        NameCase{"emoji_with_a_variation_selector", "\u2764\ufe0f", false},
        NameCase{"bytes_that_are_not_utf8", "\xff", false}, NameCase{"a_cut_off_character", " \xea\xb0", false}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
