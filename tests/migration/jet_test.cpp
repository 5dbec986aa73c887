// Conversion of older Jet-format databases, against the real Jet files in the
// shared fixture folder (read there, copied only into temporary folders).
// Where that folder is missing, as in a fresh clone, the tests that need it
// are skipped, naming where they looked.
#include <QByteArray>
#include <QApplication>
#include <QCryptographicHash>
#include <QProcess>
#include <gtest/gtest.h>
#include <sqlite3.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "engine/workspace/workspace.h"
#include "store/connection.h"
#include "support.h"
#include "migration/jet_migrate.h"
#include "migration/jet_reader.h"
#include "os/leftovers.h"
#include "window/frmpicture.h"
#ifdef _WIN32
#include "os/windows_text.h"  // last: windows.h names MessageBox as a macro
#endif

namespace {

// $KALDORIA_FIXTURES/jet, or the shared folder beside the source tree.
std::string JetFixtureFolder() {
    const char* chosen = std::getenv("KALDORIA_FIXTURES");
    return std::string(chosen && *chosen ? chosen : KALDORIA_DEFAULT_FIXTURES) + "/jet";
}

std::string Fixture(const std::string& name) { return JetFixtureFolder() + "/" + name; }

std::string Sha256(const Bytes& bytes) {
    return QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

struct ManifestRow {
    std::string name;
    std::optional<std::size_t> bytes;  // nullopt: Null
    std::string sha256;
};

std::vector<ManifestRow> Manifest(const std::string& file) {
    std::ifstream in(Fixture("MANIFEST.tsv"));
    std::vector<ManifestRow> rows;
    std::string line;
    std::getline(in, line);  // column names
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string f, name, bytes, sha;
        std::getline(fields, f, '\t');
        std::getline(fields, name, '\t');
        std::getline(fields, bytes, '\t');
        std::getline(fields, sha, '\t');
        if (f != file) continue;
        rows.push_back({name, bytes == "NULL" ? std::nullopt : std::optional<std::size_t>(std::stoul(bytes)), sha});
    }
    return rows;
}

struct StoredRow {
    std::optional<std::string> name;
    std::optional<Bytes> pic;
    std::string picType;
};

// The rows of pic_list as SQLite itself holds them, in table order.
std::vector<StoredRow> StoredRows(const std::string& dbPath) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT pic_name, pic, typeof(pic) FROM pic_list ORDER BY rowid", -1, &s, nullptr),
              SQLITE_OK);
    std::vector<StoredRow> rows;
    while (s && sqlite3_step(s) == SQLITE_ROW) {
        StoredRow row;
        if (sqlite3_column_type(s, 0) != SQLITE_NULL)
            row.name = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        if (sqlite3_column_type(s, 1) != SQLITE_NULL) {
            auto p = static_cast<const std::uint8_t*>(sqlite3_column_blob(s, 1));
            row.pic = Bytes(p, p + sqlite3_column_bytes(s, 1));
        }
        row.picType = reinterpret_cast<const char*>(sqlite3_column_text(s, 2));
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return rows;
}

void ExpectManifestRows(const std::string& dbPath) {
    const auto want = Manifest("fixture_small.mdb");
    ASSERT_EQ(want.size(), 7u) << "MANIFEST.tsv not readable at " << Fixture("MANIFEST.tsv");
    const auto got = StoredRows(dbPath);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1) + " " + want[i].name);
        EXPECT_EQ(got[i].name, want[i].name);
        if (!want[i].bytes) {
            EXPECT_FALSE(got[i].pic.has_value());
            EXPECT_EQ(got[i].picType, "null");
            continue;
        }
        ASSERT_TRUE(got[i].pic.has_value());
        EXPECT_EQ(got[i].picType, "blob");
        EXPECT_EQ(got[i].pic->size(), *want[i].bytes);
        EXPECT_EQ(Sha256(*got[i].pic), want[i].sha256);
    }
}

