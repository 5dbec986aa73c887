// What a file may be before anything decodes it: bitmaps judged from their
// header and length (held against what Qt's reader makes of the same bytes),
// the size limit, and files that are no regular files.
#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <vector>

#include "pictures/picture_header.h"
#include "pictures/pictures.h"
#include "support.h"

namespace {

// A bitmap file made field by field; what is not given is made consistent.
struct Header {
    std::uint32_t info = 40;  // 12: the old core header
    std::int32_t width = 4, height = 4;
    std::uint16_t bits = 24, planes = 1;
    std::uint32_t compression = 0, colours = 0, imageSize = 0;
    std::int64_t pixelBytes = -1;  // -1: what the size needs (end-of-bitmap alone when run-length)
    std::int64_t declared = -1;    // the size field; -1: the file's length
};

Bytes Build(const Header& h) {
    const bool core = h.info == 12, runs = h.compression == 1 || h.compression == 2;
    const std::uint32_t colours = h.bits > 8 ? 0 : h.colours ? h.colours : 1u << h.bits;
    const std::size_t start = 14 + h.info + (h.compression == 3 && h.info < 108 ? 12 : 0) + colours * (core ? 3 : 4);
    const std::uint64_t needed = runs ? 2 : (std::uint64_t{std::uint32_t(h.width)} * h.bits + 31) / 32 * 4 * std::abs(h.height);
    Bytes b = PatternBytes(start + (h.pixelBytes < 0 ? needed : static_cast<std::uint64_t>(h.pixelBytes)));
    std::fill(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(start), 0);
    auto put = [&b](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    put(2, h.declared < 0 ? static_cast<std::uint32_t>(b.size()) : static_cast<std::uint32_t>(h.declared), 4);
    put(10, static_cast<std::uint32_t>(start), 4), put(14, h.info, 4);
    put(18, static_cast<std::uint32_t>(h.width), core ? 2 : 4), put(core ? 20 : 22, static_cast<std::uint32_t>(h.height), core ? 2 : 4);
    put(core ? 22 : 26, h.planes, 2), put(core ? 24 : 28, h.bits, 2);
    if (!core) put(30, h.compression, 4), put(34, h.imageSize, 4), put(46, h.colours, 4);
    if (h.compression == 3) put(54, 0xf800, 4), put(58, 0x07e0, 4), put(62, 0x1f, 4);
    if (runs && h.pixelBytes < 0) b[start] = 0, b[start + 1] = 1;
    return b;
}

enum Verdict { Shows, CutOff, Malformed, TooLarge };
const char* const kWords[] = {"", "잘린 비트맵입니다", "올바르지 않은 비트맵입니다", "너무 큰 그림입니다"};

struct BitmapCase {
    const char* name;
    Header header;
    Verdict verdict;
};

class Bitmaps : public ::testing::TestWithParam<BitmapCase> {};

TEST_P(Bitmaps, AreJudgedFromTheHeaderAsTheReaderWouldReadThem) {
    const Header& h = GetParam().header;
    const Bytes file = Build(h);
    const BitmapCheck check = CheckBitmap(std::span(file.data(), std::min(file.size(), kBitmapHeadBytes)), file.size());
    ASSERT_TRUE(check.bitmap);
    const Verdict verdict = GetParam().verdict;
    EXPECT_TRUE(check.problem.starts_with(kWords[verdict]) && check.problem.empty() == (verdict == Shows)) << check.problem;
    if (verdict == Shows) {
        EXPECT_EQ(QSize(check.width, check.height), QSize(h.width, std::abs(h.height)));
    }
    // Qt's reader, set up as the picture services set it up, would quietly
    // fill in a cut-off file; a too large one never reaches it.
    if (verdict == CutOff || verdict == TooLarge) return;
    QByteArray bytes(reinterpret_cast<const char*>(file.data()), static_cast<qsizetype>(file.size()));
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    ReadProblem problem;
    const QImage decoded = ReadWithinLimit(reader, problem);
    EXPECT_EQ(decoded.isNull(), verdict == Malformed);
    EXPECT_TRUE(problem.noMemory.empty()) << problem.noMemory;
    EXPECT_EQ(decoded.size(), QSize(check.width, check.height));
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, Bitmaps,
    ::testing::Values(
        BitmapCase{"Rgb24", {}, Shows}, BitmapCase{"Rgb32TopDown", {.width = 5, .height = -3, .bits = 32}, Shows},
        BitmapCase{"Mono9x2", {.width = 9, .height = 2, .bits = 1}, Shows},
        BitmapCase{"Palette4", {.width = 3, .height = 3, .bits = 4}, Shows},
        BitmapCase{"Palette8OfThreeColours", {.bits = 8, .colours = 3}, Shows},
        BitmapCase{"Bitfields16", {.width = 3, .bits = 16, .compression = 3}, Shows},
        BitmapCase{"Bitfields32InAV5Header", {.info = 124, .bits = 32, .compression = 3}, Shows},
        BitmapCase{"OldCoreHeader", {.info = 12, .width = 3, .height = 2, .bits = 8}, Shows},
        BitmapCase{"Rle8", {.width = 7, .bits = 8, .compression = 1}, Shows},
        BitmapCase{"Rle4", {.width = 7, .bits = 4, .compression = 2}, Shows},
        BitmapCase{"Rle8AtTheSizeLimit", {.width = 16384, .height = 16384, .bits = 8, .compression = 1}, Shows},
        BitmapCase{"OneColumnPastTheLimit", {.width = 16385, .height = 16384, .bits = 8, .compression = 1}, TooLarge},
        BitmapCase{"BombOf60000x60000In100Bytes", {.width = 60000, .height = 60000, .pixelBytes = 46}, TooLarge},
        BitmapCase{"OneBytePixelDataShort", {.width = 5, .height = 3, .pixelBytes = 47}, CutOff},
        BitmapCase{"NoPixelData", {.pixelBytes = 0}, CutOff}, BitmapCase{"SizeFieldPastTheEnd", {.declared = 1000}, CutOff},
        BitmapCase{"ColourTableToTheEnd", {.bits = 8, .pixelBytes = 0}, CutOff},
        BitmapCase{"Rle8ImageSizePastTheEnd", {.bits = 8, .compression = 1, .imageSize = 1000}, CutOff},
        BitmapCase{"Depth7", {.bits = 7}, Malformed}, BitmapCase{"TwoPlanes", {.planes = 2}, Malformed},
        BitmapCase{"Rle8At24Bits", {.compression = 1}, Malformed}, BitmapCase{"ZeroWidth", {.width = 0}, Malformed},
        BitmapCase{"ThreeHundredColours", {.bits = 8, .colours = 300}, Malformed},
        BitmapCase{"InfoHeaderOf56Bytes", {.info = 56}, Malformed}),
    [](const auto& info) { return std::string(info.param.name); });

struct PictureService : ::testing::Test {
    TempDir dir;
    QtPictureService pictures;
};

// Bitmaps over the limit are the rows above; another format's header is read by Qt.
TEST_F(PictureService, RefusesWhatItCannotShowByName) {
    const char gif[] = "GIF89a\x60\xea\x60\xea\0\0\0,\0\0\0\0\x60\xea\x60\xea\0\2\2\x44\1\0;";  // 60000 x 60000
    WriteBytes(dir.File("bomb.gif"), Bytes(gif, gif + sizeof gif - 1));
    std::filesystem::create_directory(dir.File("folder.bmp"));
    std::vector<std::tuple<const char*, int, const char*>> refused = {
        {"folder.bmp", err::PathFileAccess, "폴더입니다"}, {"gone.bmp", err::FileNotFound, "찾을 수 없습니다"}};
#ifndef _WIN32  // Windows has no FIFOs, and its Qt is built without GIF
    ASSERT_EQ(::mkfifo(dir.File("fifo.bmp").c_str(), 0666), 0);  // nothing writes to it: opening must not wait
    refused.insert(refused.begin(), {{"bomb.gif", err::InvalidPicture, "너무 큰 그림입니다"},
                                     {"fifo.bmp", err::PathFileAccess, "일반 파일이 아니어서 (FIFO"}});
#endif
    for (const auto& [name, number, words] : refused) {
        SCOPED_TRACE(name);
        const Error e = ErrorOf([&] { pictures.LoadPicture(dir.File(name)); });
        EXPECT_EQ(e.Number(), number);
        EXPECT_NE(e.Description().find("'" + dir.File(name) + "'"), std::string::npos) << e.Description();
        EXPECT_NE(e.Description().find(words), std::string::npos) << e.Description();
    }
}

#ifndef _WIN32
// The process's address space now, in bytes.
std::uint64_t AddressSpace() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0) return std::stoull(line.substr(7)) << 10;
    return 0;
}

