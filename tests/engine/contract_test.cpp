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

#include "../pg/book_kinds.h"
#include "engine/postgres/link.h"
#include "engine/sqlite/link_file.h"
#include "engine/workspace/workspace.h"
#include "store/save.h"
#include "support.h"

namespace {

Workspace NewWorkspace() { return DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet); }

class Contract : public ::testing::TestWithParam<std::string> {
protected:
    TempDir dir;
    std::unique_ptr<Book> book;
    Workspace ws = NewWorkspace();

    void SetUp() override {
        // The server's own default is the stricter isolation, which the engine must not depend on.
        book = MakeBook(GetParam(), dir, "ALTER DATABASE postgres SET default_transaction_isolation = 'repeatable read'");
        if (!book) GTEST_SKIP() << PgServer::NotFound() << ": server contract skipped";
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
    EXPECT_EQ(rs.RecordCount(), book->Count("pic_list"));
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
    EXPECT_EQ(static_cast<long>(first.size()), book->Count("pic_list"));
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
        EXPECT_EQ(book->Count("pic_list"), 2) << sql;
    }
    // Inside a transaction too, with the lock on a name travelling with it.
    Transaction t(db);
    db.LockKey("pic_list\na");
    EXPECT_THROW(db.Execute("DELETE FROM pic_list WHERE pic_name = 'a'; DELETE FROM pic_list", dbFailOnError), Error);
    EXPECT_EQ(book->Count("pic_list"), 2);
}

// Values reach a statement as parameters, never as its text: each type
// comes back as it went in, text that looks like SQL stays text, and a
// statement given too few or too many values is refused before it runs.
TEST_P(Contract, ParametersAreBoundAsValuesOfTheirType) {
    const std::string sly = "x'); DELETE FROM pic_list; --";
    Database db = Open();
    {
        Transaction t(db);
        db.LockKey(sly);  // a lock's key is a value as well
        db.Execute("INSERT INTO pic_list (pic_name, pic) VALUES ($1, $2)", {sly, Bytes{0, 1, 2, 0, 255}});
        db.Execute("INSERT INTO pic_list (pic_name, pic) VALUES ($1, $2)", {std::string("널"), Variant{}});
        t.Commit();
    }
    EXPECT_EQ(book->Count("pic_list"), 2);
    const struct {
        const char* sql;
        Params params;
        std::string want;
    } reads[] = {
        {"SELECT pic_name FROM pic_list WHERE pic_name = $1", {sly}, sly},
        {"SELECT count(*) FROM pic_list WHERE pic IS NULL AND pic_name = $1", {std::string("널")}, "1"},
        {"SELECT count(*) FROM pic_list WHERE pic_name = $2 OR pic_name = $1", {std::string("없음"), sly}, "1"},
        {"SELECT $1 + 1", {41LL}, "42"},
        {"SELECT count(*) FROM pic_list WHERE pic = $1", {Bytes{0, 1, 2, 0, 255}}, "1"},
    };
    for (const auto& r : reads) {
        Recordset rs = db.OpenRecordset(r.sql, dbOpenSnapshot, r.params);
        ASSERT_FALSE(rs.EOF_()) << r.sql;
        EXPECT_EQ(TextOf(rs.Fields(0).Value()), r.want) << r.sql;
        rs.Close();
    }
    {
        Recordset rs = db.OpenRecordset("SELECT pic FROM pic_list WHERE pic_name = $1", dbOpenSnapshot, {sly});
        EXPECT_EQ(WholeValue(rs.Fields(0)), (Bytes{0, 1, 2, 0, 255}));
        rs.Close();
    }
    EXPECT_THROW(db.Execute("DELETE FROM pic_list WHERE pic_name = $1 OR pic_name = $2", {sly}), Error);
    EXPECT_THROW(db.Execute("DELETE FROM pic_list WHERE pic_name = $1", {sly, std::string("널")}), Error);
    EXPECT_THROW(db.OpenRecordset("pic_list", dbOpenTable, {sly}), Error);
    EXPECT_EQ(book->Count("pic_list"), 2);
}