// A copy of a fixture, writable, in a temporary folder.
std::string CopyFixture(const TempDir& dir, const std::string& fixture, const std::string& as) {
    std::string path = dir.File(as);
    WriteBytes(path, ReadBytes(Fixture(fixture)));
    return path;
}

#ifdef _WIN32
// Windows has no waitpid, and no child to reap: a finished process handle
// leaves nothing behind. (That the reader is ended and waited for is the
// child process tests' contract.)
bool NoChildLeft() { return true; }
#else
bool NoChildLeft() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }
#endif

class JetFixtures : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(Fixture("fixture_small.mdb")))
            GTEST_SKIP() << "Jet test files not found in " << JetFixtureFolder()
                         << " (KALDORIA_FIXTURES names another fixture folder)";
#ifndef KALDORIA_HAVE_LIBMDB
        GTEST_SKIP() << "this build has no Jet reader (configured without libmdb)";
#endif
    }
    TempDir dir;
};

TEST_F(JetFixtures, InPlaceCarriesEveryRowAndKeepsTheOriginal) {
    const std::string path = CopyFixture(dir, "fixture_small.mdb", "dojang.mdb");
    const Bytes original = ReadBytes(path);

    MigrationResult r = MigrateJetDatabase(path, std::nullopt);

    EXPECT_EQ(r.jetVersion, 4);
    EXPECT_EQ(r.rows.size(), 7u);
    EXPECT_EQ(r.bytes, 70u + 2814 + 4014 + 150454 + 2814 + 0);
    EXPECT_EQ(r.keptOriginal, JoinPath(dir.path(), "dojang.jet.mdb"));  // the program's own spelling
    EXPECT_EQ(ReadBytes(dir.File("dojang.jet.mdb")), original);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"dojang.jet.mdb", "dojang.mdb"}));
    ExpectManifestRows(path);

    // The window's own open now accepts the file.
    Workspace ws;
    Database db;
    OpenPICDB(ws, db, dir.path());
    EXPECT_EQ(db.OpenRecordset("pic_list", dbOpenTable).RecordCount(), 7);
    ClosePICDB(ws, db);
}

TEST_F(JetFixtures, ToNewFileLeavesTheSourceAlone) {
    const std::string source = Fixture("fixture_small.mdb");
    const std::string before = Sha256(ReadBytes(source));

    MigrationResult r = MigrateJetDatabase(source, dir.File("new.mdb"));

    EXPECT_EQ(r.target, dir.File("new.mdb"));
    EXPECT_TRUE(r.keptOriginal.empty());
    EXPECT_EQ(Sha256(ReadBytes(source)), before);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"new.mdb"});
    ExpectManifestRows(dir.File("new.mdb"));
}

TEST_F(JetFixtures, ToAnExistingFileIsRefused) {
    WriteBytes(dir.File("new.mdb"), Bytes{'k', 'e', 'e', 'p'});
    Error e = ErrorOf([&] { MigrateJetDatabase(Fixture("fixture_small.mdb"), dir.File("new.mdb")); });
    EXPECT_NE(std::string(e.what()).find("new.mdb"), std::string::npos) << e.what();
    EXPECT_EQ(ReadBytes(dir.File("new.mdb")), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"new.mdb"});
}

TEST_F(JetFixtures, TheOriginalTakesTheFirstFreeName) {
    const std::string path = CopyFixture(dir, "fixture_small.mdb", "dojang.mdb");
    WriteBytes(dir.File("dojang.jet.mdb"), Bytes{1});
    WriteBytes(dir.File("dojang.jet-1.mdb"), Bytes{2});

    MigrationResult r = MigrateJetDatabase(path, std::nullopt);

    EXPECT_EQ(r.keptOriginal, JoinPath(dir.path(), "dojang.jet-2.mdb"));  // the program's own spelling
    EXPECT_EQ(ReadBytes(dir.File("dojang.jet.mdb")), Bytes{1});
    EXPECT_EQ(ReadBytes(dir.File("dojang.jet-1.mdb")), Bytes{2});
    EXPECT_EQ(ReadBytes(dir.File("dojang.jet-2.mdb")), ReadBytes(Fixture("fixture_small.mdb")));
    ExpectManifestRows(path);
}