#endif

TEST_F(PictureService, SaysMemoryRanOutRatherThanThatASoundPictureIsUnreadable) {
#ifdef _WIN32
    GTEST_SKIP() << "no fork or address-space limit on Windows";
#else
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit leaves";
#endif
    const std::string file = dir.File("large.jpg");
    QImage large(5000, 5000, QImage::Format_RGB32);
    large.fill(Qt::white);
    ASSERT_TRUE(large.save(QString::fromStdString(file), "JPG"));
    large = QImage();
    // In a child with room for everything but the decoded picture (95 MiB).
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit limit{AddressSpace() + (48u << 20), RLIM_INFINITY};
        ::setrlimit(RLIMIT_AS, &limit);
        try {
            QtPictureService().LoadPicture(file);
            ::_exit(1);
        } catch (const Error& e) {
            const bool named = e.Description().find(file) != std::string::npos &&
                               e.Description().find("메모리가 부족해") != std::string::npos;
            ::_exit(e.Number() == err::OutOfMemory && named ? 0 : 2);
        } catch (...) {
            ::_exit(3);
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // Unlimited, the same file is a picture.
    EXPECT_EQ(pictures.LoadPicture(file).size(), QSize(5000, 5000));
#endif
}

TEST_F(PictureService, SaysAFileItMayNotReadIsUnreadable) {
#ifdef _WIN32
    GTEST_SKIP() << "no permission bits on Windows: its owner may read a file whatever they say";
#endif
    const std::string file = dir.File("secret.bmp");
    WriteBytes(file, Build({}));
    std::filesystem::permissions(file, std::filesystem::perms::none);
    EXPECT_EQ(RunAsUnprivileged([&] {
                  const Error e = ErrorOf([&] { QtPictureService().LoadPicture(file); });
                  const bool said = e.Description().find("'" + file + "'를 읽을 권한이 없습니다") != std::string::npos;
                  return e.Number() == err::PermissionDenied && said ? 0 : 1;
              }),
              0);
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);  // the image readers of Qt's plugins
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
