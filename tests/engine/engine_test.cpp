// The engine layer against real SQLite files.
#include <gtest/gtest.h>

#include <stdexcept>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <sqlite3.h>
#include <thread>

#include "engine/workspace/workspace.h"
#include "store/connection.h"
#include "support.h"

namespace {

// Past the 1 MiB that a new row's value is held in memory for.
std::size_t ChunkStageBytes() { return (std::size_t{3} << 19) + 11; }

Workspace NewWorkspace() { return DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet); }

#ifdef _WIN32
// Another connection, on a thread of its own, that holds the file's lock
// until told to let go. SQLite locks a file per handle on Windows
// (LockFileEx), so it stands in the engine's way as another process would.
class LockHolder {
public:
    LockHolder(const std::string& path, const char* sql) {
        holder_ = std::thread([this, path, sql] {
            sqlite3* db = nullptr;
            const bool locked = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                                sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
            std::unique_lock lock(mutex_);
            held_ = true;
            locked_ = locked;
            changed_.notify_all();
            changed_.wait(lock, [this] { return released_; });
            committed_ = !locked || sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
            sqlite3_close(db);
        });
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return held_; });
        // A holder that holds nothing would let every test of waiting pass.
        if (!locked_) throw std::runtime_error(std::string("the lock holder's statement failed: ") + sql);
    }
    // Lets go after `ms` milliseconds, while the caller goes on.
    void ReleaseAfter(int ms) {
        if (releaser_.joinable()) return;
        releaser_ = std::thread([this, ms] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            std::lock_guard lock(mutex_);
            released_ = true;
            changed_.notify_all();
        });
    }
    ~LockHolder() {
        ReleaseAfter(0);
        releaser_.join();
        holder_.join();
        if (!committed_) ADD_FAILURE() << "the lock holder could not commit";
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false, released_ = false, locked_ = false, committed_ = true;
    std::thread holder_, releaser_;
};
#else
// A child process that holds the file's exclusive lock until told to let go.
class LockHolder {
public:
    LockHolder(const std::string& path, const char* sql) {
        int up[2], down[2];
        if (::pipe(up) != 0 || ::pipe(down) != 0) std::abort();
        pid_ = ::fork();
        if (pid_ == 0) {
            sqlite3* db = nullptr;
            const bool locked = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                                sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
            char c = locked ? 'r' : 'f';
            if (::write(up[1], &c, 1) != 1) ::_exit(1);
            if (::read(down[0], &c, 1) != 1) ::_exit(1);
            const bool committed = !locked || sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
            sqlite3_close(db);
            ::_exit(committed ? 0 : 2);
        }
        release_ = down[1];
        char c = 0;
        if (::read(up[0], &c, 1) != 1) std::abort();
        // A holder that holds nothing would let every test of waiting pass.
        if (c != 'r') throw std::runtime_error(std::string("the lock holder's statement failed: ") + sql);
    }
    // Lets go after `ms` milliseconds, while the caller goes on.
    void ReleaseAfter(int ms) {
        if (release_ < 0) return;
        if (::fork() == 0) {
            ::usleep(static_cast<useconds_t>(ms) * 1000);
            char c = 'x';
            ::_exit(::write(release_, &c, 1) == 1 ? 0 : 1);
        }
        ::close(release_);
        release_ = -1;
    }
    ~LockHolder() {
        ReleaseAfter(0);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ADD_FAILURE() << "the lock holder could not commit";
    }

private:
    pid_t pid_;
    int release_ = -1;
};
#endif

// --- a bad database at start-up ---------------------------------------------

// A database file the start-up must refuse, and what the refusal says.
struct BadBook {
    const char* what;
    std::function<void(const std::string& db)> make;  // prepares the folder of `db`
    int number;
    std::string mentions;  // empty: the path; "@" stands for the path, "%" for its folder
    bool unprivileged = false;  // refused only for someone other than the owner
    bool readOnlyFolder = false;
};
void PrintTo(const BadBook& b, std::ostream* os) { *os << b.what; }