TEST_F(JetFixtures, AReadOnlyOriginalIsRefusedBeforeAnythingIsMade) {
#ifndef _WIN32
    GTEST_SKIP() << "only Windows keeps a file itself from being replaced (its read-only attribute)";
#else
    const std::string path = CopyFixture(dir, "fixture_small.mdb", "dojang.mdb");
    ASSERT_TRUE(SetFileAttributesW(WidePath(path).c_str(), FILE_ATTRIBUTE_READONLY));
    if ((GetFileAttributesW(WidePath(path).c_str()) & FILE_ATTRIBUTE_READONLY) == 0)
        GTEST_SKIP() << "the read-only attribute did not hold";

    Error e = ErrorOf([&] { MigrateJetDatabase(path, std::nullopt); });

    EXPECT_EQ(e.Number(), err::PermissionDenied);
    EXPECT_NE(std::string(e.what()).find("읽기 전용"), std::string::npos) << e.what();
    // No second name of the original, which could not be removed again.
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"dojang.mdb"});
    EXPECT_EQ(ReadBytes(path), ReadBytes(Fixture("fixture_small.mdb")));
    SetFileAttributesW(WidePath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
}

TEST_F(JetFixtures, AJetFileWithoutPicListIsRefusedNamingTheTable) {
    const std::string path = CopyFixture(dir, "test2V1997.mdb", "dojang.mdb");
    const Bytes original = ReadBytes(path);
    Error e = ErrorOf([&] { MigrateJetDatabase(path, std::nullopt); });
    EXPECT_EQ(e.Number(), err::TableNotFound);
    EXPECT_NE(std::string(e.what()).find("'pic_list'"), std::string::npos) << e.what();
    EXPECT_EQ(ReadBytes(path), original);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"dojang.mdb"});
}

// Needs no Jet file, so it runs in a clone without them too.
TEST(JetMigration, AnSqliteDatabaseIsNotConvertedAgain) {
    TempDir dir;
    const std::string path = dir.File("dojang.mdb");
    CreatePICDB(path);
    const Bytes before = ReadBytes(path);
    Error e = ErrorOf([&] { MigrateJetDatabase(path, std::nullopt); });
    EXPECT_EQ(e.Number(), err::NotADatabase);
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"dojang.mdb"});
}

struct Collected : JetRowSink {
    std::vector<JetRow> rows;
    std::vector<std::uint64_t> received;
    Bytes first;  // the bytes of the first value
    void Begin(const JetRow& row) override {
        rows.push_back(row);
        received.push_back(0);
    }
    void Piece(std::span<const std::uint8_t> bytes) override {
        received.back() += bytes.size();
        if (rows.size() == 1) first.insert(first.end(), bytes.begin(), bytes.end());
    }
    void End() override {}
};

TEST_F(JetFixtures, Jet3LongValuesAreReadAcrossPages) {
    Collected sink;
    JetSource source{"MSP_PROJECTS", "PROJ_NAME", "RESERVED_BINARY_DATA"};
    JetReadSummary s = ReadJetTable(Fixture("test2V1997.mdb"), source, sink);
    EXPECT_EQ(s.jetVersion, 3);
    ASSERT_EQ(sink.rows.size(), 1u);
    EXPECT_EQ(sink.rows[0].name, "Project1");  // read through the Korean code page, which keeps ASCII
    EXPECT_FALSE(sink.rows[0].valueIsNull);
    EXPECT_EQ(sink.rows[0].valueBytes, 22970u);
    EXPECT_EQ(sink.received[0], 22970u);
    EXPECT_EQ(s.bytes, 22970u);
    EXPECT_TRUE(NoChildLeft());
}

