// What a file may be before anything decodes it: bitmaps checked from their
// header and length (held against what Qt's reader makes of the same bytes),
// the size limit, and files that are no regular files, through the picture
// service the window and kaldoria-db use.
#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/error.h"
#include "platform/picture_header.h"
#include "platform/pictures.h"
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
    Bytes b(14 + h.info, 0);
    auto put = [&b](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    put(14, h.info, 4);
    const bool core = h.info == 12;
    put(18, static_cast<std::uint32_t>(h.width), core ? 2 : 4);
    put(core ? 20 : 22, static_cast<std::uint32_t>(h.height), core ? 2 : 4);
    put(core ? 22 : 26, h.planes, 2);
    put(core ? 24 : 28, h.bits, 2);
    if (!core) {
        put(30, h.compression, 4);
        put(34, h.imageSize, 4);
        put(46, h.colours, 4);
    }
    if (h.compression == 3) {
        if (h.info < 108) b.resize(b.size() + 12);
        const bool wide = h.bits == 32;
        put(54, wide ? 0xff0000 : 0xf800, 4), put(58, wide ? 0xff00 : 0x07e0, 4), put(62, wide ? 0xff : 0x1f, 4);
    }
    const std::uint32_t colours = h.bits > 8 ? 0 : h.colours ? h.colours : 1u << h.bits;
    for (std::uint32_t i = 0; i < colours; ++i)
        for (int c = 0; c < (core ? 3 : 4); ++c) b.push_back(static_cast<std::uint8_t>(c < 3 ? i * 255 / colours : 0));
    put(10, static_cast<std::uint32_t>(b.size()), 4);
    const bool runs = h.compression == 1 || h.compression == 2;
    const std::uint64_t needed = runs ? 2 : (std::uint64_t(h.width) * h.bits + 31) / 32 * 4 * std::abs(h.height);
    const std::size_t pixels = h.pixelBytes < 0 ? needed : static_cast<std::size_t>(h.pixelBytes);
    const Bytes data = runs ? Bytes{0, 1} : PatternBytes(pixels);
    b.insert(b.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min(pixels, data.size())));
    b.resize(b.size() + (pixels > data.size() ? pixels - data.size() : 0));
    put(2, h.declared < 0 ? static_cast<std::uint32_t>(b.size()) : static_cast<std::uint32_t>(h.declared), 4);
    return b;
}

enum class Verdict { Shows, CutOff, Malformed, TooLarge };

struct BitmapCase {
    const char* name;
    Header header;
    Verdict verdict;
};
void PrintTo(const BitmapCase& c, std::ostream* os) { *os << c.name; }

const char* const kWords[] = {"", "잘린 비트맵입니다", "올바르지 않은 비트맵입니다", "너무 큰 그림입니다"};

class Bitmaps : public ::testing::TestWithParam<BitmapCase> {};