// Twenty rows of real-size stamps and the default one.
void GoodBook(const std::string& db) {
    MakePictureDb(db);
    RawSql(db, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20) "
               "INSERT INTO pic_list SELECT 'n' || i, randomblob(12000) FROM n; "
               "INSERT INTO pic_list VALUES ('도장', randomblob(3000))");
}

void DamagePages(const std::string& db, std::size_t from, std::size_t to, std::size_t step) {
    Bytes all = ReadBytes(db);
    for (std::size_t i = from; i < std::min(to, all.size()); i += step) all[i] = static_cast<std::uint8_t>(0xA5 ^ i);
    WriteBytes(db, all);
}

Bytes JetHeader(std::uint8_t version) {
    Bytes jet(4096, 0);
    const char header[] = "\x00\x01\x00\x00Standard Jet DB";
    std::copy(header, header + 19, jet.begin());
    jet[0x14] = version;
    return jet;
}

const BadBook kBadBooks[] = {
    {"missing", [](const std::string&) {}, err::DatabaseNotFound, ""},
    {"empty", [](const std::string& db) { WriteBytes(db, {}); }, err::NotADatabase, ""},
    {"text", [](const std::string& db) {
         const std::string t = "이것은 데이타베이스가 아닙니다.\n";
         WriteBytes(db, Bytes(t.begin(), t.end()));
     }, err::NotADatabase, ""},
    {"zeros", [](const std::string& db) { WriteBytes(db, Bytes(8192, 0)); }, err::NotADatabase, ""},
    {"truncated_in_the_header", [](const std::string& db) { GoodBook(db); std::filesystem::resize_file(db, 60); },
     err::NotADatabase, ""},
    {"truncated_to_half", [](const std::string& db) {
         GoodBook(db);
         std::filesystem::resize_file(db, std::filesystem::file_size(db) / 2 + 100);
     }, err::NotADatabase, ""},
    {"damaged_table_root", [](const std::string& db) { GoodBook(db); DamagePages(db, 4096, 4096 + 200, 1); },
     err::NotADatabase, ""},
    {"damaged_everywhere", [](const std::string& db) { GoodBook(db); DamagePages(db, 4096, SIZE_MAX, 3); },
     err::NotADatabase, ""},
    // Too large to check page by page at every open: the edges of each table are.
    {"large_with_a_damaged_table_root", [](const std::string& db) {
         MakePictureDb(db);
         RawSql(db, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600) "
                    "INSERT INTO pic_list SELECT 'n' || i, randomblob(3000) FROM n");
         DamagePages(db, 4096, 4096 + 200, 1);
     }, err::NotADatabase, ""},
    {"jet4", [](const std::string& db) { WriteBytes(db, JetHeader(1)); }, err::NotADatabase,
     "kaldoria-db migrate \"@\""},
    {"jet3", [](const std::string& db) { WriteBytes(db, JetHeader(0)); }, err::NotADatabase,
     "kaldoria-db migrate \"@\""},
    {"without_pic_list", [](const std::string& db) { RawSql(db, "CREATE TABLE pictures (pic_name TEXT, pic BLOB)"); },
     err::TableNotFound, "pic_list"},
    {"pic_list_without_pic", [](const std::string& db) {
         RawSql(db, "CREATE TABLE pic_list (pic_name TEXT); INSERT INTO pic_list VALUES ('도장')");
     }, err::ItemNotFound, "'pic'"},
    {"pic_list_without_pic_name", [](const std::string& db) {
         RawSql(db, "CREATE TABLE pic_list (name TEXT, pic BLOB); INSERT INTO pic_list VALUES ('도장', x'00')");
     }, err::ItemNotFound, "pic_name"},
    // Listed by its text, yet never matched by the save's removal statement.
    {"a_name_stored_as_a_blob", [](const std::string& db) {
         GoodBook(db);
         RawSql(db, "UPDATE pic_list SET pic_name = CAST(pic_name AS BLOB) WHERE pic_name = 'n1'");
     }, err::InvalidOperation, "BLOB이나 숫자로 저장된 행이 1개"},
    {"read_only_file", [](const std::string& db) { GoodBook(db); ::chmod(db.c_str(), 0444); }, err::CannotOpen, "",
     true},
    {"in_a_read_only_folder", [](const std::string& db) { GoodBook(db); ::chmod(db.c_str(), 0666); }, err::CannotOpen, "%", true,
     true},
};