TEST_F(JetFixtures, TheJet3CodePageReachesTheLibrary) {
    // Read as UTF-16 the single-byte catalogue names no longer match anything.
    Collected sink;
    JetSource source{"MSP_PROJECTS", "PROJ_NAME", "RESERVED_BINARY_DATA", "UTF-16LE"};
    Error e = ErrorOf([&] { ReadJetTable(Fixture("test2V1997.mdb"), source, sink); });
    EXPECT_EQ(e.Number(), err::NotADatabase);
    EXPECT_TRUE(sink.rows.empty());
}

// Jet 3 text in the Korean code page: the real file's name "Project1"
// overwritten in place with eight other bytes.
struct Jet3Name {
    const char* name;
    const char* bytes;  // eight
    const char* read;
};

void PrintTo(const Jet3Name& n, std::ostream* os) { *os << n.name; }

const Jet3Name kJet3Names[] = {
    {"Korean", "\xb5\xb5\xc0\xe5\xc7\xd1\xb1\xdb", "도장한글"},
    {"KoreanAndAscii", "A\xb5\xb5-\xc0\xe5 1", "A도-장 1"},
    // libmdb puts '?' for a byte the code page has no character for, and goes on.
    {"ByteWithoutACharacter", "\xb5\xb5\xff\xc7\xd1\xb1\xdb" "A", "도?한글A"},
};

class Jet3CodePage : public JetFixtures, public ::testing::WithParamInterface<Jet3Name> {};

TEST_P(Jet3CodePage, NamesAreReadInIt) {
    Bytes file = ReadBytes(Fixture("test2V1997.mdb"));
    const std::string row = "{Project1\\";  // the row's name, between two other columns' values
    const auto at = std::search(file.begin(), file.end(), row.begin(), row.end());
    ASSERT_NE(at, file.end());
    std::copy(GetParam().bytes, GetParam().bytes + 8, at + 1);
    const std::string path = dir.File("jet3.mdb");
    WriteBytes(path, file);

    Collected sink;
    ReadJetTable(path, JetSource{"MSP_PROJECTS", "PROJ_NAME", "RESERVED_BINARY_DATA"}, sink);
    ASSERT_EQ(sink.rows.size(), 1u);
    EXPECT_EQ(sink.rows[0].name, GetParam().read);
    EXPECT_EQ(sink.received[0], 22970u);
}

INSTANTIATE_TEST_SUITE_P(Jet, Jet3CodePage, ::testing::ValuesIn(kJet3Names),
                         [](const auto& info) { return std::string(info.param.name); });

// libmdb opens the file by a char* name, which Windows reads in the ANSI code
// page and only to 260 characters.
TEST_F(JetFixtures, AKoreanFolderNameIsConvertedInPlace) {
    const std::string folder = JoinPath(dir.path(), "도장 보관함");
    std::filesystem::create_directory(std::filesystem::path(std::u8string(folder.begin(), folder.end())));
    const std::string path = JoinPath(folder, "옛 도장.mdb");
    WriteBytes(path, ReadBytes(Fixture("fixture_small.mdb")));

    MigrationResult r = MigrateJetDatabase(path, std::nullopt);

    EXPECT_EQ(r.rows.size(), 7u);
    EXPECT_EQ(r.keptOriginal, JoinPath(folder, "옛 도장.jet.mdb"));
    ExpectManifestRows(path);
}

TEST_F(JetFixtures, AKoreanPathPastTheClassicLimitIsRead) {
    std::string folder = dir.path();
    while (folder.size() < 300) folder = JoinPath(folder, "도장 보관함 폴더");
    std::filesystem::create_directories(std::filesystem::path(std::u8string(folder.begin(), folder.end())));
    const std::string path = JoinPath(folder, "옛 도장.mdb");
    {
        auto file = LocalFileSystem().CreateReplacing(path);
        file->Write(ReadBytes(Fixture("fixture_small.mdb")));
        file->Close();
    }

    Collected sink;
    JetReadSummary s = ReadJetTable(path, JetSource{}, sink);
    EXPECT_EQ(s.jetVersion, 4);
    ASSERT_EQ(sink.rows.size(), 7u);
    EXPECT_EQ(sink.rows[4].name, "도장_한글");
}

