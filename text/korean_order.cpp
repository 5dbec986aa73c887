#include "text/korean_order.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace {

// The classes in the order they sort.
enum Class : unsigned char { Blank = 1, Number, Hangul, Han, Latin, Other };

void Put(std::string& key, Class c, UChar32 value) {
    key.push_back(static_cast<char>(c));
    key.push_back(static_cast<char>((value >> 16) & 0xFF));
    key.push_back(static_cast<char>((value >> 8) & 0xFF));
    key.push_back(static_cast<char>(value & 0xFF));
}

// The lone consonants (U+3131…U+314E) that begin syllables, as the index
// of that leading consonant; -1 for the others (ㄳ, ㄵ…).
int InitialOf(UChar32 jamo) {
    static constexpr UChar32 kInitials[19] = {0x3131, 0x3132, 0x3134, 0x3137, 0x3138, 0x3139, 0x3141,
                                              0x3142, 0x3143, 0x3145, 0x3146, 0x3147, 0x3148, 0x3149,
                                              0x314A, 0x314B, 0x314C, 0x314D, 0x314E};
    for (int i = 0; i < 19; ++i)
        if (kInitials[i] == jamo) return i;
    return -1;
}

}  // namespace

std::string KoreanSortKey(const std::string& name) {
    std::string key, tail;
    const int32_t length = static_cast<int32_t>(name.size());
    for (int32_t at = 0; at < length;) {
        UChar32 c = 0;
        U8_NEXT(name.data(), at, length, c);
        if (c < 0) c = 0xFFFD;
        if (c >= '0' && c <= '9') {
            // A run of digits by its value: its length without leading
            // zeros first, then the digits.
            std::string digits(1, static_cast<char>(c));
            while (at < length && name[static_cast<std::size_t>(at)] >= '0' && name[static_cast<std::size_t>(at)] <= '9')
                digits.push_back(name[static_cast<std::size_t>(at++)]);
            const std::size_t first = std::min(digits.find_first_not_of('0'), digits.size() - 1);
            key.push_back(static_cast<char>(Number));
            key.push_back(static_cast<char>(digits.size() - first));
            key.append(digits, first);
        } else if (c >= 0xAC00 && c <= 0xD7A3) {
            // Leading consonant, vowel + 1, final: a lone consonant (vowel 0) comes first.
            const int index = c - 0xAC00;
            Put(key, Hangul, (index / 588) << 12 | ((index % 588) / 28 + 1) << 6 | index % 28);
        } else if (c >= 0x3131 && c <= 0x318E) {
            const int initial = InitialOf(c);
            Put(key, Hangul, initial >= 0 ? initial << 12 : 0x3F000 | (c - 0x3131));
        } else if (u_hasBinaryProperty(c, UCHAR_IDEOGRAPHIC)) {
            Put(key, Han, c);
        } else if (u_isalpha(c) && c < 0x250) {
            Put(key, Latin, u_foldCase(c, U_FOLD_CASE_DEFAULT));
        } else if (u_isspace(c) || u_ispunct(c) || (c < 0x80 && !u_isalnum(c))) {
            Put(key, Blank, c);
        } else {
            Put(key, Other, c);
        }
    }
    // Names equal but for case or leading zeros keep one order: their bytes.
    key.push_back('\0');
    key += name;
    return key;
}
