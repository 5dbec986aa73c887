#include "text/hangul_search.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <vector>

namespace {

std::vector<UChar32> CodePoints(const std::string& s) {
    std::vector<UChar32> points;
    for (int32_t at = 0, length = static_cast<int32_t>(s.size()); at < length;) {
        UChar32 c = 0;
        U8_NEXT(s.data(), at, length, c);
        points.push_back(c < 0 ? 0xFFFD : u_foldCase(c, U_FOLD_CASE_DEFAULT));
    }
    return points;
}

// The compatibility jamo of each of the 19 leading consonants, in the order
// the syllable block counts them.
constexpr UChar32 kInitials[19] = {0x3131, 0x3132, 0x3134, 0x3137, 0x3138, 0x3139, 0x3141, 0x3142, 0x3143, 0x3145,
                                   0x3146, 0x3147, 0x3148, 0x3149, 0x314A, 0x314B, 0x314C, 0x314D, 0x314E};

bool Matches(UChar32 typed, UChar32 stored) {
    if (typed == stored) return true;
    if (stored < 0xAC00 || stored > 0xD7A3 || typed < 0x3131 || typed > 0x314E) return false;
    return kInitials[(stored - 0xAC00) / 588] == typed;
}

}  // namespace

bool MatchesSearch(const std::string& name, const std::string& query) {
    const std::vector<UChar32> stored = CodePoints(name), typed = CodePoints(query);
    if (typed.empty()) return true;
    for (std::size_t start = 0; start + typed.size() <= stored.size(); ++start) {
        std::size_t i = 0;
        while (i < typed.size() && Matches(typed[i], stored[start + i])) ++i;
        if (i == typed.size()) return true;
    }
    return false;
}