TEST_P(Bitmaps, AreJudgedFromTheHeaderAsTheReaderWouldReadThem) {
    const Header& h = GetParam().header;
    const Bytes file = Build(h);
    const std::size_t headSize = std::min(file.size(), kBitmapHeadBytes);
    const BitmapCheck check = CheckBitmap(std::span(file.data(), headSize), file.size());
    ASSERT_TRUE(check.bitmap);
    const Verdict verdict = GetParam().verdict;
    if (verdict != Verdict::Shows) {
        EXPECT_TRUE(check.problem.starts_with(kWords[static_cast<int>(verdict)])) << check.problem;
    } else {
        EXPECT_EQ(check.problem, "");
        EXPECT_EQ(QSize(check.width, check.height), QSize(h.width, std::abs(h.height)));
    }
    // The reader as the picture services set it up; it would quietly fill in
    // a cut-off file, and a too large one never reaches it.
    if (verdict == Verdict::Shows || verdict == Verdict::Malformed) {
        QByteArray bytes(reinterpret_cast<const char*>(file.data()), static_cast<qsizetype>(file.size()));
        QBuffer buffer(&bytes);
        QImageReader reader(&buffer);
        std::string tooLarge;
        const QImage decoded = ReadWithinLimit(reader, tooLarge);
        EXPECT_EQ(decoded.isNull(), verdict == Verdict::Malformed);
        if (!decoded.isNull()) {
            EXPECT_EQ(decoded.size(), QSize(check.width, check.height));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, Bitmaps,
    ::testing::Values(
        BitmapCase{"Rgb24", {}, Verdict::Shows},
        BitmapCase{"Rgb32TopDown", {.width = 5, .height = -3, .bits = 32}, Verdict::Shows},
        BitmapCase{"Mono9x2", {.width = 9, .height = 2, .bits = 1}, Verdict::Shows},
        BitmapCase{"Palette4", {.width = 3, .height = 3, .bits = 4}, Verdict::Shows},
        BitmapCase{"Palette8OfThreeColours", {.bits = 8, .colours = 3}, Verdict::Shows},
        BitmapCase{"Bitfields16", {.width = 3, .bits = 16, .compression = 3}, Verdict::Shows},
        BitmapCase{"Bitfields32InAV5Header", {.info = 124, .bits = 32, .compression = 3}, Verdict::Shows},
        BitmapCase{"OldCoreHeader", {.info = 12, .width = 3, .height = 2, .bits = 8}, Verdict::Shows},
        BitmapCase{"Rle8", {.width = 7, .bits = 8, .compression = 1}, Verdict::Shows},
        BitmapCase{"Rle4", {.width = 7, .bits = 4, .compression = 2}, Verdict::Shows},
        BitmapCase{"Rle8AtTheSizeLimit", {.width = 16384, .height = 16384, .bits = 8, .compression = 1}, Verdict::Shows},
        BitmapCase{"OneBytePastTheLimit", {.width = 16385, .height = 16384, .bits = 8, .compression = 1},
                   Verdict::TooLarge},
        BitmapCase{"BombOf60000x60000In100Bytes", {.width = 60000, .height = 60000, .pixelBytes = 46}, Verdict::TooLarge},
        BitmapCase{"OneBytePixelDataShort", {.width = 5, .height = 3, .pixelBytes = 47}, Verdict::CutOff},
        BitmapCase{"NoPixelData", {.pixelBytes = 0}, Verdict::CutOff},
        BitmapCase{"SizeFieldPastTheEnd", {.declared = 1000}, Verdict::CutOff},
        BitmapCase{"ColourTableToTheEnd", {.bits = 8, .pixelBytes = 0}, Verdict::CutOff},
        BitmapCase{"Rle8ImageSizePastTheEnd", {.bits = 8, .compression = 1, .imageSize = 1000}, Verdict::CutOff},
        BitmapCase{"Depth7", {.bits = 7}, Verdict::Malformed},
        BitmapCase{"TwoPlanes", {.planes = 2}, Verdict::Malformed},
        BitmapCase{"Rle8At24Bits", {.compression = 1}, Verdict::Malformed},
        BitmapCase{"ZeroWidth", {.width = 0}, Verdict::Malformed},
        BitmapCase{"ThreeHundredColours", {.bits = 8, .colours = 300}, Verdict::Malformed},
        BitmapCase{"InfoHeaderOf56Bytes", {.info = 56}, Verdict::Malformed}),
    [](const auto& info) { return std::string(info.param.name); });

// A PNG claiming `width` × `height` that holds no pixels at all.
Bytes EmptyPng(std::uint32_t width, std::uint32_t height) {
    Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    auto be32 = [&b](std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
    };
    auto chunk = [&](const char* type, Bytes data) {
        be32(static_cast<std::uint32_t>(data.size()));
        const std::size_t start = b.size();
        b.insert(b.end(), type, type + 4);
        b.insert(b.end(), data.begin(), data.end());
        std::uint32_t crc = 0xffffffff;
        for (std::size_t i = start; i < b.size(); ++i) {
            crc ^= b[i];
            for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
        }
        be32(~crc);
    };
    Bytes ihdr;
    for (std::uint32_t v : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8) ihdr.push_back(static_cast<std::uint8_t>(v >> shift));
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA
    chunk("IHDR", ihdr);
    chunk("IDAT", {});
    chunk("IEND", {});
    return b;
}

struct PictureService : ::testing::Test {
    TempDir dir;
    QtPictureService pictures;
};

TEST_F(PictureService, OpensUpToTheSizeLimitAndRefusesPastItWithoutDecoding) {
    WriteBytes(dir.File("limit.bmp"), Build({.width = 16384, .height = 16384, .bits = 8, .compression = 1}));
    EXPECT_EQ(pictures.LoadPicture(dir.File("limit.bmp")).size(), QSize(16384, 16384));
    const std::pair<const char*, Bytes> tooLarge[] = {
        {"past.bmp", Build({.width = 16385, .height = 16384, .bits = 8, .compression = 1})},
        {"bomb.bmp", Build({.width = 60000, .height = 60000, .pixelBytes = 46})},
        {"bomb.png", EmptyPng(20000, 20000)}};
    for (const auto& [name, bytes] : tooLarge) {
        SCOPED_TRACE(name);
        WriteBytes(dir.File(name), bytes);
        const Error e = ErrorOf([&] { pictures.LoadPicture(dir.File(name)); });
        EXPECT_EQ(e.Number(), err::InvalidPicture);
        EXPECT_NE(e.Description().find("'" + dir.File(name) + "'은(는) 너무 큰 그림입니다"), std::string::npos)
            << e.Description();
    }
}

TEST_F(PictureService, OpensOnlyRegularFilesAndSaysWhatElseItFound) {
    const std::string fifo = dir.File("fifo.bmp"), folder = dir.File("folder.bmp");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    std::filesystem::create_directory(folder);
    const std::tuple<std::string, int, const char*> cases[] = {
        {fifo, err::PathFileAccess, "일반 파일이 아니어서 (FIFO"},
        {folder, err::PathFileAccess, "폴더입니다"},
        {dir.File("gone.bmp"), err::FileNotFound, "찾을 수 없습니다"}};
    for (const auto& [path, number, words] : cases) {
        SCOPED_TRACE(path);
        const Error e = ErrorOf([&] { pictures.LoadPicture(path); });
        EXPECT_EQ(e.Number(), number);
        EXPECT_NE(e.Description().find("'" + path + "'"), std::string::npos) << e.Description();
        EXPECT_NE(e.Description().find(words), std::string::npos) << e.Description();
    }
}

TEST_F(PictureService, SaysAFileItMayNotReadIsUnreadable) {
    const std::string file = dir.File("secret.bmp");
    WriteBytes(file, Build({}));
    std::filesystem::permissions(file, std::filesystem::perms::none);
    const int status = RunAsUnprivileged([&] {
        const Error e = ErrorOf([&] { QtPictureService().LoadPicture(file); });
        const bool said = e.Description().find("'" + file + "'을(를) 읽을 권한이 없습니다") != std::string::npos;
        return e.Number() == err::PermissionDenied && said ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);  // the image readers of Qt's plugins
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