TEST_F(JetFixtures, NullAndEmptyValuesStayApartWhenRead) {
    Collected sink;
    ReadJetTable(Fixture("fixture_small.mdb"), JetSource{}, sink);
    ASSERT_EQ(sink.rows.size(), 7u);
    EXPECT_EQ(sink.rows[4].name, "도장_한글");
    EXPECT_TRUE(sink.rows[5].valueIsNull);
    EXPECT_FALSE(sink.rows[6].valueIsNull);
    EXPECT_EQ(sink.rows[6].valueBytes, 0u);
}

TEST_F(JetFixtures, AMissingColumnIsNamed) {
    Collected sink;
    Error e = ErrorOf([&] { ReadJetTable(Fixture("fixture_small.mdb"), JetSource{"pic_list", "pic_name", "image"}, sink); });
    EXPECT_EQ(e.Number(), err::ItemNotFound);
    EXPECT_NE(std::string(e.what()).find("'image'"), std::string::npos) << e.what();
}

#ifndef KALDORIA_HAVE_LIBMDB
// Without libmdb the reading child is still started, limited and read from;
// its one frame refuses the file, saying why.
TEST(JetReader, WithoutLibmdbAJetFileIsRefusedSayingWhy) {
    TempDir dir;
    const std::string path = dir.File("dojang.mdb");
    Bytes jet(4096, 0);
    const char header[] = "\x00\x01\x00\x00Standard Jet DB";
    std::copy(header, header + 19, jet.begin());
    WriteBytes(path, jet);
    Collected sink;
    Error e = ErrorOf([&] { ReadJetTable(path, JetSource{}, sink); });
    EXPECT_EQ(e.Number(), err::NotADatabase);
    EXPECT_NE(std::string(e.what()).find("아직 읽을 수 없습니다"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("원본은 바뀌지 않았습니다"), std::string::npos) << e.what();
    EXPECT_EQ(ReadBytes(path), jet);
}
#endif

TEST_F(JetFixtures, TheTimeLimitStopsTheReader) {
    Collected sink;
    JetLimits none;
    none.total = std::chrono::milliseconds(0);
    Error e = ErrorOf([&] { ReadJetTable(Fixture("fixture_small.mdb"), JetSource{}, sink, none); });
    EXPECT_NE(std::string(e.what()).find("시간 제한"), std::string::npos) << e.what();
    EXPECT_TRUE(NoChildLeft());
}

TEST_F(JetFixtures, AFailureWhileWritingStopsTheReaderAndLeavesNoFiles) {
    struct Failing : Collected {
        void Piece(std::span<const std::uint8_t>) override { throw Error(err::DiskFull, "disk full"); }
    } sink;
    Error e = ErrorOf([&] { ReadJetTable(Fixture("fixture_small.mdb"), JetSource{}, sink); });
    EXPECT_EQ(e.Number(), err::DiskFull);
    EXPECT_TRUE(NoChildLeft());
}

// ---------------------------------------------------------------------------
// Damaged copies, made here from the real file.

std::uint32_t U32(const Bytes& b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

// The first page of the chain of the long value of `length` bytes in a Jet 4
// file: its page-and-row address, and where it keeps its pointer to the next.
struct ChainLink {
    std::uint32_t pgRow = 0;
    std::size_t at = 0;
};

ChainLink FirstChainLink(const Bytes& file, std::uint32_t length) {
    constexpr std::size_t kPage = 4096;
    for (std::size_t at = 0; at + 12 <= file.size(); ++at) {
        if (U32(file, at) != length) continue;  // multi-page values carry no flag bits
        std::uint32_t pgRow = U32(file, at + 4);
        std::size_t page = pgRow >> 8, row = pgRow & 0xff;
        if (page == 0 || (page + 1) * kPage > file.size()) continue;
        std::size_t base = page * kPage;
        std::size_t offset = (file[base + 14 + 2 * row] | file[base + 15 + 2 * row] << 8) & 0x1fff;
        return {pgRow, base + offset};
    }
    return {};
}

struct Damage {
    const char* name;
    Bytes (*apply)(Bytes);
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

void SetU32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

constexpr std::uint32_t kBigValue = 150454;

const Damage kDamages[] = {
    {"TruncatedMidFile", [](Bytes b) { return Bytes(b.begin(), b.begin() + 100000); }},
    {"TruncatedInsideTheHeaderPage", [](Bytes b) { return Bytes(b.begin(), b.begin() + 3000); }},
    {"VersionByteSaysJet3", [](Bytes b) { b[0x14] = 0; return b; }},
    {"VersionByteUnknown", [](Bytes b) { b[0x14] = 7; return b; }},
    // Makes libmdb read past its buffers while taking the catalogue apart.
    {"CatalogueDefinitionCrashesTheReader", [](Bytes b) { b[2 * 4096 + 0x37] = 0x80; return b; }},
    {"ChainPointsAtItself",
     [](Bytes b) {
         ChainLink link = FirstChainLink(b, kBigValue);
         SetU32(b, link.at, link.pgRow);
         return b;
     }},
    {"ChainRunsPastTheEnd",
     [](Bytes b) {
         SetU32(b, FirstChainLink(b, kBigValue).at, static_cast<std::uint32_t>((b.size() / 4096 + 10) << 8));
         return b;
     }},
};

class DamagedJetFile : public JetFixtures, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedJetFile, IsRefusedWithTheOriginalUnchanged) {
    const Bytes sound = ReadBytes(Fixture("fixture_small.mdb"));
    ASSERT_NE(FirstChainLink(sound, kBigValue).at, 0u);
    const Bytes damaged = GetParam().apply(sound);
    ASSERT_NE(damaged, sound);
    const std::string path = dir.File("dojang.mdb");
    WriteBytes(path, damaged);
    JetLimits limits;
    limits.idle = std::chrono::seconds(10);
    limits.total = std::chrono::seconds(20);

    Error e = ErrorOf([&] { MigrateJetDatabase(path, std::nullopt, limits); });

    EXPECT_EQ(e.Number(), err::NotADatabase);
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    EXPECT_EQ(ReadBytes(path), damaged);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"dojang.mdb"});
    EXPECT_TRUE(NoChildLeft());
}