class BadDatabaseAtStartUp : public ::testing::TestWithParam<BadBook> {
protected:
    TempDir dir;
    const std::string db = DatabasePath(dir.path());
    void TearDown() override { ::chmod(dir.path().c_str(), 0777); }
};

// The start-up's reads as the window makes them: OpenPICDB, the name list
// walked, the default picture read whole. 0 when refused as `book` says.
int StartUpRefusedAs(const std::string& folder, const std::string& db, const BadBook& book) {
    try {
        Workspace ws;
        Database dbs;
        OpenPICDB(ws, dbs, folder);
        Recordset names = dbs.OpenRecordset("SELECT pic_name FROM pic_list", dbOpenSnapshot);
        for (; !names.EOF_(); names.MoveNext()) (void)names.Fields(0).Value();
        Recordset def = dbs.OpenRecordset("SELECT * FROM pic_list WHERE  pic_name = '도장'", dbOpenSnapshot);
        if (def.RecordCount() > 0) (void)def.Fields("pic").Value();
    } catch (const Error& e) {
        std::string want = book.mentions.empty() ? db : book.mentions;
        if (const auto at = want.find('@'); at != std::string::npos) want.replace(at, 1, db);
        if (const auto at = want.find('%'); at != std::string::npos) want.replace(at, 1, folder);
        if (e.Number() == book.number && std::string(e.what()).find(want) != std::string::npos) return 0;
        std::fprintf(stderr, "error %d (expected %d naming %s): %s\n", e.Number(), book.number, want.c_str(), e.what());
        return 2;
    }
    std::fprintf(stderr, "the start-up went through\n");
    return 1;
}

