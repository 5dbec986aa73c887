// Exercises each cross-built library the way Kaldoria uses it and prints one
// line per fact. check.sh builds this program for Linux (Debian's own
// libraries) and for Windows (the cached ones, run under Wine) and requires
// the lines not starting with "info" to be identical: the Windows libraries
// must behave like the ones the Linux build is tested with.
#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <libpq-fe.h>
#include <sqlite3.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// FNV-1a over the code points that have a property, so one line covers all
// 1,114,112 code points.
void icuProperties()
{
    struct Row { const char* name; UProperty property; };
    const Row rows[] = {
        {"White_Space", UCHAR_WHITE_SPACE},
        {"Default_Ignorable_Code_Point", UCHAR_DEFAULT_IGNORABLE_CODE_POINT},
    };
    for (const Row& row : rows) {
        std::uint64_t hash = 1469598103934665603ull;
        int count = 0;
        for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
            if (u_hasBinaryProperty(c, row.property)) {
                hash = (hash ^ static_cast<std::uint64_t>(c)) * 1099511628211ull;
                ++count;
            }
        }
        std::printf("icu %s: %d code points, hash %016llx\n", row.name, count,
                    static_cast<unsigned long long>(hash));
    }
    int uwhite = 0;
    for (UChar32 c = 0; c <= 0x10FFFF; ++c) uwhite += u_isUWhiteSpace(c) ? 1 : 0;
    std::printf("icu u_isUWhiteSpace: %d code points\n", uwhite);

    // U8_NEXT over Korean text, an overlong form and a cut-off sequence.
    struct Text { const char* name; std::string bytes; };
    const Text texts[] = {
        {"korean", "\xEB\x8F\x84\xEC\x9E\xA5 \xE3\x80\x80x"},
        {"overlong slash", "\xC0\xAF"},
        {"cut-off", "\xEB\x8F"},
    };
    for (const Text& t : texts) {
        std::printf("icu U8_NEXT %s:", t.name);
        const auto* s = reinterpret_cast<const std::uint8_t*>(t.bytes.data());
        const std::int32_t length = static_cast<std::int32_t>(t.bytes.size());
        for (std::int32_t i = 0; i < length;) {
            UChar32 c = 0;
            U8_NEXT(s, i, length, c);
            std::printf(" %ld", static_cast<long>(c));
        }
        std::printf("\n");
    }
    std::printf("info icu %s\n", U_ICU_VERSION);
}

void sqlite(const std::filesystem::path& folder)
{
    const char* options[] = {"THREADSAFE=1", "USE_URI", "SECURE_DELETE", "MAX_VARIABLE_NUMBER=250000",
                             "LIKE_DOESNT_MATCH_BLOBS", "ENABLE_DBSTAT_VTAB"};
    for (const char* o : options) std::printf("sqlite option %s: %d\n", o, sqlite3_compileoption_used(o));

    // A stamp-sized book: 1,000 pictures of 12 KB written through the blob
    // API and read back.
    const std::string path = (folder / "check.mdb").string();
    std::filesystem::remove(path);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        std::printf("sqlite open failed: %s\n", sqlite3_errmsg(db));
        sqlite3_close(db);
        return;
    }
    sqlite3_exec(db, "CREATE TABLE pic_list(pic_name TEXT PRIMARY KEY, pic BLOB); BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO pic_list VALUES(?, zeroblob(12288))", -1, &insert, nullptr);
    std::vector<unsigned char> picture(12288);
    bool same = true;
    for (int n = 0; n < 1000; ++n) {
        const std::string name = "\xEB\x8F\x84\xEC\x9E\xA5 " + std::to_string(n);
        sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
        for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<unsigned char>(i * 7 + n);
        sqlite3_blob* blob = nullptr;
        sqlite3_blob_open(db, "main", "pic_list", "pic", sqlite3_last_insert_rowid(db), 1, &blob);
        sqlite3_blob_write(blob, picture.data(), static_cast<int>(picture.size()), 0);
        std::vector<unsigned char> back(picture.size());
        sqlite3_blob_read(blob, back.data(), static_cast<int>(back.size()), 0);
        sqlite3_blob_close(blob);
        same = same && back == picture;
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_stmt* sum = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*), sum(length(pic)), min(pic_name) FROM pic_list", -1, &sum, nullptr);
    sqlite3_step(sum);
    std::printf("sqlite book: %d rows, %lld bytes, first %s, blobs read back %s\n", sqlite3_column_int(sum, 0),
                static_cast<long long>(sqlite3_column_int64(sum, 1)),
                reinterpret_cast<const char*>(sqlite3_column_text(sum, 2)), same ? "equal" : "DIFFERENT");
    sqlite3_finalize(sum);
    sqlite3_close(db);
    std::filesystem::remove(path);
    std::printf("info sqlite %s\n", sqlite3_libversion());
}

void libpq()
{
    // TLS comes from OpenSSL; a refused connection is reported, not a crash.
    const char* library = PQsslAttribute(nullptr, "library");
    std::printf("libpq TLS library: %s\n", library ? library : "(none)");
    PGconn* conn = PQconnectdb("host=127.0.0.1 port=1 dbname=x connect_timeout=5 sslmode=prefer");
    std::printf("libpq connect to a closed port: %s\n", PQstatus(conn) == CONNECTION_BAD ? "refused" : "CONNECTED?");
    PQfinish(conn);
    std::printf("info libpq %d\n", PQlibVersion());
}

void qtBmp()
{
    QImage image(41, 23, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x * 6, y * 11, (x * y) % 256));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const bool written = image.save(&buffer, "BMP");
    QImage back;
    const bool read = back.loadFromData(buffer.data(), "BMP");
    std::printf("qt bmp: reader %s, written %d, read %d, same pixels %d\n",
                QImageReader::supportedImageFormats().contains("bmp") ? "listed" : "MISSING", written, read,
                back.convertToFormat(QImage::Format_RGB32) == image);
    std::printf("info qt %s\n", qVersion());
}

} // namespace

int main(int argc, char* argv[])
{
    const std::filesystem::path folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    icuProperties();
    sqlite(folder);
    libpq();
    qtBmp();
    return 0;
}
