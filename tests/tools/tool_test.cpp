// kaldoria-db run as a separate process on real database files, some of them
// made by the sqlite3 shell, checked through what a user would see: exit
// statuses, messages, rows read back with SQLite directly and files written.
#include <gtest/gtest.h>

#include <regex>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QStandardPaths>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <thread>

#include <sqlite3.h>

#include "run_tool.h"
#include "engine/workspace/workspace.h"
#include "store/save.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

Bytes Encoded(const QImage& image, const char* format) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return Bytes(data.begin(), data.end());
}

Bytes Bitmap(int w, int h, QColor color, const char* format = "BMP") {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    return Encoded(image, format);
}

// A bitmap whose pixel data ends a row early while its size field agrees.
Bytes CutOffBitmap() {
    Bytes b = Bitmap(40, 40, Qt::red);
    b.resize(b.size() - 40 * 3);
    for (int i = 0; i < 4; ++i) b[2 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(b.size() >> (8 * i));
    return b;
}

QImage Decoded(const Bytes& bytes) {
    return QImage::fromData(QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
}

std::string Hex(const Bytes& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string s = "X'";
    for (auto b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s + "'";
}

// Runs SQL through the sqlite3 command-line shell, as a user making a database by hand would.
void Shell(const std::string& db, const std::string& sql) {
    Outcome r = RunSqliteShell(db, sql);
    ASSERT_EQ(r.status, 0) << r.err;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    return lines;
}

using Rows = std::vector<std::pair<std::string, Bytes>>;

struct ToolTest : ::testing::Test {
    TempDir dir;
    std::string db = dir.File("dojang.mdb");

    // A database made by the sqlite3 shell: one good bitmap, one value that
    // is no picture, a Null name and an empty name with a Null picture.
    Bytes good = Bitmap(8, 6, Qt::red);
    void MakeMixedByShell() {
        Shell(db, "CREATE TABLE pic_list (pic_name TEXT, pic BLOB);"
                  "INSERT INTO pic_list VALUES ('도장', " + Hex(good) + ");"
                  "INSERT INTO pic_list VALUES ('깨진', X'00FF0010AB');"
                  "INSERT INTO pic_list VALUES (NULL, " + Hex(good) + ");"
                  "INSERT INTO pic_list VALUES ('', NULL);");
    }
};

// --- create -----------------------------------------------------------------

struct Existing {
    const char* what;
    Bytes content;
    friend void PrintTo(const Existing& c, std::ostream* os) { *os << c.what; }
};

struct CreateRefuses : ToolTest, ::testing::WithParamInterface<Existing> {};

TEST_P(CreateRefuses, AnythingAlreadyAtThePath) {
    WriteBytes(db, GetParam().content);
    Outcome r = RunTool({"create", Q(db), "--sample"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, db) && Has(r.err, "덮어쓰지 않습니다")) << r.err;
    EXPECT_EQ(ReadBytes(db), GetParam().content);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"dojang.mdb"});
}

INSTANTIATE_TEST_SUITE_P(Tool, CreateRefuses,
                         ::testing::Values(Existing{"empty file", {}},
                                           Existing{"text file", {'h', 'e', 'l', 'l', 'o', '\n'}},
                                           Existing{"zeros", Bytes(4096, 0)}),
                         [](const auto& info) {
                             std::string n = info.param.what;
                             std::replace(n.begin(), n.end(), ' ', '_');
                             return n;
                         });

TEST_F(ToolTest, CreateRefusesAnExistingDatabaseAndKeepsItsRows) {
    ASSERT_EQ(RunTool({"create", Q(db), "--sample"}).status, 0);
    const Bytes before = ReadBytes(db);
    EXPECT_EQ(RunTool({"create", Q(db)}).status, 1);
    EXPECT_EQ(ReadBytes(db), before);
    EXPECT_EQ(RawRows(db).size(), 1u);
}

TEST_F(ToolTest, CreateMakesAnEmptyPictureTable) {
    Outcome r = RunTool({"create", Q(db)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(RawRows(db).empty());
    RawInsert(db, nullptr, {1, 2, 3});  // pic_list with pic_name and pic
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"dojang.mdb"});
}

TEST_F(ToolTest, CreateInAMissingFolderLeavesNothing) {
    Outcome r = RunTool({"create", Q(dir.File("no/such/dojang.mdb")), "--sample"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "no/such/dojang.mdb")) << r.err;
    EXPECT_TRUE(dir.Entries().empty());
}

// Headless and without a chosen platform, as `make run` and `make install` call it.
TEST_F(ToolTest, SampleIsARedSealWithTheWordDrawnHeadless) {
    auto env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_QPA_PLATFORM");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    Outcome r = RunTool({"create", Q(db), "--sample"}, dir.path(), env);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(Has(r.err, "글꼴")) << r.err;  // a Korean font was found

    Rows rows = RawRows(db);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].first, "도장");
    ASSERT_GE(rows[0].second.size(), 2u);
    EXPECT_EQ(rows[0].second[0], 'B');
    EXPECT_EQ(rows[0].second[1], 'M');
    const QImage stamp = Decoded(rows[0].second);
    ASSERT_EQ(stamp.size(), QSize(64, 64));
    auto red = [&](int x, int y) {
        QColor c = stamp.pixelColor(x, y);
        return c.red() > 150 && c.green() < 110 && c.blue() < 110;
    };
    EXPECT_FALSE(red(0, 0));
    EXPECT_TRUE(red(32, 3) || red(32, 4));  // the ring
    int word = 0;                             // the two syllables inside it
    for (int y = 20; y < 44; ++y)
        for (int x = 12; x < 52; ++x) word += red(x, y);
    EXPECT_GT(word, 120);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"dojang.mdb"});
}

// --- import -----------------------------------------------------------------

// Names another program stored as something other than text, which the
// removal statement's text literal may or may not match.
struct StoredName {
    const char* what;
    const char* table;    // the CREATE TABLE statement
    const char* stored;   // the old row's name as an SQL expression
    const char* typed;    // the name given to import and export
    const char* listed;   // how list shows the old row's name
    bool refused;         // the literal never matches it: saving would leave it
    friend void PrintTo(const StoredName& c, std::ostream* os) { *os << c.what; }
};

struct NameTypes : ToolTest, ::testing::WithParamInterface<StoredName> {};

TEST_P(NameTypes, SaveRemovesWhatListAndExportCallByThatNameOrRefuses) {
    const StoredName& c = GetParam();
    const Bytes old = Bitmap(3, 3, Qt::blue), fresh = Bitmap(5, 2, Qt::black);
    Shell(db, std::string(c.table) + "; INSERT INTO pic_list VALUES (" + c.stored + ", " + Hex(old) + ");");
    WriteBytes(dir.File("new.bmp"), fresh);
    Outcome listed = RunTool({"list", Q(db)});
    EXPECT_TRUE(Has(listed.out, std::string(c.listed) + "\t")) << listed.out;

    const Bytes before = ReadBytes(db);
    Outcome r = RunTool({"import", Q(db), c.typed, Q(dir.File("new.bmp"))});
    Outcome exported = RunTool({"export", Q(db), c.typed, Q(dir.File("out.bmp"))});
    if (!c.refused) {
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(RawRows(db).size(), 1u);
        EXPECT_EQ(exported.status, 0) << exported.err;
        EXPECT_EQ(ReadBytes(dir.File("out.bmp")), fresh);
        return;
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "BLOB이나 숫자로 저장된 행이 1개")) << r.err;
    EXPECT_EQ(ReadBytes(db), before);
    // Export by the typed name finds what the save would have removed: nothing.
    EXPECT_EQ(exported.status, 1);
    EXPECT_FALSE(fs::exists(dir.File("out.bmp")));

    // The statement the message gives makes the table usable: the save then
    // replaces the old row.
    const std::string fix = r.err.substr(r.err.find("UPDATE pic_list"));
    Shell(db, fix.substr(0, fix.find('\n')));
    Outcome again = RunTool({"import", Q(db), c.typed, Q(dir.File("new.bmp"))});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(RawRows(db), (Rows{{c.typed, fresh}}));
}

INSTANTIATE_TEST_SUITE_P(
    Tool, NameTypes,
    ::testing::Values(
        StoredName{"blob_in_a_text_column", "CREATE TABLE pic_list (pic_name TEXT, pic BLOB)", "CAST('도장' AS BLOB)",
                   "도장", "x'EB8F84EC9EA5'", true},
        StoredName{"blob_in_an_untyped_column", "CREATE TABLE pic_list (pic_name, pic)", "x'41'", "A", "x'41'", true},
        StoredName{"number_in_an_untyped_column", "CREATE TABLE pic_list (pic_name, pic)", "5", "5", "\"5\"", true},
        StoredName{"number_in_a_numeric_column", "CREATE TABLE pic_list (pic_name NUMERIC, pic BLOB)", "5", "5",
                   "\"5\"", false}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(ToolTest, ImportThatCannotAddTheRowKeepsTheOldRows) {
    MakePictureDb(db);
    const Bytes old = Bitmap(2, 2, Qt::red);
    const std::string name = "도장";
    RawInsert(db, &name, old);
    // The delete succeeds, the insert fails: both must be undone together.
    RawSql(db, "CREATE TRIGGER refuse BEFORE INSERT ON pic_list BEGIN SELECT RAISE(ABORT, 'full'); END;");
    WriteBytes(dir.File("new.bmp"), Bitmap(9, 9, Qt::green));
    Outcome r = RunTool({"import", Q(db), "도장", Q(dir.File("new.bmp"))});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "full")) << r.err;
    EXPECT_EQ(RawRows(db), (Rows{{"도장", old}}));
}

struct Unreadable {
    const char* what;
    std::function<void(const std::string&)> make;
    const char* said = "";  // what the refusal says besides the file's name
    friend void PrintTo(const Unreadable& c, std::ostream* os) { *os << c.what; }
};

struct ImportRefuses : ToolTest, ::testing::WithParamInterface<Unreadable> {};

TEST_P(ImportRefuses, BeforeTheDatabaseIsTouched) {
    ASSERT_EQ(RunTool({"create", Q(db), "--sample"}).status, 0);
    const Bytes before = ReadBytes(db);
    const std::string file = dir.File("in.bmp");
    GetParam().make(file);
    const auto entries = dir.Entries();
    Outcome r = RunTool({"import", Q(db), "새 도장", Q(file)}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, file) && Has(r.err, GetParam().said)) << r.err;
    EXPECT_EQ(ReadBytes(db), before);
    EXPECT_EQ(dir.Entries(), entries);
}