// Refused with the engine's number and a description that names the file,
// the table or the column; the file is left as it was and nothing is made
// beside it.
TEST_P(BadDatabaseAtStartUp, IsRefusedClearlyAndChangesNothing) {
    const BadBook& book = GetParam();
#ifdef _WIN32
    if (book.readOnlyFolder) GTEST_SKIP() << "Windows has no read-only folders: the attribute does not stop new files";
#endif
    book.make(db);
    if (book.readOnlyFolder) ::chmod(dir.path().c_str(), 0555);
    const bool existed = std::filesystem::exists(db);
    const Bytes before = existed ? ReadBytes(db) : Bytes{};
    const auto entries = dir.Entries();
    const int code = book.unprivileged ? RunAsUnprivileged([&] { return StartUpRefusedAs(dir.path(), db, book); })
                                       : StartUpRefusedAs(dir.path(), db, book);
    EXPECT_EQ(code, 0) << "1: no error, 2: another error (on stderr)";
    EXPECT_EQ(dir.Entries(), entries);
    if (existed) {
        EXPECT_EQ(ReadBytes(db), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, BadDatabaseAtStartUp, ::testing::ValuesIn(kBadBooks),
                         [](const auto& info) { return std::string(info.param.what); });

// Held exclusively by another process for as long as the start-up tries.
TEST(BadDatabaseAtStartUpLocked, IsRefusedWhileAnotherProcessHoldsTheFile) {
    TempDir dir;
    const std::string db = DatabasePath(dir.path());
    GoodBook(db);
    const Bytes before = ReadBytes(db);
    {
        LockHolder holder(db, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;");
        EXPECT_EQ(StartUpRefusedAs(dir.path(), db, {"locked", nullptr, err::InUseExclusively, ""}), 0);
    }
    EXPECT_EQ(ReadBytes(db), before);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{kDatabaseFileName});
}

// The engine itself, below the start-up: an empty path is no file.
TEST(OpenDatabase, EmptyPathIsNotFound) {
    TempDir dir;
    Error e = ErrorOf([&] { NewWorkspace().OpenDatabase(""); });
    EXPECT_EQ(e.Number(), err::DatabaseNotFound);
    EXPECT_NE(std::string(e.what()).find("비어"), std::string::npos) << e.what();
    EXPECT_TRUE(dir.Entries().empty());
}

// A read-only file is refused for writing (above) yet opens where reading
// is all that is asked for.
TEST(OpenDatabase, ReadOnlyFileOpensForReading) {
    TempDir dir;
    const std::string path = dir.File("dojang.mdb");
    MakePictureDb(path);
    ::chmod(path.c_str(), 0444);
    EXPECT_EQ(RunAsUnprivileged([&] {
                  NewWorkspace().OpenDatabase(path, true).OpenRecordset("SELECT * FROM pic_list", dbOpenSnapshot);
                  return 0;
              }),
              0);
}

// A file too large to check page by page at every open: damage away from
// the edges of a table is reported when it is read.
struct LargeFile : ::testing::Test {
    static constexpr std::size_t kPage = 4096;
    TempDir dir;
    std::string path = dir.File("dojang.mdb");
    void SetUp() override {
        MakePictureDb(path);
        RawSql(path, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600) "
                     "INSERT INTO pic_list SELECT 'n' || i, randomblob(3000) FROM n");
        ASSERT_GT(ReadBytes(path).size(), 1u << 20);
    }
};

TEST_F(LargeFile, SoundFileOpensAndReads) {
    Database db = NewWorkspace().OpenDatabase(path);
    EXPECT_EQ(db.OpenRecordset("SELECT pic_name FROM pic_list", dbOpenSnapshot).RecordCount(), 600);
}

TEST_F(LargeFile, DamageInsideIsReportedWhenRead) {
    DamagePages(path, 299 * kPage, 299 * kPage + 200, 1);
    Database db = NewWorkspace().OpenDatabase(path);
    try {
        db.OpenRecordset("SELECT pic_name, length(pic) FROM pic_list", dbOpenSnapshot);
        ADD_FAILURE() << "read a damaged table";
    } catch (const Error& e) {
        EXPECT_EQ(e.Number(), err::NotADatabase) << e.what();
    }
}

TEST(Connection, OpenPICDBOpensTheFolderDatabaseAndClosesDatabaseFirst) {
    TempDir dir;
    MakePictureDb(DatabasePath(dir.path()));
    Workspace wrkPIC;
    Database dbsPIC;
    OpenPICDB(wrkPIC, dbsPIC, dir.path());
    EXPECT_EQ(wrkPIC.UserName(), "admin");
#ifdef _WIN32
    EXPECT_EQ(dbsPIC.Name(), dir.path() + "\\dojang.mdb");
#else
    EXPECT_EQ(dbsPIC.Name(), dir.path() + "/dojang.mdb");
#endif
    dbsPIC.Execute("INSERT INTO pic_list (pic_name) VALUES ('x')", dbFailOnError);
    ClosePICDB(wrkPIC, dbsPIC);
    EXPECT_THROW(dbsPIC.Execute("SELECT 1"), Error);
    EXPECT_THROW(wrkPIC.OpenDatabase(DatabasePath(dir.path())), Error);
    EXPECT_EQ(RawRows(DatabasePath(dir.path())).size(), 1u);
}

struct EngineOnDb : ::testing::Test {
    TempDir dir;
    std::string path = dir.File("dojang.mdb");
    Workspace ws = NewWorkspace();
    Database db;
    void SetUp() override {
        MakePictureDb(path);
        db = ws.OpenDatabase(path);
    }
};

TEST_F(EngineOnDb, MissingTableIsNamedAtTheFirstStatement) {
    RawSql(path, "DROP TABLE pic_list; CREATE TABLE other (x);");
    Database plain = ws.OpenDatabase(path);
    try {
        plain.OpenRecordset("SELECT pic_name FROM pic_list", dbOpenSnapshot);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.Number(), err::TableNotFound);
        EXPECT_NE(std::string(e.what()).find("pic_list"), std::string::npos);
    }
}

