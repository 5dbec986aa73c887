// The particle after a word, chosen by how the word's last sound is read.
#include <gtest/gtest.h>

#include "text/korean.h"
#include "text/korean_order.h"

#include <algorithm>
#include <string>
#include <vector>


namespace {

TEST(Particles, FollowTheLastSound) {
    const struct {
        const char* word;
        Particle particle;
        const char* said;
    } rows[] = {
        {"도장", Particle::EulReul, "도장을"},      // a final consonant
        {"서류", Particle::EulReul, "서류를"},      // a vowel
        {"인감", Particle::IGa, "인감이"},
        {"파일", Particle::EuroRo, "파일로"},       // ㄹ takes 로
        {"폴더", Particle::EuroRo, "폴더로"},
        {"집", Particle::EuroRo, "집으로"},
        {"서버", Particle::EunNeun, "서버는"},
        {"'문서 모음'", Particle::EulReul, "'문서 모음'을"},  // quotes passed over
        {"\"회사\"", Particle::IGa, "\"회사\"가"},
        {"버전 3", Particle::EulReul, "버전 3을"},  // 삼
        {"버전 2", Particle::EulReul, "버전 2를"},  // 이
        {"7", Particle::EuroRo, "7로"},             // 칠
        {"10", Particle::EuroRo, "10으로"},         // 영
        {"list", Particle::EulReul, "list를"},
        {"backup", Particle::EulReul, "backup을"},  // 백업
        {"html", Particle::EuroRo, "html로"},
        {"PNG", Particle::IGa, "PNG가"},            // 피엔지
        {"URL", Particle::EulReul, "URL을"},        // 유알엘
        {"dojang.mdb", Particle::EulReul, "dojang.mdb를"},  // 디
        {"'scan.png'", Particle::EulReul, "'scan.png'를"},  // 피엔지, not "-ng" as in ping
        {"ping", Particle::EulReul, "ping을"},
        {"/tmp/out", Particle::IGa, "/tmp/out이"},  // 아웃
        {"C:\\", Particle::EulReul, "C:\\을(를)"},  // no sound to go by: both forms
    };
    for (const auto& row : rows) EXPECT_EQ(WithParticle(row.word, row.particle), row.said) << row.word;
}

// The order a Korean reader expects, as ICU's Korean collation gives it,
// made without collation data: symbols, numbers by value, Hangul (a lone
// consonant first), Han, Latin without case.
TEST(KoreanOrder, SortsAsAKoreanReaderExpects) {
    const std::vector<std::string> expected = {"(주)회사", "123", "ㄱ", "가 나", "가나", "각", "갂", "나",
                                               "직원 9", "직원 010", "직원 10", "회사", "漢字", "abc", "Abd", "Z"};
    std::vector<std::string> names = expected;
    std::reverse(names.begin(), names.end());
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return KoreanSortKey(a) < KoreanSortKey(b); });
    EXPECT_EQ(names, expected);
}

}  // namespace