// A GIF of `width` × `height` pixels of one colour: runs that grow with the
// LZW code table, so that even 16384 × 16384 takes only 180 KB.
Bytes GifOfOneColour(std::uint16_t width, std::uint16_t height) {
    Bytes codes;
    std::uint32_t acc = 0;
    int bits = 0, size = 3;
    const auto put = [&](unsigned code) {
        acc |= code << bits;
        for (bits += size; bits >= 8; bits -= 8, acc >>= 8) codes.push_back(static_cast<std::uint8_t>(acc));
    };
    for (std::uint64_t left = std::uint64_t{width} * height; left > 0;) {
        put(4);  // clear: codes of 3 bits, the next new one 6
        size = 3;
        for (unsigned next = 6, run = 1; left > 0 && next < 4094; ++run) {
            const auto length = static_cast<unsigned>(std::min<std::uint64_t>(run, left));
            put(length == 1 ? 0 : 4 + length);  // the run of `length` pixels
            left -= length;
            // The decoder adds a code for each but the first after a clear.
            if (++next - 1 >= (1u << size) && size < 12) ++size;
        }
    }
    put(5);
    if (bits > 0) codes.push_back(static_cast<std::uint8_t>(acc));
    Bytes gif = {'G', 'I', 'F', '8', '9', 'a'};
    const auto u16 = [&](std::uint16_t v) { gif.push_back(v & 0xff), gif.push_back(v >> 8); };
    u16(width), u16(height);
    gif.insert(gif.end(), {0x80, 0, 0, 255, 255, 255, 200, 30, 40, ','});
    u16(0), u16(0), u16(width), u16(height);
    gif.insert(gif.end(), {0, 2});
    for (std::size_t at = 0; at < codes.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, codes.size() - at);
        gif.push_back(static_cast<std::uint8_t>(n));
        gif.insert(gif.end(), codes.begin() + static_cast<std::ptrdiff_t>(at),
                   codes.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    gif.insert(gif.end(), {0, ';'});
    return gif;
}

const Unreadable kUnreadable[] = {
    {"missing", [](const std::string&) {}},
    {"empty", [](const std::string& f) { WriteBytes(f, {}); }},
    {"text", [](const std::string& f) { WriteBytes(f, {'n', 'o', 't', ' ', 'a'}); }},
    {"truncated_bitmap",
     [](const std::string& f) {
         Bytes b = Bitmap(40, 40, Qt::red);
         b.resize(60);
         WriteBytes(f, b);
     }},
    {"folder", [](const std::string& f) { fs::create_directory(f); }},
#ifndef _WIN32  // Windows has no FIFOs
    {"fifo", [](const std::string& f) { ASSERT_EQ(::mkfifo(f.c_str(), 0666), 0); }},
#endif
    {"cut_off_pixels", [](const std::string& f) { WriteBytes(f, CutOffBitmap()); }},
    // The largest picture the program opens, but Qt's GIF decoder opens one pixel fewer.
    {"gif_of_16384_by_16384", [](const std::string& f) { WriteBytes(f, GifOfOneColour(16384, 16384)); },
     "GIF로는 너무 큰 그림입니다"},
    {"gif_of_16385_by_16385", [](const std::string& f) { WriteBytes(f, GifOfOneColour(16385, 16385)); },
     "너무 큰 그림입니다"},
};

INSTANTIATE_TEST_SUITE_P(Tool, ImportRefuses, ::testing::ValuesIn(kUnreadable),
                         [](const auto& info) { return std::string(info.param.what); });

// export names files by the same blank-name rule as the window and import.
TEST_F(ToolTest, ExportAllNamesABlankNameAsTheWindowWouldCallIt) {
    MakePictureDb(db);
    const Bytes picture = Bitmap(2, 2, Qt::red);
    for (const std::string name : {"\u00ad", "\u3164\u200b", "\ufe0f"}) RawInsert(db, &name, picture);
    Outcome r = RunTool({"export", Q(db), "--all", Q(dir.File("out"))});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir.File("out"))) files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"이름 없음-2.bmp", "이름 없음-3.bmp", "이름 없음.bmp"}));
}

TEST_F(ToolTest, ImportRefusesABlankNameWithTheWindowsMessage) {
    ASSERT_EQ(RunTool({"create", Q(db)}).status, 0);
    WriteBytes(dir.File("in.bmp"), Bitmap(2, 2, Qt::red));
    Outcome r = RunTool({"import", Q(db), "   ", Q(dir.File("in.bmp"))});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "이름을 입력해 주십시요.")) << r.err;
    EXPECT_TRUE(RawRows(db).empty());
}

// kaldoria-db with one argument given as raw bytes, spelt as printf's octal
// escapes: QProcess would pass only UTF-8.
Outcome RunToolWithRawArgument(QStringList before, const std::string& octal, QStringList after) {
    const QString script = "exec \"$0\" \"$@\" \"$(printf '" + Q(octal) + "')\" " +
                           [&] {
                               QStringList quoted;
                               for (const QString& a : after) quoted << "'" + a + "'";
                               return quoted.join(' ');
                           }();
    return RunProgram("sh", QStringList{"-c", script, QStringLiteral(KALDORIA_DB)} + before);
}

struct RawName {
    const char* what;
    const char* octal;  // the name's bytes
    const char* shown;  // how the refusal names them; empty when the name is UTF-8
    friend void PrintTo(const RawName& c, std::ostream* os) { *os << c.what; }
};

struct NameBytes : ToolTest, ::testing::WithParamInterface<RawName> {};

TEST_P(NameBytes, ANameThatIsNotUtf8IsRefusedNamingItsBytes) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows passes arguments as UTF-16: no argument holds bytes that are not text";
#endif
    const RawName& c = GetParam();
    ASSERT_EQ(RunTool({"create", Q(db)}).status, 0);
    WriteBytes(dir.File("a.bmp"), Bitmap(2, 2, Qt::red));
    ASSERT_EQ(RunTool({"import", Q(db), "직인", Q(dir.File("a.bmp"))}).status, 0);
    const Bytes before = ReadBytes(db);
    WriteBytes(dir.File("b.bmp"), Bitmap(3, 3, Qt::blue));
    Outcome imported = RunToolWithRawArgument({"import", Q(db)}, c.octal, {Q(dir.File("b.bmp"))});
    Outcome exported = RunToolWithRawArgument({"export", Q(db)}, c.octal, {Q(dir.File("out.bmp"))});
    if (!*c.shown) {
        EXPECT_EQ(imported.status, 0) << imported.err;
        EXPECT_EQ(RawRows(db).size(), 2u);
        EXPECT_EQ(exported.status, 0) << exported.err;
        return;
    }
    EXPECT_EQ(imported.status, 1);
    EXPECT_TRUE(Has(imported.err, c.shown)) << imported.err;
    EXPECT_EQ(ReadBytes(db), before);
    EXPECT_EQ(exported.status, 1);
    EXPECT_TRUE(Has(exported.err, c.shown)) << exported.err;
    EXPECT_FALSE(fs::exists(dir.File("out.bmp")));
}

INSTANTIATE_TEST_SUITE_P(
    Tool, NameBytes,
    ::testing::Values(
        // 직인 and 도장 in EUC-KR would both have become "����" and replaced each other.
        RawName{"euc_kr", "\\301\\367\\300\\316", "\"\\xC1\\xF7\\xC0\\xCE\"에 UTF-8 글자가 아닌 바이트(C1 F7 C0 CE)"},
        RawName{"euc_kr_after_ascii", "A-\\265\\265", "\"A-\\xB5\\xB5\""},
        RawName{"overlong_slash", "\\300\\257", "(C0 AF)"},
        RawName{"encoded_surrogate", "\\355\\240\\200", "(ED A0 80)"},
        RawName{"cut_off_character", "\\354\\236", "(EC 9E)"},
        RawName{"replacement_character_typed_as_utf8", "\\357\\277\\275", ""}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(ToolTest, AFileNameThatIsNotUtf8IsStillFound) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows names files in UTF-16: no name holds bytes that are not text";
#endif
    ASSERT_EQ(RunTool({"create", Q(db)}).status, 0);
    const Bytes picture = Bitmap(4, 4, Qt::green);
    WriteBytes(dir.File("f\xB5.bmp"), picture);
    Outcome r = RunProgram("sh", {"-c", "exec \"$0\" import \"$1\" x \"$2$(printf '\\265').bmp\"", KALDORIA_DB, Q(db),
                                  Q(dir.File("f"))});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(RawRows(db), (Rows{{"x", picture}}));
}

// Every format import takes, in a Korean folder under a Korean name: a bitmap
// is stored as it is, any other picture as the bitmap of the same pixels,
// and the message names the format it came from. The same table runs on
// Linux and on Windows, whose picture formats are built separately.
struct ImportFormat {
    const char* what;
    const char* file;  // in the folder "인감 스캔 모음"
    const char* format;  // Qt's writer, or "" for the GIF below
    const char* said;    // the format as the message names it, or "" for a bitmap
    bool lossless;
    friend void PrintTo(const ImportFormat& c, std::ostream* os) { *os << c.what; }
};

// A 6x4 GIF (Qt writes none): red, with blue at (1,1) and green at (4,2).
const Bytes kGif = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x06, 0x00, 0x04, 0x00, 0xf1, 0x00, 0x00, 0xff, 0x00,
                    0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x21, 0xf9, 0x04, 0x00, 0x00,
                    0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x04, 0x00, 0x00, 0x02, 0x06,
                    0x84, 0x0f, 0x82, 0x18, 0x6b, 0x05, 0x00, 0x3b};

QImage GifPixels() {
    QImage image(6, 4, QImage::Format_RGB32);
    image.fill(qRgb(255, 0, 0));
    image.setPixel(1, 1, qRgb(0, 0, 255));
    image.setPixel(4, 2, qRgb(0, 255, 0));
    return image;
}

// A seal scanned at 300 dpi: a red ring on paper, 8 cm by 4 cm.
QImage Scan() {
    QImage image(945, 472, QImage::Format_RGB32);
    image.fill(qRgb(245, 242, 236));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(200, 30, 40), 18));
    painter.drawEllipse(QPoint(472, 236), 180, 180);
    painter.end();
    image.setDotsPerMeterX(11811);
    image.setDotsPerMeterY(11811);
    return image;
}