INSTANTIATE_TEST_SUITE_P(Jet, DamagedJetFile, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The command line.

struct ToolRun {
    int exit;
    QString out, err;
};

ToolRun KaldoriaDb(const QStringList& args, const std::string& folder) {
    QProcess p;
    p.setWorkingDirectory(QString::fromStdString(folder));
    p.start(KALDORIA_DB, args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

TEST_F(JetFixtures, MigrateCommandReportsWhatItCarried) {
    CopyFixture(dir, "fixture_small.mdb", "dojang.mdb");
    ToolRun r = KaldoriaDb({"migrate", "dojang.mdb"}, dir.path());
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("도장 7개, 모두 160,166바이트를 옮겼습니다")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("\"도장_한글\": 2,814바이트")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("\"nullpic\": 그림 없음 (Null)")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("'dojang.jet.mdb'")) << r.out.toStdString();
    ExpectManifestRows(dir.File("dojang.mdb"));
}

TEST_F(JetFixtures, MigrateCommandFailsWithTheReason) {
    CopyFixture(dir, "test2V1997.mdb", "dojang.mdb");
    ToolRun r = KaldoriaDb({"migrate", "dojang.mdb", "--to", "new.mdb"}, dir.path());
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(r.err.contains("'pic_list'")) << r.err.toStdString();
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"dojang.mdb"});
}

}  // namespace

int main(int argc, char** argv) {
    // Where the program starts its children as itself (Windows), they run here.
    if (auto status = RunChildTask(argc, argv, {&JetReaderTask(), &LeftoverFiles::WatcherTask()})) return *status;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);  // the window tests need widgets; QProcess an application
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