TEST_F(EngineOnDb, SnapshotReadsNullsTextAndBlobsInOrder) {
    std::string a = "가", b = "b";
    RawInsert(path, &a, PatternBytes(100));
    RawInsert(path, nullptr, {});
    RawInsert(path, &b, PatternBytes(70000, 2));
    Recordset rs = db.OpenRecordset("SELECT * FROM pic_list", dbOpenSnapshot);
    ASSERT_EQ(rs.RecordCount(), 3);
    std::vector<std::string> names;
    for (rs.MoveFirst(); !rs.EOF_(); rs.MoveNext()) names.push_back(TextOf(rs.Fields(0).Value()));
    EXPECT_EQ(names, (std::vector<std::string>{"가", "", "b"}));
    rs.MoveFirst();
    rs.MoveNext();
    EXPECT_TRUE(IsNull(rs.Fields("pic_name").Value()));
    rs.MoveNext();
    Field pic = rs.Fields("pic");
    ASSERT_EQ(pic.FieldSize(), 70000);
    Bytes whole = pic.GetChunk(0, 40000), tail = pic.GetChunk(40000, 40000);
    whole.insert(whole.end(), tail.begin(), tail.end());
    EXPECT_EQ(whole, PatternBytes(70000, 2));
    rs.MoveNext();
    EXPECT_THROW(rs.Fields(0).Value(), Error);
}

TEST_F(EngineOnDb, EmptySnapshotCountsZero) {
    Recordset rs = db.OpenRecordset("SELECT * FROM pic_list WHERE  pic_name = '도장'", dbOpenSnapshot);
    EXPECT_EQ(rs.RecordCount(), 0);
    EXPECT_TRUE(rs.EOF_());
}

TEST_F(EngineOnDb, SnapshotKeepsItsRowsWhileOpen) {
    std::string a = "a";
    RawInsert(path, &a, {1, 2, 3});
    Recordset rs = db.OpenRecordset("SELECT pic_name, pic FROM pic_list", dbOpenSnapshot);
    // Another program cannot change the rows under an open snapshot...
    sqlite3* other = nullptr;
    sqlite3_open(path.c_str(), &other);
    EXPECT_EQ(sqlite3_exec(other, "DELETE FROM pic_list", nullptr, nullptr, nullptr), SQLITE_BUSY);
    EXPECT_EQ(rs.Fields("pic").GetChunk(0, 3), (Bytes{1, 2, 3}));
    // ...and can once it is closed.
    rs.Close();
    EXPECT_EQ(sqlite3_exec(other, "DELETE FROM pic_list", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_THROW(rs.RecordCount(), Error);
}

TEST_F(EngineOnDb, AddNewUpdateAndBookmarkOfTheLastModifiedRow) {
    std::string a = "a";
    RawInsert(path, &a, {9});
    Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
    EXPECT_EQ(TextOf(rs.Fields("pic_name").Value()), "a");
    rs.AddNew();
    Bytes big = PatternBytes(3 * 1024 * 1024 + 17, 5);  // larger than the in-memory stage
    for (std::size_t at = 0; at < big.size(); at += 32000)
        rs.Fields("pic").AppendChunk(std::span(big).subspan(at, std::min<std::size_t>(32000, big.size() - at)));
    rs.Fields("pic_name").SetValue(std::string("새 도장"));
    rs.Update();
    EXPECT_EQ(TextOf(rs.Fields("pic_name").Value()), "a");  // the current row stays put
    rs.SetBookmark(rs.LastModified());
    EXPECT_EQ(TextOf(rs.Fields("pic_name").Value()), "새 도장");
    EXPECT_EQ(rs.Fields("pic").FieldSize(), static_cast<std::int32_t>(big.size()));
    EXPECT_EQ(rs.RecordCount(), 2);
    rs.Close();
    auto rows = RawRows(path);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].first, "새 도장");
    EXPECT_EQ(rows[1].second, big);
}