fs::path FsPath(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

struct ImportFormats : ToolTest, ::testing::WithParamInterface<ImportFormat> {};

TEST_P(ImportFormats, StoreTheSamePixelsAsABitmapAndNameTheFormat) {
    const ImportFormat& c = GetParam();
    const std::string folder = dir.File("인감 스캔 모음");
    fs::create_directory(FsPath(folder));
    const std::string file = folder + "/" + c.file;
    const QImage picture = *c.format ? Scan() : GifPixels();
    const Bytes source = *c.format ? Encoded(picture, c.format) : kGif;
    WriteBytes(file, source);
    ASSERT_EQ(RunTool({"create", Q(db)}).status, 0);

    const Outcome r = RunTool({"import", Q(db), "법인 인감", Q(file)});
    ASSERT_EQ(r.status, 0) << r.err;
    const Rows rows = RawRows(db);
    ASSERT_EQ(rows.size(), 1u);
    const Bytes& stored = rows[0].second;
    if (!*c.said) {
        EXPECT_EQ(stored, source);
        EXPECT_FALSE(Has(r.out, "바꿈")) << r.out;
    } else {
        EXPECT_TRUE(Has(r.out, std::string(c.said) + "에서 비트맵으로 바꿈")) << r.out;
        ASSERT_GE(stored.size(), 2u);
        EXPECT_EQ(std::string(stored.begin(), stored.begin() + 2), "BM");
    }
    // The pixels the file decodes to, and for a lossless format the very
    // pixels it was made from.
    const QImage back = Decoded(stored).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(back.size(), picture.size());
    EXPECT_EQ(back, Decoded(source).convertToFormat(QImage::Format_RGB32));
    EXPECT_TRUE(!c.lossless || back == picture);
    EXPECT_EQ(ReadBytes(file), source);  // the file is only read
}

INSTANTIATE_TEST_SUITE_P(
    Tool, ImportFormats,
    ::testing::Values(ImportFormat{"bmp", "인감 스캔.bmp", "BMP", "", true},
                      ImportFormat{"png", "인감 스캔.png", "PNG", "PNG", true},
                      ImportFormat{"jpeg_scan_at_300_dpi", "인감 스캔.jpg", "JPEG", "JPEG", false},
                      ImportFormat{"gif", "인감.gif", "", "GIF", true},
                      ImportFormat{"ppm", "인감 스캔.ppm", "PPM", "PPM", true}),
    [](const auto& info) { return std::string(info.param.what); });

// Every command that takes a path, given Korean folder and file names with
// blanks: each finds, makes and names exactly the files it was given.
TEST_F(ToolTest, EveryPathArgumentTakesKoreanFolderAndFileNames) {
    const std::string folder = dir.File("한글 폴더 (사무실)");
    fs::create_directory(FsPath(folder));
    const std::string book = folder + "/도장 책.mdb", scan = folder + "/인감 스캔.png";
    const std::string out = folder + "/내보낸 인감.bmp", all = folder + "/모두 내보내기/하위 폴더";
    const std::string copy = folder + "/백업 사본.mdb";
    WriteBytes(scan, Encoded(Scan(), "PNG"));
    const struct {
        QStringList args;
        std::string made;   // a file or folder the command makes, or ""
        std::string shown;  // a path its output names, or ""
    } steps[] = {
        {{"create", Q(book), "--sample"}, book, ""},
        {{"import", Q(book), "인감", Q(scan)}, "", ""},
        {{"list", Q(book)}, "", ""},
        {{"check", Q(book)}, "", ""},
        {{"export", Q(book), "인감", Q(out)}, out, out},
        {{"export", Q(book), "--all", Q(all)}, all + "/인감.bmp", all},
        {{"export", Q(book), "--all", "--png", Q(all + " PNG")}, all + " PNG/도장.png", all + " PNG"},
        {{"backup", Q(book), Q(copy)}, copy, copy},
        {{"list", Q(copy)}, "", ""},
        {{"history", Q(book), "--enable"}, "", ""},
        {{"delete", Q(book), "인감"}, "", ""},
        {{"history", Q(book), "인감"}, "", ""},
        {{"restore", Q(book), "인감"}, "", ""},
        {{"rename", Q(book), "인감", "법인 인감"}, "", ""},
        {{"prune", Q(book), "--keep", "1"}, "", ""},
    };
    for (const auto& step : steps) {
        const Outcome r = RunTool(step.args);
        const std::string what = step.args.join(' ').toStdString();
        EXPECT_EQ(r.status, 0) << what << "\n" << r.err;
        EXPECT_TRUE(step.made.empty() || fs::exists(FsPath(step.made))) << what;
        EXPECT_TRUE(step.shown.empty() || Has(r.out, step.shown)) << what << "\n" << r.out;
    }
    Outcome listed = RunTool({"list", Q(book)});
    EXPECT_TRUE(Has(listed.out, "\"법인 인감\"") && Has(listed.out, "\"도장\"")) << listed.out;
}

// --- export -----------------------------------------------------------------

// Sizes around the 32000-byte chunk, all full of zeros among other bytes.
struct ExportSizes : ToolTest, ::testing::WithParamInterface<std::size_t> {};

TEST_P(ExportSizes, OneNameRoundTripsByteForByte) {
    MakePictureDb(db);
    const Bytes value = PatternBytes(GetParam(), static_cast<unsigned>(GetParam()));
    const std::string name = "a/b\x01 '도장'";
    RawInsert(db, &name, value);
    Outcome r = RunTool({"export", Q(db), Q(name), Q(dir.File("out.bin"))});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir.File("out.bin")), value);
}

INSTANTIATE_TEST_SUITE_P(Tool, ExportSizes, ::testing::Values(0, 1, 31999, 32000, 32001, 3 * 32000 + 17));

TEST_F(ToolTest, ExportAllWritesEveryRowOnceUnderSafeNames) {
    MakePictureDb(db);
    const std::vector<std::pair<const char*, std::size_t>> named = {
        {"도장", 500},      {"도장", 501},  {"a/b", 32000},     {"../../escape", 7}, {"..", 8},
        {"tab\there", 9},   {"line\nnext", 10}, {"", 11},        {"a_b", 12},         {"back\\slash", 13},
        {" ", 14},          {".hidden", 15}};
    std::vector<Bytes> values;
    unsigned seed = 1;
    for (const auto& [name, size] : named) {
        values.push_back(PatternBytes(size, seed++));
        const std::string n = name;
        RawInsert(db, &n, values.back());
    }
    values.push_back(PatternBytes(16, seed++));
    RawInsert(db, nullptr, values.back());

    // A file already in the folder is numbered around, never written over.
    const std::string out = dir.File("backup");
    fs::create_directory(out);
    const Bytes mine = {'m', 'i', 'n', 'e'};
    WriteBytes(out + "/도장.bmp", mine);
    values.push_back(mine);
    Outcome r = RunTool({"export", Q(db), "--all", Q(out)}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"backup", "dojang.mdb"}));

    std::multiset<Bytes> written;
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(out)) {
        ASSERT_TRUE(e.is_regular_file()) << e.path();
        const std::string file = e.path().filename().string();
        names.insert(file);
        EXPECT_EQ(file.substr(file.size() - 4), ".bmp");
        EXPECT_NE(file[0], '.') << file;
        for (unsigned char c : file) EXPECT_TRUE(c >= 0x20 && c != 0x7f && c != '\\') << file;
        written.insert(ReadBytes(e.path().string()));
    }
    EXPECT_EQ(written, std::multiset<Bytes>(values.begin(), values.end()));
    EXPECT_EQ(ReadBytes(out + "/도장.bmp"), mine);
    for (const char* expected : {"도장-2.bmp", "도장-3.bmp", "a_b.bmp", "a_b-2.bmp", "이름 없음.bmp", "tab_here.bmp"})
        EXPECT_TRUE(names.count(expected)) << expected;
    EXPECT_TRUE(Has(r.out, "13")) << r.out;
    EXPECT_FALSE(Has(r.out, "\r")) << "no progress line when not on a terminal";
}

// On a terminal (here the pseudo-terminal of util-linux's script) --all counts the files as it goes.
TEST_F(ToolTest, ExportAllShowsProgressOnATerminal) {
    if (QStandardPaths::findExecutable("script").isEmpty()) GTEST_SKIP() << "no script(1)";
    MakeMixedByShell();
    const std::string command = "'" KALDORIA_DB "' export '" + db + "' --all '" + dir.File("out") + "'";
    Outcome r = RunProgram("script", {"-qec", Q(command), "/dev/null"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "\r내보내는 중 4/4")) << r.out;
}

