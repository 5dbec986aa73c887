// The engine layer against real SQLite files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sqlite3.h>

#include "store/connection.h"
#include "support.h"

namespace {

// Past the 1 MiB that a new row's value is held in memory for.
std::size_t ChunkStageBytes() { return (std::size_t{3} << 19) + 11; }

Workspace NewWorkspace() { return DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet); }

// Opening `path` must fail with `number`, leave the file as it was and create nothing.
void ExpectRefused(const TempDir& dir, const std::string& path, int number, const std::string& mention = "") {
    const bool existed = ::access(path.c_str(), F_OK) == 0;
    const Bytes before = existed ? ReadBytes(path) : Bytes{};
    const auto entries = dir.Entries();
    Workspace ws = NewWorkspace();
    try {
        ws.OpenDatabase(path);
        ADD_FAILURE() << "opened " << path;
    } catch (const Error& e) {
        EXPECT_EQ(e.Number(), number) << e.what();
        EXPECT_NE(std::string(e.what()).find(mention.empty() ? path : mention), std::string::npos) << e.what();
    }
    EXPECT_EQ(dir.Entries(), entries);
    if (existed) {
        EXPECT_EQ(ReadBytes(path), before);
    }
}

struct OpenFailures : ::testing::Test {
    TempDir dir;
    std::string path = dir.File("dojang.mdb");
};

TEST_F(OpenFailures, MissingFileIsNotCreated) { ExpectRefused(dir, path, err::DatabaseNotFound); }

TEST_F(OpenFailures, EmptyPathIsNotFound) { ExpectRefused(dir, "", err::DatabaseNotFound, "비어"); }

TEST_F(OpenFailures, EmptyFile) {
    WriteBytes(path, {});
    ExpectRefused(dir, path, err::NotADatabase);
}

TEST_F(OpenFailures, TextFile) {
    std::string text = "이것은 데이터베이스가 아닙니다.\n";
    WriteBytes(path, Bytes(text.begin(), text.end()));
    ExpectRefused(dir, path, err::NotADatabase);
}

TEST_F(OpenFailures, TruncatedFile) {
    MakePictureDb(path);
    RawInsert(path, nullptr, PatternBytes(50000));
    Bytes all = ReadBytes(path);
    WriteBytes(path, Bytes(all.begin(), all.begin() + static_cast<long>(all.size() / 2)));
    ExpectRefused(dir, path, err::NotADatabase);
}

TEST_F(OpenFailures, CorruptPage) {
    MakePictureDb(path);
    for (int i = 0; i < 20; ++i) {
        std::string name = "n" + std::to_string(i);
        RawInsert(path, &name, PatternBytes(3000, static_cast<unsigned>(i)));
    }
    Bytes all = ReadBytes(path);
    for (std::size_t i = 4096; i < 4096 + 200; ++i) all[i] = 0xA5;  // page 2, the table's root
    WriteBytes(path, all);
    ExpectRefused(dir, path, err::NotADatabase);
}

// A file too large to check page by page at every open: the edges of each
// table are checked at open, damage elsewhere is reported when it is read.
struct LargeFile : OpenFailures {
    static constexpr std::size_t kPage = 4096;
    void SetUp() override {
        MakePictureDb(path);
        RawSql(path, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600) "
                     "INSERT INTO pic_list SELECT 'n' || i, randomblob(3000) FROM n");
        ASSERT_GT(ReadBytes(path).size(), 1u << 20);
    }
    void Damage(std::size_t page) {
        Bytes all = ReadBytes(path);
        for (std::size_t i = (page - 1) * kPage; i < (page - 1) * kPage + 200; ++i) all[i] = 0xA5;
        WriteBytes(path, all);
    }
};

TEST_F(LargeFile, SoundFileOpensAndReads) {
    Database db = NewWorkspace().OpenDatabase(path);
    EXPECT_EQ(db.OpenRecordset("SELECT pic_name FROM pic_list", dbOpenSnapshot).RecordCount(), 600);
}

TEST_F(LargeFile, DamagedRootIsRefusedAtOpen) {
    Damage(2);
    ExpectRefused(dir, path, err::NotADatabase);
}

TEST_F(LargeFile, DamageInsideIsReportedWhenRead) {
    Damage(300);
    Database db = NewWorkspace().OpenDatabase(path);
    try {
        db.OpenRecordset("SELECT pic_name, length(pic) FROM pic_list", dbOpenSnapshot);
        ADD_FAILURE() << "read a damaged table";
    } catch (const Error& e) {
        EXPECT_EQ(e.Number(), err::NotADatabase) << e.what();
    }
}

TEST_F(OpenFailures, JetFileNamesTheConversion) {
    Bytes jet(4096, 0);
    const char header[] = "\x00\x01\x00\x00Standard Jet DB";
    std::copy(header, header + 19, jet.begin());
    jet[0x14] = 1;
    WriteBytes(path, jet);
    ExpectRefused(dir, path, err::NotADatabase, "kaldoria-db migrate");
}

