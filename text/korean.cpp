#include "text/korean.h"

#include <cctype>

namespace {

// The last sound of a word: none known, a vowel, a consonant, or ㄹ
// (after which 으로 becomes 로).
enum class Ending { Unknown, Vowel, Consonant, Rieul };

// The code point that ends at `end` (exclusive) in UTF-8, and where it starts.
char32_t LastCodePoint(const std::string& s, std::size_t end, std::size_t& start) {
    start = end - 1;
    while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data() + start);
    const std::size_t n = end - start;
    if (n == 1) return p[0];
    if (n == 2) return static_cast<char32_t>(((p[0] & 0x1F) << 6) | (p[1] & 0x3F));
    if (n == 3) return static_cast<char32_t>(((p[0] & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
    if (n == 4)
        return static_cast<char32_t>(((p[0] & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F));
    return 0;
}

Ending LatinEnding(const std::string& word, std::size_t end) {
    std::size_t start = end;
    while (start > 0 && std::isalpha(static_cast<unsigned char>(word[start - 1]))) --start;
    const std::string run = word.substr(start, end - start);
    const char last = run.back();
    // A run without a vowel letter (png, mdb, html) is read letter by letter,
    // as an upper-case one is.
    const bool spelled = run.find_first_of("aeiouAEIOU") == std::string::npos;
    if (spelled || std::isupper(static_cast<unsigned char>(last))) {
        // Read as letter names: 엘, 알 end in ㄹ; 엠, 엔 in a consonant.
        const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(last)));
        if (letter == 'L' || letter == 'R') return Ending::Rieul;
        return letter == 'M' || letter == 'N' ? Ending::Consonant : Ending::Vowel;
    }
    if (last == 'l') return Ending::Rieul;
    if (last == 'm' || last == 'n' || (run.size() >= 2 && run.compare(run.size() - 2, 2, "ng") == 0))
        return Ending::Consonant;
    // A p, b, k or t right after a vowel is read as a final consonant (backup
    // 백업, stop 스톱, book 북, out 아웃); after a consonant as a syllable of
    // its own (help 헬프, check 체크, list 리스트).
    const bool afterVowel = run.size() >= 2 && std::string("aeiou").find(run[run.size() - 2]) != std::string::npos;
    if (afterVowel && (last == 'p' || last == 'b' || last == 'k' || last == 't')) return Ending::Consonant;
    return Ending::Vowel;
}

Ending EndingOf(const std::string& word) {
    std::size_t end = word.size();
    while (end > 0) {
        std::size_t start = 0;
        const char32_t c = LastCodePoint(word, end, start);
        if (c >= 0xAC00 && c <= 0xD7A3) {
            const unsigned final = (c - 0xAC00) % 28;
            return final == 0 ? Ending::Vowel : final == 8 ? Ending::Rieul : Ending::Consonant;
        }
        if (c >= '0' && c <= '9') {
            // 영 일 이 삼 사 오 육 칠 팔 구
            constexpr Ending kDigits[] = {Ending::Consonant, Ending::Rieul, Ending::Vowel, Ending::Consonant,
                                          Ending::Vowel,     Ending::Vowel, Ending::Consonant, Ending::Rieul,
                                          Ending::Rieul,     Ending::Vowel};
            return kDigits[c - '0'];
        }
        if (c < 0x80 && std::isalpha(static_cast<int>(c))) return LatinEnding(word, end);
        // Closing quotes, brackets and blanks after the word are not read aloud.
        const bool passedOver = c == '\'' || c == '"' || c == ')' || c == ']' || c == ' ' || c == 0x2019 ||
                                c == 0x201D || c == 0x300D || c == 0x300F;
        if (!passedOver) return Ending::Unknown;
        end = start;
    }
    return Ending::Unknown;
}

}  // namespace

std::string WithParticle(const std::string& word, Particle particle) {
    static const char* const kForms[][3] = {
        // after a consonant, after a vowel, both
        {"을", "를", "을(를)"},
        {"이", "가", "이(가)"},
        {"은", "는", "은(는)"},
        {"으로", "로", "(으)로"},
    };
    const auto& forms = kForms[static_cast<int>(particle)];
    switch (EndingOf(word)) {
    case Ending::Consonant: return word + forms[0];
    case Ending::Rieul: return word + (particle == Particle::EuroRo ? forms[1] : forms[0]);
    case Ending::Vowel: return word + forms[1];
    case Ending::Unknown: break;
    }
    return word + forms[2];
}