// A book of 3,000 real-size stamps, written and flushed to the disk in
// batches: killed part way, the folder holds only whole files under stamps'
// names and nothing else; run again into a fresh folder, every stamp comes
// out byte for byte.
TEST_F(ToolTest, ExportAllOfAThousandsOfStampsIsWholeWhenKilledAndExactWhenNot) {
#ifdef _WIN32
    GTEST_SKIP() << "no fork on Windows to kill an export part way with";
#else
    MakePictureDb(db);
    std::map<std::string, Bytes> stamps;
    {
        sqlite3* h = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_stmt* s = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(h, "INSERT INTO pic_list VALUES (?, ?)", -1, &s, nullptr), SQLITE_OK);
        for (int i = 0; i < 3000; ++i) {
            const std::string name = "도장 " + std::to_string(10000 + i);
            const Bytes& pic = stamps[name] = PatternBytes(12000 + static_cast<std::size_t>(i % 97), static_cast<unsigned>(i));
            sqlite3_bind_text(s, 1, name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_blob(s, 2, pic.data(), static_cast<int>(pic.size()), SQLITE_TRANSIENT);
            ASSERT_EQ(sqlite3_step(s), SQLITE_DONE);
            sqlite3_reset(s);
        }
        sqlite3_finalize(s);
        ASSERT_EQ(sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(h);
    }
    // Every file of `out` is a stamp's bytes under its name; how many there are.
    auto whole = [&](const std::string& out, std::string& wrong) {
        long n = 0;
        for (const auto& e : fs::directory_iterator(out)) {
            const std::string file = e.path().filename().string();
            auto it = stamps.find(file.substr(0, file.size() - 4));
            if (it == stamps.end() || ReadBytes(e.path().string()) != it->second) wrong = file;
            ++n;
        }
        return n;
    };

    const std::string killed = dir.File("killed");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(KALDORIA_DB, KALDORIA_DB, "export", db.c_str(), "--all", killed.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    auto count = [&] {
        std::error_code ec;
        return fs::exists(killed, ec) ? std::distance(fs::directory_iterator(killed), fs::directory_iterator{}) : 0;
    };
    for (int i = 0; i < 3000 && count() < 400; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the export ended before it could be killed";
    // A file is named only once it is whole and on the disk: the batch in
    // hand had no names, and went with the program.
    std::string wrong;
    const long left = whole(killed, wrong);
    EXPECT_EQ(wrong, "") << "a file that is not a whole stamp stayed";
    EXPECT_GT(left, 0);

    const std::string out = dir.File("out");
    Outcome r = RunTool({"export", Q(db), "--all", Q(out)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(whole(out, wrong), 3000);
    EXPECT_EQ(wrong, "");
    EXPECT_TRUE(Has(r.out, "3000개")) << r.out;
#endif
}

TEST_F(ToolTest, ExportNeverOverwritesAndReportsAMissingName) {
    MakeMixedByShell();
    const Bytes mine = {'k', 'e', 'e', 'p'};
    WriteBytes(dir.File("taken.bmp"), mine);
    Outcome taken = RunTool({"export", Q(db), "도장", Q(dir.File("taken.bmp"))});
    EXPECT_EQ(taken.status, 1);
    EXPECT_TRUE(Has(taken.err, "taken.bmp")) << taken.err;
    EXPECT_EQ(ReadBytes(dir.File("taken.bmp")), mine);

    Outcome missing = RunTool({"export", Q(db), "없는 이름", Q(dir.File("new.bmp"))});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(Has(missing.err, "\"없는 이름\"")) << missing.err;
    EXPECT_FALSE(fs::exists(dir.File("new.bmp")));

    // The empty name is the row named "", never the Null-named row before it.
    Outcome empty = RunTool({"export", Q(db), "", Q(dir.File("empty.bmp"))});
    EXPECT_EQ(empty.status, 0) << empty.err;
    EXPECT_EQ(ReadBytes(dir.File("empty.bmp")), Bytes{});
}

// --- export as PNG ----------------------------------------------------------

// A red ring and bar, antialiased, on paper with up to ±`grain` levels of random noise per channel.
QImage SealOn(QColor paper, int grain) {
    QImage image(80, 72, QImage::Format_RGB32);
    std::mt19937 random(15);
    auto level = [&](int c) { return std::clamp(c + static_cast<int>(random() % (2 * grain + 1)) - grain, 0, 255); };
    for (int i = 0; i < 80 * 72; ++i)
        image.setPixel(i % 80, i / 80, qRgb(level(paper.red()), level(paper.green()), level(paper.blue())));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(200, 24, 32), 5));
    painter.drawEllipse(QPointF(40, 36), 27.5, 27.5);
    painter.drawLine(QPointF(30, 36), QPointF(50, 36));
    return image;
}

struct Paper {
    const char* what;
    QColor colour;
    int grain;
    friend void PrintTo(const Paper& c, std::ostream* os) { *os << c.what; }
};

struct TransparentExport : ToolTest, ::testing::WithParamInterface<Paper> {};

TEST_P(TransparentExport, PaperGoesInkStaysRed) {
    MakePictureDb(db);
    const std::string name = "직인";
    RawInsert(db, &name, Encoded(SealOn(GetParam().colour, GetParam().grain), "BMP"));
    Outcome r = RunTool({"export", Q(db), "직인", Q(dir.File("seal.png")), "--transparent"});
    ASSERT_EQ(r.status, 0) << r.err;
    const QImage out = Decoded(ReadBytes(dir.File("seal.png"))).convertToFormat(QImage::Format_ARGB32);
    int soft = 0;
    for (int y = 0; y < 72; ++y)
        for (int x = 0; x < 80; ++x) {
            const QColor c = out.pixelColor(x, y);
            const double radius = std::hypot(x + 0.5 - 40, y + 0.5 - 36);
            const bool paper = x == 0 || y == 0 || x == 79 || y == 71 || radius > 31.5 ||
                               (radius < 23.5 && std::abs(y + 0.5 - 36) > 4.5);
            EXPECT_TRUE(!paper || c.alpha() == 0) << "paper at " << x << "," << y;
            EXPECT_TRUE(radius < 26 || radius > 29 || c.alpha() == 255) << "ink at " << x << "," << y;
            EXPECT_TRUE(c.alpha() == 0 || (c.red() > 150 && c.green() < 80 && c.blue() < 80))
                << x << "," << y << ": " << c.name(QColor::HexArgb).toStdString();
            soft += c.alpha() > 0 && c.alpha() < 255;
        }
    EXPECT_GT(soft, 40) << "antialiased edges stay partly transparent";
}

INSTANTIATE_TEST_SUITE_P(Tool, TransparentExport,
                         ::testing::Values(Paper{"white", Qt::white, 0}, Paper{"light_grey", QColor(192, 192, 192), 0},
                                           Paper{"yellowish_noisy", QColor(238, 222, 172), 10}),
                         [](const auto& info) { return std::string(info.param.what); });

// Qt reads the resolution back from the pHYs chunk (in metres only). Whole
// pixels per metre make 0.01 mm the tolerance at these sizes.
TEST_F(ToolTest, SizeSetsTheLongerSidesPrintedLengthWithPixelsUnchanged) {
    MakePictureDb(db);
    const std::map<std::string, QImage> pictures = {{"넓은", SealOn(Qt::white, 0).copy(0, 16, 80, 40)},
                                                    {"높은", SealOn(Qt::white, 0).copy(20, 0, 30, 71)}};
    for (const auto& [name, picture] : pictures) RawInsert(db, &name, Encoded(picture, "BMP"));
    const struct {
        const char* name;
        QStringList options;
        double millimetres;
    } rows[] = {{"넓은", {"--png", "--size", "24"}, 24}, {"넓은", {"--size=100"}, 100},  // --size alone means PNG
                {"높은", {"--size", "5"}, 5}, {"높은", {"--png", "--size", "24.5"}, 24.5}};
    for (const auto& row : rows) {
        const std::string file = dir.File((row.options.join("") + ".png").toStdString());
        SCOPED_TRACE(file);
        ASSERT_EQ(RunTool(QStringList{"export", Q(db), row.name, Q(file)} + row.options).status, 0);
        const Bytes bytes = ReadBytes(file);
        ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "\x89PNG");
        const QImage png = Decoded(bytes);
        EXPECT_EQ(png.dotsPerMeterX(), png.dotsPerMeterY());
        EXPECT_NEAR(std::max(png.width(), png.height()) * 1000.0 / png.dotsPerMeterX(), row.millimetres, 0.01);
        EXPECT_EQ(png.convertToFormat(QImage::Format_RGB32), pictures.at(row.name));
    }
}

// A 300-dpi scan: a seal of `inkPixels` across (a red ring), its top-left at
// `at`, on a sheet of `sheet` pixels of grainy off-white paper.
QImage Scan(QSize sheet, QPoint at, int inkPixels) {
    QImage image(sheet, QImage::Format_RGB32);
    std::mt19937 random(7);
    for (int y = 0; y < sheet.height(); ++y)
        for (int x = 0; x < sheet.width(); ++x) {
            const int grain = static_cast<int>(random() % 9) - 4;
            image.setPixel(x, y, qRgb(244 + grain, 241 + grain, 234 + grain));
        }
    QPainter painter(&image);
    painter.setPen(QPen(QColor(200, 24, 32), 12));
    const double r = (inkPixels - 12) / 2.0;
    painter.drawEllipse(QPointF(at.x() + inkPixels / 2.0, at.y() + inkPixels / 2.0), r, r);
    painter.end();
    image.setDotsPerMeterX(11811), image.setDotsPerMeterY(11811);
    return image;
}

// The rows and columns of the picture that hold clearly red pixels.
QRect RedOf(const QImage& image) {
    QRect red;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > 128 && c.red() > 150 && c.green() < 120) red |= QRect(x, y, 1, 1);
        }
    return red;
}

struct CropCase {
    const char* what;
    QSize sheet;
    QPoint at;
    int inkPixels;
    QStringList options;
    double millimetres;    // of the seal itself
    const char* warning;   // on stderr; empty when the picture is fine for print
    friend void PrintTo(const CropCase& c, std::ostream* os) { *os << c.what; }
};

struct Crop : ToolTest, ::testing::WithParamInterface<CropCase> {};

TEST_P(Crop, SizeMeasuresTheSealWithAnEvenMarginAndLowResolutionIsWarnedOf) {
    const CropCase& c = GetParam();
    MakePictureDb(db);
    const std::string name = "직인";
    RawInsert(db, &name, Encoded(Scan(c.sheet, c.at, c.inkPixels), "BMP"));
    const std::string file = dir.File("out.png");
    const Outcome r = RunTool(QStringList{"export", Q(db), "직인", Q(file), "--crop"} + c.options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Has(r.err, "경고"), *c.warning != '\0') << r.err;
    EXPECT_TRUE(Has(r.err, c.warning)) << r.err;
    const QImage png = Decoded(ReadBytes(file));
    const QRect red = RedOf(png);
    ASSERT_FALSE(red.isEmpty());
    // The same paper on every side, however the seal lay on the sheet.
    const int margins[] = {red.left(), red.top(), png.width() - 1 - red.right(), png.height() - 1 - red.bottom()};
    EXPECT_LE(*std::max_element(std::begin(margins), std::end(margins)) -
                  *std::min_element(std::begin(margins), std::end(margins)), 2)
        << margins[0] << " " << margins[1] << " " << margins[2] << " " << margins[3];
    EXPECT_LE(margins[0], c.inkPixels / 10 + 2) << "the sheet around the seal is cut";
    // The seal itself prints at the size asked for.
    EXPECT_NEAR(std::max(red.width(), red.height()) * 1000.0 / png.dotsPerMeterX(), c.millimetres, 0.2);
}