// The one condition written as text, the save's own, matches exactly the
// rows stored under its name, byte for byte: expected counts come from the
// names as inserted by the kind's own client, not from the condition.
TEST_P(Contract, TheSavesNameConditionMatchesExactlyTheRowsOfItsName) {
    EXPECT_EQ(NameCondition("it's"), "WHERE  pic_name = 'it''s'");
    EXPECT_EQ(NameCondition("''"), "WHERE  pic_name = ''''''");
    EXPECT_EQ(NameCondition("a\\'b"), "WHERE  pic_name = 'a\\''b'");
    EXPECT_THROW(NameCondition(std::string("a\0b", 3)), Error);
    const std::vector<std::string> names = {
        "it's", "''", "'", "a\\'b", "a\\", "x' OR '1'='1", "x' OR '1'='1 ", " 도장", "도장", "도장 ", "\xe1\x84\x83\xe1\x85\xa9",
        "50%_off", "50%", "$1", "--", "a;b", "줄\n바꿈", "탭\t", "ABC", "abc", std::string(300, 'q'),
    };
    std::vector<std::pair<std::string, Bytes>> rows;
    for (std::size_t i = 0; i < names.size(); ++i)
        for (std::size_t copy = 0; copy <= i % 3; ++copy) rows.emplace_back(names[i], Bytes{static_cast<std::uint8_t>(i)});
    book->Insert(rows);
    Database db = Open();
    for (const std::string& name : names) {
        const auto want = std::count_if(rows.begin(), rows.end(), [&](const auto& r) { return r.first == name; });
        Recordset rs = db.OpenRecordset("SELECT count(*) FROM pic_list " + NameCondition(name), dbOpenSnapshot);
        EXPECT_EQ(TextOf(rs.Fields(0).Value()), std::to_string(want)) << name;
        rs.Close();
    }
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
    auto rows = book->Pictures();
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
            bool arrived = false;  // a writer that fails before the start must not leave the other waiting
            try {
                Workspace mine = NewWorkspace();
                Database db = mine.OpenDatabase(book->Path());
                const std::string file = dir.File("w" + std::to_string(who) + ".bmp");
                WriteBytes(file, Stamp(who));
                LocalFileSystem files;
                RecordingMessageBox messages;
                arrived = true;
                ++ready;
                while (ready < 2) std::this_thread::yield();
                for (int k = 0; k < 8; ++k)
                    if (!StorePicture(db, name, file, files, messages)) ++failures;
                mine.Close();
            } catch (const Error& e) {
                ADD_FAILURE() << "writer " << who << ": " << e.what();
                ++failures;
                if (!arrived) ++ready;
            }
        };
        std::thread a(writer, 1), b(writer, 2);
        a.join();
        b.join();
        EXPECT_EQ(failures, 0) << name;
        EXPECT_EQ(book->Count("pic_list", std::string("WHERE pic_name = '") + name + "'"), 1) << name;
        const Bytes stored = book->Pictures().at(name);
        EXPECT_TRUE(stored == Stamp(1) || stored == Stamp(2)) << name;
    }
}

// Writes land only with a commit; a statement the engine refuses is an
// Error; a column that is not there is named; closing the database ends its
// recordsets.
TEST_P(Contract, TransactionsErrorsAndClosingBehaveAlike) {
    book->Insert({{"a", Bytes{1}}});
    Database db = Open();
    {
        Transaction t(db);
        db.Execute("DELETE FROM pic_list", dbFailOnError);
    }
    EXPECT_EQ(book->Count("pic_list"), 1);
    {
        Transaction t(db);
        db.Execute("DELETE FROM pic_list", dbFailOnError);
        t.Commit();
    }
    EXPECT_EQ(book->Count("pic_list"), 0);

    EXPECT_THROW(db.Execute("DELETE FROM pic_list WHERE", dbFailOnError), Error);
    EXPECT_THROW(db.Execute("DELETE FROM nowhere", dbFailOnError), Error);
    Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
    const Error missing = ErrorOf([&] { rs.Fields("nope"); });
    EXPECT_EQ(missing.Number(), err::ItemNotFound);
    EXPECT_NE(std::string(missing.what()).find("nope"), std::string::npos) << missing.what();
    db.Close();
    EXPECT_EQ(ErrorOf([&] { rs.RecordCount(); }).Number(), err::ObjectClosed);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Contract, ::testing::Values("sqlite", "pg"),
                         [](const auto& info) { return info.param; });

}  // namespace
