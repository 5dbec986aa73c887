// What the engine promises (engine.h), held by both kinds of database: the
// same test bodies run against a local SQLite file and against pic_list on a
// throwaway PostgreSQL server reached through a link file. The server's
// database is given a DBA's REPEATABLE READ default, which the engine's own
// sessions must not inherit.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include "../pg/pg_server.h"
#include "engine/postgres/link.h"
#include "engine/sqlite/link_file.h"
#include "store/save.h"
#include "support.h"

namespace {

Workspace NewWorkspace() { return DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet); }

// One book of one kind, reached also around the engine, as another program would.
class Book {
public:
    virtual ~Book() = default;
    const std::string& Path() const { return path_; }
    // Runs `sql` outside the engine; false when it was refused (say, for a lock).
    virtual bool TrySql(const std::string& sql) = 0;
    virtual std::string Count(const std::string& where = "") = 0;
    // Adds rows outside the engine, in one transaction.
    virtual void Insert(const std::vector<std::pair<std::string, Bytes>>& rows) = 0;
    // Every row's name and picture, outside the engine, sorted by name.
    virtual std::map<std::string, Bytes> Rows() = 0;

protected:
    std::string path_;
};

class SqliteBook : public Book {
public:
    explicit SqliteBook(const TempDir& dir) {
        path_ = dir.File("dojang.mdb");
        MakePictureDb(path_);
    }
    bool TrySql(const std::string& sql) override {
        sqlite3* db = nullptr;
        sqlite3_open(path_.c_str(), &db);
        const bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
        return ok;
    }
    std::string Count(const std::string& where) override {
        sqlite3* db = nullptr;
        sqlite3_open(path_.c_str(), &db);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, ("SELECT count(*) FROM pic_list " + where).c_str(), -1, &s, nullptr);
        sqlite3_step(s);
        std::string n = std::to_string(sqlite3_column_int64(s, 0));
        sqlite3_finalize(s);
        sqlite3_close(db);
        return n;
    }
    void Insert(const std::vector<std::pair<std::string, Bytes>>& rows) override {
        sqlite3* db = nullptr;
        sqlite3_open(path_.c_str(), &db);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO pic_list VALUES (?, ?)", -1, &s, nullptr);
        for (const auto& [name, pic] : rows) {
            sqlite3_bind_text(s, 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
            sqlite3_bind_blob(s, 2, pic.data(), static_cast<int>(pic.size()), SQLITE_TRANSIENT);
            sqlite3_step(s);
            sqlite3_reset(s);
        }
        sqlite3_finalize(s);
        ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    std::map<std::string, Bytes> Rows() override {
        std::map<std::string, Bytes> out;
        for (auto& [name, pic] : RawRows(path_)) out[name] = pic;
        return out;
    }
};

// One server for the whole run; each test gets a fresh pic_list.
PgServer* SharedServer(const std::string& folder) {
    static std::unique_ptr<PgServer> server;
    if (!server) {
        server = std::make_unique<PgServer>(folder);
        server->Sql("ALTER DATABASE postgres SET default_transaction_isolation = 'repeatable read'");
    }
    return server.get();
}

class PgBook : public Book {
public:
    PgBook(const TempDir& dir, PgServer& server) : server_(server) {
        server_.Sql("DROP TABLE IF EXISTS pic_list CASCADE; CREATE TABLE pic_list (pic_name text, pic bytea)");
        path_ = dir.File("dojang.mdb");
        CreateLinkFile(path_, server_.Conninfo());
        conn_ = PQconnectdb(server_.Conninfo().c_str());
    }
    ~PgBook() override { PQfinish(conn_); }
    bool TrySql(const std::string& sql) override {
        PGresult* r = PQexec(conn_, sql.c_str());
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
        PQclear(r);
        return ok;
    }
    std::string Count(const std::string& where) override { return server_.Query("SELECT count(*) FROM pic_list " + where); }
    void Insert(const std::vector<std::pair<std::string, Bytes>>& rows) override {
        TrySql("BEGIN");
        for (const auto& [name, pic] : rows) {
            const char* values[] = {name.c_str(), reinterpret_cast<const char*>(pic.data())};
            const int lengths[] = {0, static_cast<int>(pic.size())}, formats[] = {0, 1};
            PQclear(PQexecParams(conn_, "INSERT INTO pic_list VALUES ($1, $2::bytea)", 2, nullptr, values, lengths, formats, 0));
        }
        ASSERT_TRUE(TrySql("COMMIT"));
    }
    std::map<std::string, Bytes> Rows() override {
        std::map<std::string, Bytes> out;
        PGresult* r = PQexecParams(conn_, "SELECT coalesce(pic_name, '<NULL>'), pic FROM pic_list", 0, nullptr, nullptr,
                                   nullptr, nullptr, 1);
        for (int i = 0; i < PQntuples(r); ++i) {
            const auto* p = reinterpret_cast<const std::uint8_t*>(PQgetvalue(r, i, 1));
            out[PQgetvalue(r, i, 0)] = Bytes(p, p + PQgetlength(r, i, 1));
        }
        PQclear(r);
        return out;
    }

private:
    PgServer& server_;
    PGconn* conn_ = nullptr;
};

class Contract : public ::testing::TestWithParam<std::string> {
protected:
    TempDir dir;
    std::unique_ptr<Book> book;
    Workspace ws = NewWorkspace();

    void SetUp() override {
        if (GetParam() == "sqlite") {
            book = std::make_unique<SqliteBook>(dir);
            return;
        }
        if (PgServer::BinDir().empty())
            GTEST_SKIP() << "PostgreSQL (initdb, pg_ctl) not found under /usr/lib/postgresql: server contract skipped";
        static TempDir serverDir;  // outlives every test of the run
        book = std::make_unique<PgBook>(dir, *SharedServer(serverDir.File("pg")));
    }
    bool Server() const { return GetParam() == "pg"; }
    Database Open() { return ws.OpenDatabase(book->Path()); }
};

std::string Name(int i) {
    std::string n = std::to_string(i);
    return "도장" + std::string(4 - n.size(), '0') + n;
}

// A stamp of real size (about 12 KB), different for every row.
Bytes Stamp(int i) { return PatternBytes(12000 + static_cast<std::size_t>(i % 97), static_cast<unsigned>(i) + 3); }

Bytes WholeValue(Field f) {
    Bytes all;
    for (std::int32_t at = 0; at < f.FieldSize(); at += 32000) {
        const Bytes piece = f.GetChunk(at, 32000);
        all.insert(all.end(), piece.begin(), piece.end());
    }
    return all;
}

void Add(Recordset& rs, const std::string& name, const Bytes& pic) {
    rs.AddNew();
    for (std::size_t at = 0; at < pic.size(); at += 32000)
        rs.Fields("pic").AppendChunk(std::span(pic).subspan(at, std::min<std::size_t>(32000, pic.size() - at)));
    rs.Fields("pic_name").SetValue(name);
    rs.Update();
}

// A thousand real-size stamps over many pages, some removed and saved
// again: a walk of the table sees each row once, with its own bytes, in the
// same order every time, and as many as the book's own count.
TEST_P(Contract, TableWalkSeesEveryRowOnceWithItsOwnBytes) {
    std::map<std::string, Bytes> want;
    std::vector<std::pair<std::string, Bytes>> rows;
    for (int i = 0; i < 1000; ++i) rows.emplace_back(Name(i), Stamp(i));
    book->Insert(rows);
    for (auto& [name, pic] : rows) want[name] = pic;
    // A table inheriting from pic_list puts rows at the addresses its parent uses too.
    if (Server()) {
        ASSERT_TRUE(book->TrySql("CREATE TABLE pic_branch () INHERITS (pic_list)"));
        for (int i = 1000; i < 1012; ++i) {
            ASSERT_TRUE(book->TrySql("INSERT INTO pic_branch VALUES ('" + Name(i) + "', decode('" +
                                     std::string(2 * 10, 'a') + "', 'hex'))"));
            want[Name(i)] = Bytes(10, 0xaa);
        }
    }
    Database db = Open();
    for (int i : {3, 250, 251, 777, 999}) {
        db.Execute("DELETE FROM pic_list WHERE pic_name = '" + Name(i) + "'", dbFailOnError);
        want.erase(Name(i));
    }
    {
        Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
        for (int i : {250, 777}) {
            want[Name(i)] = Stamp(i + 5000);
            Add(rs, Name(i), want[Name(i)]);
        }
    }
    Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
    EXPECT_EQ(std::to_string(rs.RecordCount()), book->Count());
    std::vector<std::string> first, second;
    std::map<std::string, Bytes> got;
    for (; !rs.EOF_(); rs.MoveNext()) {
        const std::string name = TextOf(rs.Fields("pic_name").Value());
        first.push_back(name);
        got[name] = WholeValue(rs.Fields("pic"));
        // A header's worth, and a piece across the end of what a walk may read ahead.
        const Bytes& pic = got[name];
        for (auto [at, n] : {std::pair<std::size_t, std::size_t>{0, 150}, {250, 10}, {1, 255}}) {
            if (at + n > pic.size()) continue;
            EXPECT_EQ(rs.Fields("pic").GetChunk(static_cast<std::int32_t>(at), static_cast<std::int32_t>(n)),
                      Bytes(pic.begin() + static_cast<std::ptrdiff_t>(at), pic.begin() + static_cast<std::ptrdiff_t>(at + n)))
                << name << " at " << at;
        }
    }
    for (rs.MoveFirst(); !rs.EOF_(); rs.MoveNext()) second.push_back(TextOf(rs.Fields(0).Value()));
    EXPECT_EQ(first.size(), want.size());
    EXPECT_EQ(std::to_string(first.size()), book->Count());
    EXPECT_EQ(first, second);
    EXPECT_TRUE(got == want) << got.size() << " rows read, " << want.size() << " stored";
}

// A snapshot holds its rows as they were when it was opened, whatever
// another program does meanwhile (a file refuses the change; a server lets it
// happen, and the snapshot reads its own view).
TEST_P(Contract, SnapshotReadsTheRowsAsTheyWereWhenOpened) {
    const Bytes old = PatternBytes(70000, 4);
    book->Insert({{"도장", old}, {"회사", Stamp(1)}});
    Database db = Open();
    Recordset rs = db.OpenRecordset("SELECT * FROM pic_list WHERE  pic_name = '도장'", dbOpenSnapshot);
    Recordset all = db.OpenRecordset("SELECT pic_name FROM pic_list", dbOpenSnapshot);
    book->TrySql("DELETE FROM pic_list");
    book->TrySql("INSERT INTO pic_list (pic_name) VALUES ('새 도장')");
    ASSERT_EQ(rs.RecordCount(), 1);
    EXPECT_EQ(rs.Fields("pic").FieldSize(), 70000);
    EXPECT_EQ(WholeValue(rs.Fields("pic")), old);
    EXPECT_EQ(all.RecordCount(), 2);
}

TEST_P(Contract, ExecuteRunsExactlyOneStatement) {
    book->Insert({{"a", {1}}, {"b", {2}}});
    Database db = Open();
    for (const char* sql : {"DELETE FROM pic_list WHERE pic_name = 'a'; DELETE FROM pic_list",
                            "SELECT 1; DELETE FROM pic_list", "DELETE FROM pic_list WHERE pic_name = 'a';DROP TABLE pic_list"}) {
        EXPECT_THROW(db.Execute(sql, dbFailOnError), Error) << sql;
        EXPECT_EQ(book->Count(), "2") << sql;
    }
    // Inside a transaction too, with the lock on a name travelling with it.
    Transaction t(db);
    db.LockKey("pic_list\na");
    EXPECT_THROW(db.Execute("DELETE FROM pic_list WHERE pic_name = 'a'; DELETE FROM pic_list", dbFailOnError), Error);
    EXPECT_EQ(book->Count(), "2");
}

// Values on each side of the 32000-byte chunk and of the in-memory stage go
// in and come back byte for byte; a cancelled row leaves nothing.
TEST_P(Contract, AddNewUpdateAndCancelUpdateAtChunkBoundaries) {
    const std::vector<std::size_t> sizes = {1, 31999, 32000, 32001, (1u << 20) - 1, (3u << 19) + 5};
    Database db = Open();
    Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
    EXPECT_TRUE(rs.EOF_());
    EXPECT_EQ(rs.RecordCount(), 0);
    rs.AddNew();
    rs.Fields("pic_name").SetValue(std::string("빈 것"));
    rs.Update();  // no chunk appended: Null
    for (std::size_t size : sizes) {
        const Bytes pic = PatternBytes(size, static_cast<unsigned>(size));
        Add(rs, "n" + std::to_string(size), pic);
        rs.SetBookmark(rs.LastModified());
        EXPECT_EQ(TextOf(rs.Fields("pic_name").Value()), "n" + std::to_string(size));
        ASSERT_EQ(rs.Fields("pic").FieldSize(), static_cast<std::int32_t>(size));
        const auto last = static_cast<std::int32_t>(size - 1);
        EXPECT_EQ(rs.Fields("pic").GetChunk(last, 32000), Bytes(1, pic.back())) << size;
    }
    rs.AddNew();
    rs.Fields("pic").AppendChunk(PatternBytes(2 << 20));
    rs.Fields("pic_name").SetValue(std::string("취소"));
    rs.CancelUpdate();
    EXPECT_EQ(rs.RecordCount(), static_cast<long>(sizes.size() + 1));
    rs.Close();
    auto rows = book->Rows();
    ASSERT_EQ(rows.size(), sizes.size() + 1);
    EXPECT_TRUE(rows.at("빈 것").empty());
    for (std::size_t size : sizes) EXPECT_EQ(rows.at("n" + std::to_string(size)), PatternBytes(size, static_cast<unsigned>(size)));
}

// Two PCs saving one name at once, new or already there: one row remains, and
// neither save fails for the other's sake.
TEST_P(Contract, TwoWritersOnOneNameLeaveOneRow) {
    for (const char* name : {"새 이름", "있는 이름"}) {
        if (std::string(name) == "있는 이름") book->Insert({{name, {1}}});
        std::atomic<int> failures{0}, ready{0};
        auto writer = [&](int who) {
            try {
                Workspace mine = NewWorkspace();
                Database db = mine.OpenDatabase(book->Path());
                const std::string file = dir.File("w" + std::to_string(who) + ".bmp");
                WriteBytes(file, Stamp(who));
                PosixFileSystem files;
                RecordingMessageBox messages;
                ++ready;
                while (ready < 2) std::this_thread::yield();
                for (int k = 0; k < 8; ++k)
                    if (!StorePicture(db, name, file, files, messages)) ++failures;
                mine.Close();
            } catch (const Error& e) {
                ADD_FAILURE() << e.what();
                ++failures;
            }
        };
        std::thread a(writer, 1), b(writer, 2);
        a.join();
        b.join();
        EXPECT_EQ(failures, 0) << name;
        EXPECT_EQ(book->Count(std::string("WHERE pic_name = '") + name + "'"), "1") << name;
        const Bytes stored = book->Rows().at(name);
        EXPECT_TRUE(stored == Stamp(1) || stored == Stamp(2)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, Contract, ::testing::Values("sqlite", "pg"),
                         [](const auto& info) { return info.param; });

}  // namespace