INSTANTIATE_TEST_SUITE_P(
    Tool, Crop,
    ::testing::Values(
        // 23.9 mm of seal in 30.5 mm of scanned paper, sized to 24 mm: 299 dpi, just short.
        CropCase{"seal_of_a_300_dpi_scan", {360, 360}, {39, 39}, 282, {"--size", "24"}, 24, "24 mm로 놓으면 298 dpi"},
        CropCase{"off_centre", {500, 420}, {30, 110}, 300, {"--size", "24", "--transparent"}, 24, ""},
        CropCase{"touching_the_edge", {340, 340}, {0, 20}, 320, {"--size", "18"}, 18, ""},
        CropCase{"a_small_picture_printed_large", {80, 80}, {8, 8}, 64, {"--size", "24"}, 24, "67 dpi"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(ToolTest, SizeWithoutCropWarnsOfAPictureUnder300DpiOnly) {
    ASSERT_EQ(RunTool({"create", Q(db), "--sample"}).status, 0);
    const Outcome blocky = RunTool({"export", Q(db), "도장", Q(dir.File("a.png")), "--size", "24"});
    EXPECT_EQ(blocky.status, 0);
    EXPECT_TRUE(Has(blocky.err, "경고: 24 mm로 놓으면 67 dpi")) << blocky.err;
    const Outcome fine = RunTool({"export", Q(db), "도장", Q(dir.File("b.png")), "--size", "5"});
    EXPECT_EQ(fine.status, 0);
    EXPECT_EQ(fine.err, "") << "64 pixels at 5 mm are 325 dpi";
}

TEST_F(ToolTest, ExportAllTransparentWritesAPngPerPictureAndNamesTheOthers) {
    MakeMixedByShell();
    for (const std::string name : {"도장", "도장", "a/b"}) RawInsert(db, &name, Encoded(SealOn(Qt::white, 0), "BMP"));
    const Bytes before = ReadBytes(db);
    Outcome r = RunTool({"export", Q(db), "--all", Q(dir.File("out")), "--transparent"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "2번째 행 \"깨진\"") && Has(r.err, "4번째 행 \"\"")) << r.err;
    // The shell's rows of plain red have no paper to make transparent: named, not written invisible.
    EXPECT_TRUE(Has(r.err, "1번째 행 \"도장\": 종이로 보이는") && Has(r.err, "3번째 행 Null: 종이로 보이는")) << r.err;
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.File("out"))) {
        names.insert(e.path().filename().string());
        const QImage png = Decoded(ReadBytes(e.path().string()));
        EXPECT_TRUE(png.hasAlphaChannel() && png.pixelColor(0, 0).alpha() == 0) << e.path();
    }
    EXPECT_EQ(names, (std::set<std::string>{"도장.png", "도장-2.png", "a_b.png"}));
    EXPECT_EQ(ReadBytes(db), before);
}

struct Refusal {
    const char* what;
    QStringList args;  // after "export DB"; "OUT" stands for a new file, "TAKEN" for one already there
    std::string message;
    friend void PrintTo(const Refusal& c, std::ostream* os) { *os << c.what; }
};

struct PngRefuses : ToolTest, ::testing::WithParamInterface<Refusal> {};

TEST_P(PngRefuses, WithAMessageAndNothingWritten) {
    MakeMixedByShell();
    Shell(db, "INSERT INTO pic_list VALUES ('없음', NULL), ('흰 종이', " + Hex(Bitmap(8, 6, Qt::white)) + ");");
    const Bytes mine = {'m', 'i', 'n', 'e'}, before = ReadBytes(db);
    WriteBytes(dir.File("taken.png"), mine);
    QStringList args = QStringList{"export", Q(db)} + GetParam().args;
    args.replaceInStrings("OUT", Q(dir.File("out.png"))).replaceInStrings("TAKEN", Q(dir.File("taken.png")));
    Outcome r = RunTool(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, GetParam().message)) << r.err;
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"dojang.mdb", "taken.png"}));
    EXPECT_EQ(ReadBytes(dir.File("taken.png")), mine);
    EXPECT_EQ(ReadBytes(db), before);
}

// A square seal cut tight to its frame: ink all round the border, so the
// paper is found inside it, and the frame stays opaque red.
TEST_F(ToolTest, ASealCutTightToItsFrameKeepsItsInk) {
    QImage seal(60, 60, QImage::Format_RGB32);
    seal.fill(qRgb(246, 243, 236));
    QPainter painter(&seal);
    painter.setPen(QPen(QColor(200, 30, 40), 8));
    painter.drawRect(4, 4, 52, 52);
    painter.drawLine(15, 30, 45, 30);
    painter.end();
    ASSERT_EQ(RunTool({"create", Q(db)}).status, 0);
    WriteBytes(dir.File("seal.bmp"), Encoded(seal, "BMP"));
    ASSERT_EQ(RunTool({"import", Q(db), "각인", Q(dir.File("seal.bmp"))}).status, 0);
    Outcome r = RunTool({"export", Q(db), "각인", Q(dir.File("seal.png")), "--transparent"});
    ASSERT_EQ(r.status, 0) << r.err;
    const QImage out(Q(dir.File("seal.png")));
    for (QPoint ink : {QPoint(1, 30), QPoint(58, 30), QPoint(30, 1), QPoint(30, 30)})
        EXPECT_EQ(out.pixelColor(ink), QColor(200, 30, 40)) << ink.x() << "," << ink.y();
    for (QPoint paper : {QPoint(30, 15), QPoint(20, 45)}) EXPECT_EQ(out.pixelColor(paper).alpha(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Tool, PngRefuses,
    ::testing::Values(Refusal{"not_a_picture", {"깨진", "OUT", "--transparent"}, "\"깨진\": 읽을 수 있는 그림이 아닙니다"},
                      Refusal{"null_value", {"없음", "OUT", "--size", "24"}, "\"없음\": 값이 없습니다 (Null)"},
                      Refusal{"taken", {"도장", "TAKEN", "--png"}, "덮어쓰지 않습니다"},
                      Refusal{"no_ink", {"흰 종이", "OUT", "--transparent"}, "\"흰 종이\": 종이와 구별되는 잉크가 없습니다"},
                      Refusal{"no_ink_to_crop", {"흰 종이", "OUT", "--crop"}, "잉크가 없습니다"},
                      Refusal{"ink_only", {"도장", "OUT", "--transparent"}, "종이로 보이는 밝은 부분이 없어"},
                      Refusal{"size_below", {"도장", "OUT", "--size", "4.9"}, "'4.9'"},
                      Refusal{"size_above", {"도장", "OUT", "--png", "--size", "101"}, "'101'"},
                      Refusal{"size_not_a_number", {"--all", "OUT", "--size", "24mm"}, "'24mm'"}),
    [](const auto& info) { return std::string(info.param.what); });

// --- list and check ---------------------------------------------------------

// The tool under a memory limit (ulimit -v, in KiB) in its own process.
Outcome RunToolWithMemory(long kib, const QStringList& args) {
    return RunProgram("sh", QStringList{"-c", "ulimit -v " + QString::number(kib) + "; exec \"$0\" \"$@\"",
                                        QStringLiteral(KALDORIA_DB)} + args);
}

TEST_F(ToolTest, RunningOutOfMemoryIsNotADamagedPictureAndExportGoesOn) {
#ifdef _WIN32
    GTEST_SKIP() << "no ulimit on Windows to run out of memory with";
#endif
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit leaves";
#endif
    MakePictureDb(db);
    const std::string small = "작은", large = "큰";
    RawInsert(db, &small, Encoded(SealOn(Qt::white, 0), "BMP"));
    // The smallest limit that checks a book of one small picture, rounded up:
    // everything but a decoded 6000 × 6000 picture (137 MiB) fits in it.
    const std::string alone = dir.File("alone.mdb");
    fs::copy_file(db, alone);
    long limit = 0;
    for (long kib = 100 << 10; kib <= 1 << 20 && limit == 0; kib += 16 << 10)
        if (RunToolWithMemory(kib, {"check", Q(alone)}).status == 0) limit = kib + (24 << 10);
    ASSERT_NE(limit, 0);
    QImage picture(6000, 6000, QImage::Format_RGB32);
    picture.fill(Qt::white);
    RawInsert(db, &large, Encoded(picture, "JPG"));
    picture = QImage();

    const Outcome check = RunToolWithMemory(limit, {"check", Q(db)});
    EXPECT_EQ(check.status, 1) << check.out << check.err;
    EXPECT_TRUE(Has(check.out, "\"큰\": 메모리가 부족해") && !Has(check.out, "읽을 수 있는 그림이 아닙니다")) << check.out;

    const Outcome one = RunToolWithMemory(limit, {"export", Q(db), "큰", Q(dir.File("큰.png")), "--png"});
    EXPECT_EQ(one.status, 1);
    EXPECT_TRUE(Has(one.err, "메모리가 부족해")) << one.err;

    const Outcome all = RunToolWithMemory(limit, {"export", Q(db), "--all", Q(dir.File("out")), "--transparent"});
    EXPECT_EQ(all.status, 1);
    EXPECT_TRUE(Has(all.err, "메모리가 부족해 1개는")) << all.err;
    EXPECT_TRUE(fs::exists(dir.File("out/작은.png"))) << "the other rows are still written";

    EXPECT_EQ(RunTool({"check", Q(db)}).status, 0) << "without the limit the book is sound";
}

TEST_F(ToolTest, ListShowsEveryRowAndWhichAreNoPictures) {
    MakeMixedByShell();
    Outcome r = RunTool({"list", Q(db)});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(lines[0], "\"도장\"\t" + std::to_string(good.size()) + " 바이트\t8×6 BMP");
    EXPECT_TRUE(lines[1].starts_with("\"깨진\"\t5 바이트\t읽을 수 있는 그림이 아닙니다")) << lines[1];
    EXPECT_EQ(lines[2], "Null\t" + std::to_string(good.size()) + " 바이트\t8×6 BMP");
    EXPECT_EQ(lines[3], "\"\"\t0 바이트\t값이 없습니다 (Null)");
    EXPECT_TRUE(Has(lines[4], "4") && Has(lines[4], "2")) << lines[4];
}

// Small values are judged from the bytes read with their head, and a value
// no decoder claims is turned down after one guess: over a book of 1,200 of
// them list must still agree, row by row, with decoding the same bytes.
TEST_F(ToolTest, ListJudgesSmallValuesAsADecoderDoes) {
    const std::vector<Bytes> kinds = {kGif, Bitmap(2, 2, Qt::blue, "PNG"), Bitmap(3, 1, Qt::red), Bytes(kGif.begin(), kGif.end() - 3)};
    std::string sql = "CREATE TABLE pic_list (pic_name TEXT, pic BLOB); BEGIN;";
    std::vector<Bytes> values;
    std::uint32_t seed = 7;
    for (int i = 0; i < 1200; ++i) {
        Bytes value;
        if (i % 6 < 4) {
            value = kinds[static_cast<std::size_t>(i % 6)];
        } else {
            // Noise of every length up to a little past the head, some of it behind a real format's signature.
            value.resize(1 + static_cast<std::size_t>(i % 160));
            for (auto& b : value) b = static_cast<std::uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
            if (i % 12 == 5) std::copy_n(kinds[1].begin(), std::min<std::size_t>(8, value.size()), value.begin());
        }
        values.push_back(value);
        sql += "INSERT INTO pic_list VALUES ('v" + std::to_string(i) + "', " + Hex(value) + ");";
    }
    Shell(db, sql + "COMMIT;");
    const Outcome r = RunTool({"list", Q(db)});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), values.size() + 1);
    long unreadable = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const QImage image = Decoded(values[i]);
        const std::string said = lines[i].substr(lines[i].find(" 바이트\t") + std::string(" 바이트\t").size());
        if (image.isNull()) {
            ++unreadable;
            EXPECT_TRUE(said.starts_with("읽을 수 있는 그림이 아닙니다")) << i << ": " << lines[i];
        } else {
            EXPECT_TRUE(said.starts_with(std::to_string(image.width()) + "×" + std::to_string(image.height()) + " "))
                << i << ": " << lines[i];
        }
    }
    EXPECT_GT(unreadable, 300);
    EXPECT_EQ(lines.back(), "도장 1200개, 그 가운데 그림이 아닌 값 " + std::to_string(unreadable) + "개");
}

