// The iconv that libmdb converts Jet text with: glibc's on Linux, on Windows
// the one on Windows' code pages built into libmdb (migration/windows_iconv).
// The same rows run on both, so Linux shows each expectation is what glibc
// does, and Windows that its iconv does the same.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <string>

namespace {

struct Conversion {
    const char* name;
    const char* to;
    const char* from;
    std::string in;
    std::size_t room;    // bytes of output room
    int error;           // 0, EILSEQ, E2BIG or EINVAL
    std::size_t taken;   // input bytes converted before the stop
    std::string out;     // what was written
};

void PrintTo(const Conversion& c, std::ostream* os) { *os << c.name; }

const std::string kDojangCp949 = "\xb5\xb5\xc0\xe5";               // 도장
const std::string kDojangUtf8 = "\xeb\x8f\x84\xec\x9e\xa5";        // 도장
const std::string kDojangUcs2 = std::string("\xc4\xb3\xa5\xc7", 4);  // 도장

const Conversion kConversions[] = {
    {"Cp949ToUtf8", "UTF-8", "CP949", "A" + kDojangCp949, 64, 0, 5, "A" + kDojangUtf8},
    {"Utf8ToCp949", "CP949", "UTF-8", kDojangUtf8 + "1", 64, 0, 7, kDojangCp949 + "1"},
    {"EucKrToUtf8", "UTF-8", "EUC-KR", kDojangCp949, 64, 0, 4, kDojangUtf8},
    {"Ucs2ToUtf8", "UTF-8", "UCS-2LE", kDojangUcs2 + std::string("A\0", 2), 64, 0, 6, kDojangUtf8 + "A"},
    {"Utf8ToUcs2", "UCS-2LE", "UTF-8", kDojangUtf8, 64, 0, 6, kDojangUcs2},
    {"Utf16PairToUtf8", "UTF-8", "UTF-16LE", std::string("\x3d\xd8\x00\xde", 4), 64, 0, 4, "\xf0\x9f\x98\x80"},
    {"Cp1252ToUtf8", "UTF-8", "WINDOWS-1252", "caf\xe9", 64, 0, 4, "caf\xc3\xa9"},
    // Stops: the pointers stay at the character that could not be converted.
    {"Cp949ByteNoCharacterStarts", "UTF-8", "CP949", "A\xff" "B", 64, EILSEQ, 1, "A"},
    {"Cp949ByteAbove7fStandingAlone", "UTF-8", "CP949", "A\x80" "B", 64, EILSEQ, 1, "A"},
    {"Cp949UserDefinedArea", "UTF-8", "CP949", kDojangCp949 + "\xc9\xa1", 64, EILSEQ, 4, kDojangUtf8},
    {"EucKrHasNoCp949Extensions", "UTF-8", "EUC-KR", "\x81\x41", 64, 0, 2, "\xc2\x81" "A"},
    {"Cp1252UndefinedByte", "UTF-8", "CP1252", "a\x81", 64, EILSEQ, 1, "a"},
    {"Ucs2HasNoSurrogates", "UTF-8", "UCS-2LE", std::string("A\0\x3d\xd8\x00\xde", 6), 64, EILSEQ, 2, "A"},
    {"Utf8Overlong", "UTF-8", "UTF-8", "a\xe0\x80\x80", 64, EILSEQ, 1, "a"},
    {"Utf8Surrogate", "UCS-2LE", "UTF-8", "\xed\xa0\x80", 64, EILSEQ, 0, ""},
    {"NotInCp949", "CP949", "UTF-8", kDojangUtf8 + "\xc3\xa9", 64, EILSEQ, 6, kDojangCp949},
    {"OutputTooSmall", "UTF-8", "CP949", kDojangCp949, 4, E2BIG, 2, "\xeb\x8f\x84"},
    {"OutputTooSmallForUcs2", "UCS-2LE", "UTF-8", "ab", 3, E2BIG, 1, std::string("a\0", 2)},
    {"Cp949EndsInsideACharacter", "UTF-8", "CP949", kDojangCp949.substr(0, 3), 64, EINVAL, 2, "\xeb\x8f\x84"},
    {"Ucs2EndsInsideACharacter", "UTF-8", "UCS-2LE", std::string("A\0B", 3), 64, EINVAL, 2, "A"},
    {"Utf8EndsInsideACharacter", "UCS-2LE", "UTF-8", kDojangUtf8.substr(0, 4), 64, EINVAL, 3, "\xc4\xb3"},
};

class IconvConversion : public ::testing::TestWithParam<Conversion> {};

TEST_P(IconvConversion, ConvertsOrStopsWhereTheLibraryIs) {
    const Conversion& c = GetParam();
    iconv_t cd = iconv_open(c.to, c.from);
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << c.from << " to " << c.to;
    std::string in = c.in;
    std::string out(c.room, '\x7f');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size(), outLeft = out.size();
    errno = 0;
    const std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    const int error = errno;
    iconv_close(cd);

    if (c.error == 0) {
        EXPECT_NE(r, static_cast<std::size_t>(-1)) << "errno " << error;
    } else {
        EXPECT_EQ(r, static_cast<std::size_t>(-1));
        EXPECT_EQ(error, c.error);
    }
    // Pointers and counts moved together, past exactly what was converted.
    EXPECT_EQ(inPtr - in.data(), static_cast<std::ptrdiff_t>(c.taken));
    EXPECT_EQ(inLeft, in.size() - c.taken);
    EXPECT_EQ(outLeft, out.size() - static_cast<std::size_t>(outPtr - out.data()));
    EXPECT_EQ(std::string(out.data(), outPtr), c.out);
}

INSTANTIATE_TEST_SUITE_P(Iconv, IconvConversion, ::testing::ValuesIn(kConversions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Iconv, AnUnknownCharacterSetIsRefused) {
    errno = 0;
    EXPECT_EQ(iconv_open("UTF-8", "KALDORIA-NO-SUCH-SET"), reinterpret_cast<iconv_t>(-1));
    EXPECT_EQ(errno, EINVAL);
}

}  // namespace