TEST_F(EngineOnDb, CancelUpdateAndMisuseStoreNothing) {
    Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
    EXPECT_TRUE(rs.EOF_());
    EXPECT_THROW(rs.Update(), Error);
    EXPECT_THROW(rs.Fields("pic").AppendChunk(Bytes{1}), Error);
    rs.AddNew();
    rs.Fields("pic").AppendChunk(PatternBytes(2 * 1024 * 1024));
    rs.Fields("pic_name").SetValue(std::string("x"));
    rs.CancelUpdate();
    EXPECT_THROW(rs.LastModified(), Error);
    Recordset snap = db.OpenRecordset("SELECT * FROM pic_list", dbOpenSnapshot);
    EXPECT_THROW(snap.AddNew(), Error);
    EXPECT_TRUE(RawRows(path).empty());
}

TEST_F(EngineOnDb, FailedUpdateOfALargeValueLeavesNoRow) {
    RawSql(path, "CREATE TRIGGER no_x AFTER INSERT ON pic_list WHEN new.pic_name = 'x' "
                 "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
    rs.AddNew();
    rs.Fields("pic").AppendChunk(PatternBytes(2 * 1024 * 1024));
    rs.Fields("pic_name").SetValue(std::string("x"));
    EXPECT_THROW(rs.Update(), Error);
    EXPECT_FALSE(db.InTransaction());
    EXPECT_TRUE(RawRows(path).empty());
}

// Through a view or a subquery, the start-up's statement reads the row it
// names, not whatever row of the table has the rowid that a view lacks.
TEST_F(EngineOnDb, SnapshotThroughAViewOrSubqueryReadsTheRowsOwnBytes) {
    RawSql(path, "DROP TABLE pic_list; CREATE TABLE real (pic_name TEXT, pic BLOB);"
                 "INSERT INTO real (rowid, pic_name, pic) VALUES"
                 " (0, 'decoy', CAST(printf('%.*c', 70000, 'n') AS BLOB)),"
                 " (5, '도장', CAST(printf('%.*c', 70000, 'y') AS BLOB));"
                 "CREATE VIEW pic_list AS SELECT * FROM real;"
                 "CREATE VIEW nested AS SELECT * FROM (SELECT pic_name, pic FROM real);");
    Database fresh = ws.OpenDatabase(path);
    for (const char* sql : {"SELECT * FROM pic_list WHERE  pic_name = '도장'", "SELECT * FROM nested WHERE pic_name = '도장'",
                            "SELECT * FROM (SELECT * FROM real) WHERE pic_name = '도장'"}) {
        Recordset rs = fresh.OpenRecordset(sql, dbOpenSnapshot);
        ASSERT_EQ(rs.RecordCount(), 1) << sql;
        Field pic = rs.Fields("pic");
        EXPECT_EQ(pic.FieldSize(), 70000) << sql;
        EXPECT_EQ(pic.GetChunk(64000, 32000), Bytes(6000, 'y')) << sql;
    }
}

// A value staged past the memory limit reads back whole before and after the row is stored.
TEST_F(EngineOnDb, StagedValueBeyondMemoryReadsBackWhileAdding) {
    const Bytes value = PatternBytes(ChunkStageBytes(), 9);
    Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
    rs.AddNew();
    Field pic = rs.Fields("pic");
    for (std::size_t at = 0; at < value.size(); at += 32000)
        pic.AppendChunk(std::span(value).subspan(at, std::min<std::size_t>(32000, value.size() - at)));
    EXPECT_EQ(pic.FieldSize(), static_cast<std::int32_t>(value.size()));
    const std::int32_t middle = (1 << 20) - 7;
    EXPECT_EQ(pic.GetChunk(middle, 100), Bytes(value.begin() + middle, value.begin() + middle + 100));
    EXPECT_EQ(std::get<Bytes>(pic.Value()), value);
    rs.Update();
    EXPECT_EQ(RawRows(path).at(0).second, value);
}

TEST_F(EngineOnDb, WriteWaitsForAnotherProcessToFinish) {
    LockHolder holder(path, "BEGIN IMMEDIATE; INSERT INTO pic_list (pic_name) VALUES ('other');");
    holder.ReleaseAfter(700);  // the write below must wait for it, not fail
    Transaction t(db);
    db.Execute("INSERT INTO pic_list (pic_name) VALUES ('mine')", dbFailOnError);
    t.Commit();
    EXPECT_EQ(RawRows(path).size(), 2u);
}

// A book of a thousand stamps of about 12 KB, walked with a table recordset
// while rows change through the recordset's own connection or wait on
// another process: every read must match what SQLite itself reads then.
struct TableWalk : EngineOnDb {
    void SetUp() override {
        EngineOnDb::SetUp();
        Fill(path);
    }
    static void Fill(const std::string& book) {
        RawSql(book,
               "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 1000) "
               "INSERT INTO pic_list SELECT printf('n%04d', i), randomblob(12000 + i % 700) FROM c");
    }
    static Bytes Whole(const Field& pic) {
        Bytes all;
        const std::int32_t size = pic.FieldSize();
        for (std::int32_t at = 0; at < size; at += 5000) {
            const Bytes chunk = pic.GetChunk(at, 5000);
            all.insert(all.end(), chunk.begin(), chunk.end());
        }
        return all;
    }
    // Reads the current row and every row after it; the rows SQLite holds
    // after the current one's name must come out, in order, byte for byte.
    static void ExpectRestMatches(Recordset& rs, const std::string& book) {
        const std::string from = TextOf(rs.Fields("pic_name").Value());
        std::vector<std::pair<std::string, Bytes>> read, expected;
        for (; !rs.EOF_(); rs.MoveNext()) read.emplace_back(TextOf(rs.Fields("pic_name").Value()), Whole(rs.Fields("pic")));
        for (auto& row : RawRows(book))
            if (row.first >= from) expected.push_back(std::move(row));
        ASSERT_EQ(read.size(), expected.size());
        for (std::size_t i = 0; i < read.size(); ++i) {
            EXPECT_EQ(read[i].first, expected[i].first);
            EXPECT_TRUE(read[i].second == expected[i].second) << read[i].first;
        }
    }
};

TEST_F(TableWalk, ChangesThroughItsOwnConnectionAreSeenAtOnce) {
    // Each case on a book of its own.
    const struct {
        const char* what;
        const char* sql;
        bool currentDeleted;
    } cases[] = {
        {"the current row deleted", "DELETE FROM pic_list WHERE pic_name = 'n0100'", true},
        {"the next row deleted", "DELETE FROM pic_list WHERE pic_name = 'n0101'", false},
        {"the next rows replaced", "UPDATE pic_list SET pic = randomblob(9000) WHERE pic_name IN ('n0101', 'n0102')", false},
        {"the current row replaced", "UPDATE pic_list SET pic = randomblob(7000) WHERE pic_name = 'n0100'", false},
        {"the next rows made text, a number and Null",
         "UPDATE pic_list SET pic = CASE pic_name WHEN 'n0101' THEN '글자 값' WHEN 'n0102' THEN 12345 END "
         "WHERE pic_name IN ('n0101', 'n0102', 'n0103')",
         false},
        {"every row deleted", "DELETE FROM pic_list", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string book = dir.File(std::string(c.what) + ".mdb");
        MakePictureDb(book);
        Fill(book);
        Database db = ws.OpenDatabase(book);
        Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
        // Walked this far, the blob handle stands on row 100.
        for (int i = 1; i < 100; ++i) {
            Whole(rs.Fields("pic"));
            rs.MoveNext();
        }
        ASSERT_EQ(TextOf(rs.Fields("pic_name").Value()), "n0100");
        Whole(rs.Fields("pic"));
        db.Execute(c.sql, dbFailOnError);
        if (c.currentDeleted) {
            for (const char* field : {"pic", "pic_name"}) {
                const Error e = ErrorOf([&] { rs.Fields(field).FieldSize(); });
                EXPECT_EQ(e.Number(), err::RecordDeleted) << e.what();
            }
            rs.MoveNext();
        }
        if (!rs.EOF_()) ExpectRestMatches(rs, book);
        db.Close();
    }
}

TEST_F(TableWalk, AMoveRefusedByALockedFileCanBeMadeAgain) {
    db.Execute("PRAGMA busy_timeout = 100", dbFailOnError);
    Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
    rs.MoveNext();
    ASSERT_EQ(TextOf(rs.Fields("pic_name").Value()), "n0002");
    // Another process deletes the next row and, while this one reads,
    // waits to commit; new reads must wait for it in turn.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; DELETE FROM pic_list WHERE pic_name = 'n0003'", nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_BUSY);
    // Past the time a walk holds the file, the next move lets it go and
    // finds the file waiting for the other writer.
    ::usleep(200 * 1000);
    const Error e = ErrorOf([&] { rs.MoveNext(); });
    EXPECT_EQ(e.Number(), err::Locked) << e.what();
    EXPECT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_EQ(TextOf(rs.Fields("pic_name").Value()), "n0002");
    rs.MoveNext();
    EXPECT_EQ(TextOf(rs.Fields("pic_name").Value()), "n0004");
    ExpectRestMatches(rs, path);
}

TEST(EngineShell, DatabaseMadeByTheSqliteShellWorks) {
    TempDir dir;
    std::string path = dir.File("dojang.mdb");
    // The SQL from a file: Windows' command line would not carry the Korean
    // name, and its shell (cmd) knows only double quotes.
    const std::string sql = "CREATE TABLE pic_list (pic_name TEXT, pic BLOB); "
                            "INSERT INTO pic_list VALUES ('도장', x'00FF00');";
    WriteBytes(dir.File("make.sql"), Bytes(sql.begin(), sql.end()));
    std::string cmd = "sqlite3 \"" + path + "\" \".read " + dir.File("make.sql") + "\"";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    Database db = NewWorkspace().OpenDatabase(path);
    Recordset rs = db.OpenRecordset("SELECT * FROM pic_list WHERE  pic_name = '도장'", dbOpenSnapshot);
    ASSERT_EQ(rs.RecordCount(), 1);
    EXPECT_EQ(rs.Fields("pic").GetChunk(0, 3), (Bytes{0, 0xFF, 0}));
}

TEST(EngineCreate, CreatePICDBRefusesToOverwrite) {
    TempDir dir;
    std::string path = dir.File("new.mdb");
    CreatePICDB(path);
    EXPECT_TRUE(RawRows(path).empty());
    WriteBytes(dir.File("taken.mdb"), {1, 2, 3});
    EXPECT_THROW(CreatePICDB(dir.File("taken.mdb")), Error);
    EXPECT_EQ(ReadBytes(dir.File("taken.mdb")), (Bytes{1, 2, 3}));
    EXPECT_THROW(CreatePICDB(path), Error);
}

}  // namespace