TEST_F(ToolTest, CheckNamesTheRowsThatAreNoPictures) {
    MakeMixedByShell();
    Outcome r = RunTool({"check", Q(db)});
    EXPECT_EQ(r.status, 4) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "2번째 행 \"깨진\"")) << r.out;
    EXPECT_TRUE(Has(r.out, "4번째 행 \"\"")) << r.out;
    EXPECT_FALSE(Has(r.out, "\"도장\"")) << r.out;
}

struct CheckCase {
    const char* what;
    std::function<void(const std::string& db)> make;
    int status;
    friend void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.what; }
};

struct CheckStatus : ToolTest, ::testing::WithParamInterface<CheckCase> {};

TEST_P(CheckStatus, TellsWhatIsWrongByItsExitStatus) {
    GetParam().make(db);
    const bool existed = fs::exists(db);
    const Bytes before = existed ? ReadBytes(db) : Bytes{};
    Outcome r = RunTool({"check", Q(db)}, dir.path());
    EXPECT_EQ(r.status, GetParam().status) << r.out << r.err;
    EXPECT_FALSE(r.out.empty() && r.err.empty());
    if (existed) {
        EXPECT_EQ(ReadBytes(db), before);
    }
    EXPECT_EQ(dir.Entries(), existed ? std::vector<std::string>{"dojang.mdb"} : std::vector<std::string>{});
}

void FillRows(const std::string& db) {
    MakePictureDb(db);
    RawSql(db, "CREATE INDEX by_name ON pic_list (pic_name)");
    for (int i = 0; i < 40; ++i) {
        const std::string name = "도장 " + std::to_string(i);
        RawInsert(db, &name, Bitmap(30, 30, QColor(i * 6, 0, 0)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tool, CheckStatus,
    ::testing::Values(
        CheckCase{"sound", [](const std::string& db) { FillRows(db); }, 0},
        CheckCase{"empty_table", [](const std::string& db) { MakePictureDb(db); }, 0},
        CheckCase{"damaged_pages",
                  [](const std::string& db) {
                      FillRows(db);
                      Bytes b = ReadBytes(db);
                      std::fill(b.begin() + 4096 + 8, b.begin() + 4096 + 400, 0xEE);
                      std::fill(b.begin() + 3 * 4096, b.begin() + 3 * 4096 + 400, 0xEE);
                      WriteBytes(db, b);
                  },
                  3},
        CheckCase{"index_out_of_step",
                  [](const std::string& db) {
                      FillRows(db);
                      // The index now claims to hold another column than it does.
                      RawSql(db, "PRAGMA writable_schema=ON; UPDATE sqlite_schema SET sql="
                                 "'CREATE INDEX by_name ON pic_list (pic)' WHERE name='by_name';");
                  },
                  3},
        CheckCase{"missing_file", [](const std::string&) {}, 1},
        CheckCase{"text_file", [](const std::string& db) { WriteBytes(db, Bytes(200, 'x')); }, 1},
        CheckCase{"no_picture_table", [](const std::string& db) { RawSql(db, "CREATE TABLE other (x)"); }, 1},
        CheckCase{"cut_off_bitmap",
                  [](const std::string& db) {
                      FillRows(db);
                      const std::string name = "잘린";
                      RawInsert(db, &name, CutOffBitmap());
                  },
                  4},
        CheckCase{"value_not_a_picture",
                  [](const std::string& db) {
                      FillRows(db);
                      const std::string name = "zeros";
                      RawInsert(db, &name, Bytes(64, 0));
                  },
                  4}),
    [](const auto& info) { return std::string(info.param.what); });

// --- pic_list in other shapes ------------------------------------------------

// A pic_list made by hand in some other shape, holding "갑" and "을" with
// pictures over 64 KiB (so they are read piece by piece). `%A%` and `%B%` in
// `schema` stand for the two pictures. A readable shape must give exactly
// its rows and bytes to list, export and check; a writable one must take an
// import, and `verify` (SQL printing 1) then checks what triggers or
// constraints saw; anything else is refused with `refusal` in the message
// and the file left as it was.
struct Shape {
    const char* what;
    std::string schema;
    bool readable, writable;
    const char* refusal = "";
    const char* verify = "SELECT count(*) FROM pic_list WHERE pic_name = '갑'";
    friend void PrintTo(const Shape& s, std::ostream* os) { *os << s.what; }
};

struct TableShapes : ToolTest, ::testing::WithParamInterface<Shape> {
    const Bytes a = Bitmap(160, 160, Qt::red), b = Bitmap(170, 160, Qt::blue), c = Bitmap(200, 200, Qt::green);
    void SetUp() override {
        std::string sql = GetParam().schema;
        for (auto [mark, bytes] : {std::pair{"%A%", &a}, std::pair{"%B%", &b}})
            for (std::size_t at; (at = sql.find(mark)) != std::string::npos;) sql.replace(at, 3, Hex(*bytes));
        // Through a file: the pictures' text is longer than one argument may be.
        WriteBytes(dir.File("schema.sql"), Bytes(sql.begin(), sql.end()));
        Shell(db, ".read " + dir.File("schema.sql"));
        std::remove(dir.File("schema.sql").c_str());
    }
    std::string Query(const std::string& sql) { return RunSqliteShell(db, sql).out; }
};

TEST_P(TableShapes, ReadExactlyOrRefusedClearly) {
    const Bytes before = ReadBytes(db);
    std::vector<Outcome> reads = {RunTool({"list", Q(db)}), RunTool({"check", Q(db)}),
                                  RunTool({"export", Q(db), "갑", Q(dir.File("갑.out"))}),
                                  RunTool({"export", Q(db), "--all", Q(dir.File("all"))})};
    if (!GetParam().readable) {
        for (const Outcome& r : reads) {
            EXPECT_EQ(r.status, 1) << r.out;
            EXPECT_TRUE(Has(r.err, GetParam().refusal)) << r.err;
        }
        EXPECT_EQ(ReadBytes(db), before);
        return;
    }
    for (const Outcome& r : reads) EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(reads[0].out, "\"갑\"\t" + std::to_string(a.size()) + " 바이트")) << reads[0].out;
    EXPECT_TRUE(Has(reads[0].out, "\"을\"\t" + std::to_string(b.size()) + " 바이트")) << reads[0].out;
    EXPECT_TRUE(Has(reads[0].out, "도장 2개")) << reads[0].out;
    EXPECT_EQ(ReadBytes(dir.File("갑.out")), a);
    EXPECT_EQ(ReadBytes(dir.File("all/갑.bmp")), a);
    EXPECT_EQ(ReadBytes(dir.File("all/을.bmp")), b);
}

TEST_P(TableShapes, ImportStoresTheRealBytesOrChangesNothing) {
    const Bytes before = ReadBytes(db);
    WriteBytes(dir.File("c.bmp"), c);
    Outcome r = RunTool({"import", Q(db), "갑", Q(dir.File("c.bmp"))});
    if (!GetParam().writable) {
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(Has(r.err, GetParam().refusal)) << r.err;
        EXPECT_EQ(ReadBytes(db), before);
        return;
    }
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Query(GetParam().verify), "1\n");
    ASSERT_EQ(RunTool({"export", Q(db), "갑", Q(dir.File("back.bmp"))}).status, 0);
    EXPECT_EQ(ReadBytes(dir.File("back.bmp")), c);
    ASSERT_EQ(RunTool({"export", Q(db), "을", Q(dir.File("other.bmp"))}).status, 0);
    EXPECT_EQ(ReadBytes(dir.File("other.bmp")), b);
}

const std::string kRealRows = "CREATE TABLE real (pic_name TEXT, pic BLOB);"
                              "INSERT INTO real VALUES ('갑', %A%), ('을', %B%);";

INSTANTIATE_TEST_SUITE_P(
    Tool, TableShapes,
    ::testing::Values(
        Shape{"view", kRealRows + "CREATE VIEW pic_list AS SELECT pic_name, pic FROM real;", true, false, "뷰"},
        // Row ids that do not line up between the two tables.
        Shape{"view_over_two_tables",
              "CREATE TABLE names (id INTEGER PRIMARY KEY, pic_name TEXT, pic_id INT);"
              "CREATE TABLE pics (id INTEGER PRIMARY KEY, pic BLOB);"
              "INSERT INTO pics VALUES (1, X'00'), (7, %B%), (8, %A%);"
              "INSERT INTO names VALUES (1, '갑', 8), (2, '을', 7);"
              "CREATE VIEW pic_list AS SELECT n.pic_name, p.pic FROM names n JOIN pics p ON p.id = n.pic_id;",
              true, false, "뷰"},
        Shape{"view_of_a_subquery",
              kRealRows + "CREATE VIEW pic_list AS SELECT * FROM (SELECT pic_name, pic FROM real ORDER BY pic_name DESC);",
              true, false, "뷰"},
        Shape{"without_rowid",
              "CREATE TABLE pic_list (pic_name TEXT PRIMARY KEY, pic BLOB) WITHOUT ROWID;"
              "INSERT INTO pic_list VALUES ('갑', %A%), ('을', %B%);",
              false, false, "WITHOUT ROWID"},
        Shape{"column_named_rowid",
              "CREATE TABLE pic_list (_rowid_ TEXT, pic_name TEXT, pic BLOB);"
              "INSERT INTO pic_list VALUES ('5', '갑', %A%), ('0', '을', %B%);",
              true, true},
        Shape{"audit_trigger",
              "CREATE TABLE pic_list (pic_name TEXT, pic BLOB); CREATE TABLE audit (pic BLOB);"
              "CREATE TRIGGER keep AFTER INSERT ON pic_list BEGIN INSERT INTO audit VALUES (new.pic); END;"
              "INSERT INTO pic_list VALUES ('갑', %A%), ('을', %B%);",
              true, true, "", "SELECT count(*) FROM audit WHERE pic = (SELECT pic FROM pic_list WHERE pic_name = '갑')"},
        Shape{"check_on_the_signature",
              "CREATE TABLE pic_list (pic_name TEXT, pic BLOB CHECK (substr(pic, 1, 2) = X'424D'));"
              "INSERT INTO pic_list VALUES ('갑', %A%), ('을', %B%);",
              true, true},
        Shape{"index_on_pic",
              "CREATE TABLE pic_list (pic_name TEXT, pic BLOB); CREATE INDEX by_pic ON pic_list (pic);"
              "INSERT INTO pic_list VALUES ('갑', %A%), ('을', %B%);",
              true, true, "", "SELECT count(*) FROM pic_list INDEXED BY by_pic WHERE pic_name = '갑'"}),
    [](const auto& info) { return std::string(info.param.what); });

// Where the value must go in whole, a bound keeps memory in check.
TEST_F(ToolTest, ImportBeyondTheWholeValueLimitNamesWhatLooksAtTheValue) {
    Shell(db, "CREATE TABLE pic_list (pic_name TEXT, pic BLOB); CREATE TABLE audit (pic BLOB);"
              "CREATE TRIGGER keep AFTER INSERT ON pic_list BEGIN INSERT INTO audit VALUES (new.pic); END;");
    const Bytes before = ReadBytes(db);
    WriteBytes(dir.File("big.bmp"), Bitmap(2400, 2400, Qt::gray));  // 17 MB
    Outcome r = RunTool({"import", Q(db), "갑", Q(dir.File("big.bmp"))});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "트리거 'keep'") && Has(r.err, "16 MiB")) << r.err;
    EXPECT_EQ(ReadBytes(db), before);
}

