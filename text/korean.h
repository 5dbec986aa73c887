#pragma once
// Korean particles chosen by the word before them, as a person writes them:
// "도장을", "list를", "서버로", "파일로", never "을(를)".
#include <string>

enum class Particle {
    EulReul,  // 을 / 를
    IGa,      // 이 / 가
    EunNeun,  // 은 / 는
    EuroRo,   // 으로 / 로 (로 also after ㄹ)
};

// `word` followed by `particle` in the form its last sound takes. The sound
// is read from the last Hangul syllable, digit (as read in Korean: 1 일,
// 3 삼, 6 육…) or Latin letter (an upper-case run as letter names, L M N R
// ending in a consonant, as is a run without a vowel letter (png, mdb);
// a lower-case word as Korean spells such loanwords:
// a final l, m, n, "ng", or p, b, k, t after a vowel);
// quotes and brackets after it are passed over. Anything else keeps both
// forms ("을(를)").
std::string WithParticle(const std::string& word, Particle particle);