TEST_F(OpenFailures, ReadOnlyFileAndFolder) {
    // 0 when an unprivileged user is refused read-write access with CannotOpen.
    auto refusedReadWrite = [&] {
        return RunAsUnprivileged([&] {
            try {
                NewWorkspace().OpenDatabase(path);
                return 1;
            } catch (const Error& e) {
                return e.Number() == err::CannotOpen ? 0 : 2;
            }
        });
    };
    MakePictureDb(path);
    ::chmod(path.c_str(), 0444);
    EXPECT_EQ(refusedReadWrite(), 0);
    // Read-only access still works where it is asked for.
    EXPECT_EQ(RunAsUnprivileged([&] {
                  NewWorkspace().OpenDatabase(path, true).OpenRecordset("SELECT * FROM pic_list", dbOpenSnapshot);
                  return 0;
              }),
              0);

    ::chmod(path.c_str(), 0666);
    ::chmod(dir.path().c_str(), 0555);
    EXPECT_EQ(refusedReadWrite(), 0);
    ::chmod(dir.path().c_str(), 0777);
}

// A child process that holds the file's exclusive lock until told to let go.
class LockHolder {
public:
    LockHolder(const std::string& path, const char* sql) {
        int up[2], down[2];
        if (::pipe(up) != 0 || ::pipe(down) != 0) std::abort();
        pid_ = ::fork();
        if (pid_ == 0) {
            sqlite3* db = nullptr;
            sqlite3_open(path.c_str(), &db);
            sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
            char c = 'r';
            if (::write(up[1], &c, 1) != 1) ::_exit(1);
            if (::read(down[0], &c, 1) != 1) ::_exit(1);
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
            sqlite3_close(db);
            ::_exit(0);
        }
        release_ = down[1];
        char c;
        if (::read(up[0], &c, 1) != 1) std::abort();
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
        ::waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_;
    int release_ = -1;
};

TEST_F(OpenFailures, HeldExclusivelyByAnotherProcess) {
    MakePictureDb(path);
    LockHolder holder(path, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; DELETE FROM pic_list;");
    ExpectRefused(dir, path, err::InUseExclusively);
}

TEST(Connection, OpenPICDBOpensTheFolderDatabaseAndClosesDatabaseFirst) {
    TempDir dir;
    MakePictureDb(DatabasePath(dir.path()));
    Workspace wrkPIC;
    Database dbsPIC;
    OpenPICDB(wrkPIC, dbsPIC, dir.path());
    EXPECT_EQ(wrkPIC.UserName(), "admin");
    EXPECT_EQ(dbsPIC.Name(), dir.path() + "/dojang.mdb");
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

TEST_F(EngineOnDb, StatementErrorsAreRaised) {
    EXPECT_THROW(db.Execute("DELETE FROM pic_list WHERE", dbFailOnError), Error);
    EXPECT_THROW(db.Execute("DELETE FROM nowhere", dbFailOnError), Error);
    // A second statement never runs.
    RawInsert(path, nullptr, {1});
    EXPECT_THROW(db.Execute("SELECT 1; DELETE FROM pic_list", dbFailOnError), Error);
    EXPECT_EQ(RawRows(path).size(), 1u);
    Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
    try {
        rs.Fields("nope");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.Number(), err::ItemNotFound);
        EXPECT_NE(std::string(e.what()).find("nope"), std::string::npos);
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

TEST_F(EngineOnDb, TransactionRollsBackUnlessCommitted) {
    std::string a = "a";
    RawInsert(path, &a, {1});
    {
        Transaction t(db);
        db.Execute("DELETE FROM pic_list", dbFailOnError);
    }
    EXPECT_EQ(RawRows(path).size(), 1u);
    {
        Transaction t(db);
        db.Execute("DELETE FROM pic_list", dbFailOnError);
        t.Commit();
    }
    EXPECT_TRUE(RawRows(path).empty());
}

TEST_F(EngineOnDb, WriteWaitsForAnotherProcessToFinish) {
    LockHolder holder(path, "BEGIN IMMEDIATE; INSERT INTO pic_list (pic_name) VALUES ('other');");
    holder.ReleaseAfter(700);  // the write below must wait for it, not fail
    Transaction t(db);
    db.Execute("INSERT INTO pic_list (pic_name) VALUES ('mine')", dbFailOnError);
    t.Commit();
    EXPECT_EQ(RawRows(path).size(), 2u);
}

TEST_F(EngineOnDb, ClosingTheDatabaseClosesItsRecordsets) {
    Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
    db.Close();
    try {
        rs.RecordCount();
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.Number(), err::ObjectClosed);
    }
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
    std::string cmd = "sqlite3 '" + path +
                      "' \"CREATE TABLE pic_list (pic_name TEXT, pic BLOB); "
                      "INSERT INTO pic_list VALUES ('도장', x'00FF00');\"";
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