// --- read-only files, stray files, usage ------------------------------------

// A copy of the tool runs as an unprivileged user on a database it may only read.
TEST_F(ToolTest, ReadingCommandsWorkOnAReadOnlyDatabase) {
#ifdef _WIN32
    GTEST_SKIP() << "no unprivileged user on Windows, and no read-only folders";
#else
    MakeMixedByShell();
    const std::string tool = dir.File("kaldoria-db");
    fs::copy_file(KALDORIA_DB, tool);
    fs::create_directory(dir.File("ro"));
    fs::rename(db, dir.File("ro/dojang.mdb"));
    const std::string ro = dir.File("ro/dojang.mdb");
    const Bytes before = ReadBytes(ro);
    fs::create_directory(dir.File("out"));
    fs::permissions(dir.File("out"), fs::perms::all);
    fs::permissions(ro, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(dir.File("ro"), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    for (const std::string& args : {"list '" + ro + "'", "export '" + ro + "' 도장 '" + dir.File("out/x.bmp") + "'",
                                   "export '" + ro + "' --all '" + dir.File("out/all") + "'"}) {
        const std::string command = "'" + tool + "' " + args + " >/dev/null 2>&1";
        EXPECT_EQ(RunAsUnprivileged([&] { return WEXITSTATUS(std::system(command.c_str())); }), 0) << args;
    }
    const std::string check = "'" + tool + "' check '" + ro + "' >/dev/null 2>&1";
    EXPECT_EQ(RunAsUnprivileged([&] { return WEXITSTATUS(std::system(check.c_str())); }), 4);
    EXPECT_EQ(ReadBytes(dir.File("out/x.bmp")), good);
    EXPECT_EQ(ReadBytes(ro), before);
    fs::permissions(dir.File("ro"), fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(fs::directory_iterator(dir.File("ro"))->path().filename(), "dojang.mdb");
#endif
}

struct Stray {
    const char* what;
    QStringList args;  // "DB" and "DIR" stand for the database and the folder
    friend void PrintTo(const Stray& c, std::ostream* os) { *os << c.what; }
};

struct NoStrayFiles : ToolTest, ::testing::WithParamInterface<Stray> {};

TEST_P(NoStrayFiles, OnlyCreateAndExportMakeFiles) {
    MakeMixedByShell();
    WriteBytes(dir.File("in.bmp"), Bitmap(3, 3, Qt::red));
    WriteBytes(dir.File("bad.bmp"), {'x'});
    const auto entries = dir.Entries();
    QStringList args = GetParam().args;
    args.replaceInStrings("DB", Q(db));
    args.replaceInStrings("DIR", Q(dir.path()));
    Outcome r = RunTool(args, dir.path());
    EXPECT_NE(r.status, -1) << r.err;
    EXPECT_EQ(dir.Entries(), entries) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Tool, NoStrayFiles,
    ::testing::Values(Stray{"list", {"list", "DB"}}, Stray{"check", {"check", "DB"}},
                      Stray{"import", {"import", "DB", "새", "DIR/in.bmp"}},
                      Stray{"import_refused", {"import", "DB", "새", "DIR/bad.bmp"}},
                      Stray{"import_missing_database", {"import", "DIR/none.mdb", "새", "DIR/in.bmp"}},
                      Stray{"export_missing_name", {"export", "DB", "없음", "DIR/out.bmp"}},
                      Stray{"export_taken", {"export", "DB", "도장", "DIR/in.bmp"}},
                      Stray{"create_taken", {"create", "DB", "--sample"}},
                      Stray{"list_missing_database", {"list", "DIR/none.mdb"}}),
    [](const auto& info) { return std::string(info.param.what); });

// The tool's answer to a user's mistake: its exit status, and a first line
// that names the thing (`said`) and is Korean throughout: once what the user
// typed, the things it names, options, usage words (PATH, NEW) and the
// program's own name are taken out, no Latin letter is left. In the
// arguments "@book" is a book with the sample stamp, "@dir" a folder.
struct MistakeCase {
    const char* what;
    QStringList args;
    int status;
    std::vector<std::string> said;  // parts of what it says
    friend void PrintTo(const MistakeCase& c, std::ostream* os) { *os << c.what; }
};

struct Mistakes : ::testing::TestWithParam<MistakeCase> {
    TempDir dir;
};

bool KoreanThroughout(std::string line, const QStringList& typed, const std::vector<std::string>& named) {
    std::vector<std::string> known{"kaldoria-db"};
    for (const QString& t : typed) known.push_back(t.toStdString());
    known.insert(known.end(), named.begin(), named.end());
    std::sort(known.begin(), known.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const std::string& k : known)
        for (std::size_t at; !k.empty() && (at = line.find(k)) != std::string::npos;) line.erase(at, k.size());
    static const std::regex kNamed(R"(--[a-z-]+|\b[A-Z]{2,}\b)");
    line = std::regex_replace(line, kNamed, "");
    return std::none_of(line.begin(), line.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
}

TEST_P(Mistakes, AreAnsweredInKoreanNamingTheThing) {
    const MistakeCase& c = GetParam();
    const std::string book = dir.File("도장부.mdb");
    ASSERT_EQ(RunTool({"create", Q(book), "--sample"}).status, 0);
    QStringList args;
    std::vector<std::string> said;
    const auto placed = [&](std::string text) {
        for (const auto& [token, value] : {std::pair{"@book", book}, std::pair{"@dir", dir.path()}})
            if (const std::size_t at = text.find(token); at != std::string::npos)
                text.replace(at, std::string_view(token).size(), value);
        return text;
    };
    for (const QString& a : c.args) args << Q(placed(a.toStdString()));
    for (const std::string& s : c.said) said.push_back(placed(s));
    const Bytes before = ReadBytes(book);

    Outcome r = RunTool(args);
    EXPECT_EQ(r.status, c.status) << r.err;
    const std::string& text = c.status == 0 ? r.out : r.err;
    const std::string first = text.substr(0, text.find('\n'));
    for (const std::string& s : said) EXPECT_TRUE(Has(first, s)) << first;
    if (c.status != 0) {
        EXPECT_TRUE(KoreanThroughout(first, args, said)) << first;
    }
    EXPECT_EQ(ReadBytes(book), before);  // a mistake changes nothing
}

INSTANTIATE_TEST_SUITE_P(
    Tool, Mistakes,
    ::testing::Values(
        MistakeCase{"nothing", {}, 2, {}},
        MistakeCase{"missing_book", {"list", "@dir/없는.mdb"}, 1, {"'@dir/없는.mdb'를 찾을 수 없습니다", "(오류 3024)"}},
        MistakeCase{"missing_picture", {"import", "@book", "회사", "@dir/scan.png"}, 1, {"'@dir/scan.png'를 찾을 수 없습니다"}},
        MistakeCase{"picture_in_a_missing_folder", {"import", "@book", "회사", "@dir/스캔/scan.png"}, 1,
                    {"폴더 '@dir/스캔'이 없습니다"}},
        MistakeCase{"export_to_a_missing_folder", {"export", "@book", "도장", "@dir/out/x.bmp"}, 1, {"폴더 '@dir/out'이 없습니다"}},
        MistakeCase{"book_in_a_missing_folder", {"create", "@dir/new/dojang.mdb"}, 1, {"폴더 '@dir/new'가 없습니다"}},
        MistakeCase{"existing_output", {"export", "@book", "도장", "@book"}, 1, {"'@book'가 이미 있어 덮어쓰지 않습니다"}},
        MistakeCase{"existing_backup", {"backup", "@book", "@book"}, 1, {"'@book'가 이미 있어"}},
        MistakeCase{"missing_name", {"export", "@book", "없는 이름", "@dir/x.bmp"}, 1, {"\"없는 이름\""}},
        MistakeCase{"unknown", {"drop", "x"}, 2, {"drop"}},
        MistakeCase{"too_few", {"import", "@book", "회사"}, 2, {"빠진 인수: FILE."}},
        MistakeCase{"too_few_of_two", {"rename", "@book"}, 2, {"빠진 인수: OLD, NEW."}},
        MistakeCase{"too_many", {"list", "@book", "y"}, 2, {"'y'는 이 명령이 받지 않습니다"}},
        MistakeCase{"all_with_a_name", {"export", "@book", "--all", "n", "d"}, 2, {"--all"}},
        MistakeCase{"export_without_file", {"export", "@book", "도장"}, 2, {"빠진 인수: FILE."}},
        MistakeCase{"unknown_option", {"list", "--fast", "@book"}, 2, {"--fast"}},
        MistakeCase{"size_without_value", {"export", "@book", "n", "f", "--size"}, 2, {"size"}},
        MistakeCase{"mistyped_command", {"lsit", "@book"}, 2, {"list를 말씀하셨습니까?"}},
        MistakeCase{"mistyped_option", {"export", "@book", "n", "f", "--transparant"}, 2, {"--transparent를 말씀하셨습니까?"}},
        MistakeCase{"version_not_a_number", {"restore", "@book", "도장", "x"}, 1, {"'x'는 버전 번호가 아닙니다"}},
        MistakeCase{"version", {"--version"}, 0, {"kaldoria-db 1.0"}},
        MistakeCase{"help", {"--help"}, 0, {"사용 방법"}},
        MistakeCase{"command_help", {"check", "--help"}, 0, {"kaldoria-db check"}}),
    [](const auto& info) { return std::string(info.param.what); });

// The headings are Qt's own, from its Korean translation.
TEST(Help, SpeaksKoreanAndNamesTheCommand) {
    Outcome r = RunTool({"check", "--help"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("사용 방법: kaldoria-db check [옵션] PATH\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "\n옵션:\n") && Has(r.out, "\n인자:\n")) << r.out;
    // A usage line shows only forms the command takes.
    Outcome exportHelp = RunTool({"export", "--help"});
    EXPECT_TRUE(exportHelp.out.starts_with("사용 방법: kaldoria-db export [옵션] PATH NAME FILE | --all DIR\n"))
        << exportHelp.out;
}

}  // namespace

// --- after a killed save; backup ---------------------------------------------

namespace {

// What an import or a save killed part way leaves: the process gone inside
// its transaction after the removal, once the new row has outgrown the page
// cache and the engine has begun to write the file, a hot journal beside it.
#ifndef _WIN32
void KillASaveMidway(const std::string& db) {
    if (const pid_t pid = ::fork(); pid != 0) {
        ::waitpid(pid, nullptr, 0);
        return;
    }
    Database d = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet).OpenDatabase(db);
    d.Execute("PRAGMA cache_size = 10");
    d.BeginTrans();
    d.Execute(RemovalStatement("도장 7"));
    d.Execute("INSERT INTO pic_list VALUES ('도장 7', randomblob(3000000))");
    ::kill(::getpid(), SIGKILL);
}
#endif

TEST_F(ToolTest, AfterAKilledSaveEachReadingCommandRollsItBackAndWorks) {
#ifdef _WIN32
    GTEST_SKIP() << "no fork on Windows to kill a save part way with";
#else
    FillRows(db);
    const Rows before = RawRows(db);
    const std::pair<QStringList, bool> commands[] = {  // the command, and whether it tells
        {{"check", Q(db)}, true},
        {{"list", Q(db)}, true},
        {{"export", Q(db), "--all", Q(dir.File("out"))}, false},
        {{"backup", Q(db), Q(dir.File("copy.mdb"))}, true}};
    for (const auto& [args, tells] : commands) {
        SCOPED_TRACE(args[0].toStdString());
        KillASaveMidway(db);
        ASSERT_TRUE(fs::exists(db + "-journal"));
        const Outcome r = RunTool(args);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(Has(r.out + r.err, "끝나지 않은 저장"), tells) << r.out << r.err;
        EXPECT_EQ(RawRows(db), before);
    }
#endif
}

TEST_F(ToolTest, AKilledSaveNobodyMayRollBackIsExplainedAndLeftAlone) {
#ifdef _WIN32
    GTEST_SKIP() << "no fork on Windows to kill a save part way with, and no read-only folders";
#else
    FillRows(db);
    KillASaveMidway(db);
    const Bytes content = ReadBytes(db), journal = ReadBytes(db + "-journal");
    TempDir out;
    const std::string tool = out.File("kaldoria-db"), said = out.File("said");
    fs::copy_file(KALDORIA_DB, tool);
    const std::string command = "'" + tool + "' check '" + db + "' 2>'" + said + "'";
    ::chmod(dir.path().c_str(), 0555);
    EXPECT_EQ(RunAsUnprivileged([&] { return WEXITSTATUS(std::system(command.c_str())); }), 1);
    ::chmod(dir.path().c_str(), 0755);
    const Bytes text = ReadBytes(said);
    EXPECT_TRUE(Has(std::string(text.begin(), text.end()), "kaldoria-db check")) << std::string(text.begin(), text.end());
    EXPECT_EQ(ReadBytes(db), content);
    EXPECT_EQ(ReadBytes(db + "-journal"), journal);
#endif
}

// Another program keeps the book in WAL mode and ended without folding its
// last save into the file: the save is only in dojang.mdb-wal.
TEST_F(ToolTest, AWalBookInAFolderNobodyMayWriteIsExplainedNamingItsFiles) {
#ifdef _WIN32
    GTEST_SKIP() << "no fork on Windows, and no read-only folders";
#else
    FillRows(db);
    Shell(db, "PRAGMA journal_mode=WAL");
    const pid_t writer = ::fork();
    if (writer == 0) {
        sqlite3* raw = nullptr;
        sqlite3_open(db.c_str(), &raw);
        sqlite3_exec(raw, "PRAGMA wal_autocheckpoint=0; INSERT INTO pic_list VALUES ('WAL에만', x'00')", nullptr,
                     nullptr, nullptr);
        ::_exit(0);  // without closing: the log stays
    }
    ::waitpid(writer, nullptr, 0);
    fs::remove(db + "-shm");
    ASSERT_GT(fs::file_size(db + "-wal"), 0u);
    const Bytes content = ReadBytes(db), log = ReadBytes(db + "-wal");
    TempDir out;
    const std::string tool = out.File("kaldoria-db");
    fs::copy_file(KALDORIA_DB, tool);
    const auto asNobody = [&](const std::string& args, const std::string& said) {
        const std::string command = "'" + tool + "' " + args + " >'" + said + ".out' 2>'" + said + "'";
        ::chmod(dir.path().c_str(), 0555);
        const int status = RunAsUnprivileged([&] { return WEXITSTATUS(std::system(command.c_str())); });
        ::chmod(dir.path().c_str(), 0755);
        return status;
    };
    for (const std::string command : {"list", "check", "export"}) {
        SCOPED_TRACE(command);
        const std::string said = out.File(command);
        const std::string args = command + " '" + db + "'" + (command == "export" ? " 도장 '" + out.File("x.bmp") + "'" : "");
        EXPECT_EQ(asNobody(args, said), 1);
        const Bytes text = ReadBytes(said);
        const std::string message(text.begin(), text.end());
        for (const std::string& named : {db + "-wal", db + "-shm", dir.path(), std::string("WAL 모드")})
            EXPECT_TRUE(Has(message, named)) << named << " in " << message;
    }
    EXPECT_EQ(ReadBytes(db), content);
    EXPECT_EQ(ReadBytes(db + "-wal"), log);
    // What the message advises, done by someone who may write the folder.
    const Bytes listSaid = ReadBytes(out.File("list"));
    const std::string advice(listSaid.begin(), listSaid.end());
    EXPECT_TRUE(Has(advice, "PRAGMA journal_mode=DELETE")) << advice;
    Shell(db, "PRAGMA journal_mode=DELETE");
    EXPECT_EQ(asNobody("list '" + db + "'", out.File("after")), 0);
    const Bytes listed = ReadBytes(out.File("after.out"));
    EXPECT_TRUE(Has(std::string(listed.begin(), listed.end()), "\"WAL에만\""));
#endif
}

TEST_F(ToolTest, BackupNeverOverwritesAndLeavesNothingWhenTheCopyFailsItsCheck) {
    FillRows(db);
    const std::string copy = dir.File("copy.mdb");
    WriteBytes(copy, {'m'});
    EXPECT_EQ(RunTool({"backup", Q(db), Q(copy)}).status, 1);
    EXPECT_EQ(ReadBytes(copy), Bytes{'m'});
    fs::remove(copy);
    Bytes damaged = ReadBytes(db);
    std::fill(damaged.begin() + 3 * 4096, damaged.begin() + 3 * 4096 + 400, 0xEE);
    WriteBytes(db, damaged);
    const Outcome r = RunTool({"backup", Q(db), Q(copy)});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "무결성 검사")) << r.err;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"dojang.mdb"});
}

// Polls `done` every 20 ms for up to `ms`.
template <typename Done>
bool WaitFor(Done done, int ms) {
    for (int waited = 0; !done(); waited += 20) {
        if (waited >= ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Writes past `kib` KiB fail as on a full disk (EFBIG, the signal ignored).
Outcome RunToolOnAFullDisk(int kib, const QStringList& args) {
    return RunProgram("sh", QStringList{"-c", "trap '' XFSZ; ulimit -f " + QString::number(kib * 2) +
                                                  "; exec \"$0\" \"$@\"",
                                        QStringLiteral(KALDORIA_DB)} + args);
}

TEST_F(ToolTest, ABackupThatFillsTheDiskLeavesNothingBehind) {
#ifdef _WIN32
    GTEST_SKIP() << "no ulimit on Windows to fill the disk with";
#endif
    MakePictureDb(db);
    for (unsigned i = 0; i < 3; ++i) RawInsert(db, nullptr, PatternBytes(1 << 20, i));
    const Outcome r = RunToolOnAFullDisk(1024, {"backup", Q(db), Q(dir.File("copy.mdb"))});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "백업")) << r.err;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"dojang.mdb"});
}

TEST_F(ToolTest, AKilledBackupLeavesNothingBehind) {
    MakePictureDb(db);
    for (unsigned i = 0; i < 40; ++i) RawInsert(db, nullptr, PatternBytes(4 << 20, i));
    QProcess backup;
    backup.start(QStringLiteral(KALDORIA_DB), {"backup", Q(db), Q(dir.File("copy.mdb"))});
    ASSERT_TRUE(backup.waitForStarted());
    // Killed once its hidden copy holds a few MiB.
    const auto copying = [&] {
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().filename().string().rfind(".copy.mdb.", 0) == 0 && e.is_regular_file() &&
                e.file_size() > (4u << 20))
                return true;
        return false;
    };
    ASSERT_TRUE(WaitFor(copying, 20000)) << "no copy under way";
    backup.kill();
    backup.waitForFinished();
    EXPECT_TRUE(WaitFor([&] { return dir.Entries() == std::vector<std::string>{"dojang.mdb"}; }, 5000))
        << ::testing::PrintToString(dir.Entries());
}

TEST_F(ToolTest, BackupShowsProgressOnATerminal) {
    if (QStandardPaths::findExecutable("script").isEmpty()) GTEST_SKIP() << "no script(1)";
    MakePictureDb(db);
    for (unsigned i = 0; i < 3; ++i) RawInsert(db, nullptr, PatternBytes(1 << 20, i));
    const std::string command = "'" KALDORIA_DB "' backup '" + db + "' '" + dir.File("copy.mdb") + "'";
    const Outcome r = RunProgram("script", {"-qec", Q(command), "/dev/null"});
    EXPECT_TRUE(Has(r.out, "\r백업하는 중 100%")) << r.out;
    EXPECT_EQ(RawRows(dir.File("copy.mdb")), RawRows(db));
}

}  // namespace
