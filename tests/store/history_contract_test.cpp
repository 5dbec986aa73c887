// The history a book keeps of itself, and the keeper's delete, rename,
// restore and prune, held by both kinds of book: the same test bodies run on
// a local SQLite file and on pic_list of a throwaway PostgreSQL server. Each
// book holds a thousand real-size stamps (64×64 bitmaps of 12,342 bytes) and
// three thousand versions, left by another program's own DELETE statements
// (the sqlite3 shell's, psql's), and every count and byte is read back
// around the engine, as that program would read it.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <memory>
#include <thread>

#include "../pg/book_kinds.h"
#include "engine/sqlite/backup.h"
#include "engine/sqlite/link_file.h"
#include "engine/workspace/workspace.h"
#include "migration/jet_migrate.h"
#include "os/byte_order.h"
#include "store/history.h"
#include "os/leftovers.h"
#include "store/keeper.h"
#include "store/picture_table.h"
#include "store/save.h"
#include "support.h"

namespace {

constexpr int kStamps = 1000;
constexpr int kRounds = 3;  // versions left per name by the fixture

std::string Name(int i) {
    const std::string n = std::to_string(i);
    return "도장" + std::string(4 - n.size(), '0') + n;
}

// A 64×64 24-bit bitmap (12,342 bytes), different for every stamp and round.
Bytes Stamp(int i, int round) {
    Bytes b = {'B', 'M'};
    for (std::uint32_t v : {54u + 64 * 64 * 3, 0u, 54u, 40u, 64u, 64u}) AppendLittle(b, v);
    AppendLittle(b, std::uint16_t{1}), AppendLittle(b, std::uint16_t{24});
    for (std::uint32_t v : {0u, 64u * 64 * 3, 2835u, 2835u, 0u, 0u}) AppendLittle(b, v);
    const Bytes pixels = PatternBytes(64 * 64 * 3, static_cast<unsigned>(i * 7 + round * 100003 + 1));
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

std::string Hex(const Bytes& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string hex;
    for (std::uint8_t c : bytes) hex += {digits[c >> 4], digits[c & 15]};
    return hex;
}

class History : public ::testing::TestWithParam<std::string> {
protected:
    TempDir dir;
    std::unique_ptr<Book> book;
    Workspace ws = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
    Database db;

    bool Server() const { return GetParam() == "pg"; }

    // A thousand stamps given a history, then replaced three times over by
    // another program's DELETE and INSERT: three thousand versions.
    void SetUp() override {
        book = MakeBook(GetParam(), dir);
        if (!book) GTEST_SKIP() << PgServer::NotFound() << ": server tests skipped";
        db = ws.OpenDatabase(book->Path());
        if (WithHistory()) {
            ASSERT_TRUE(EnableHistory(db));
        }
        for (int round = 0; round <= kRounds; ++round) {
            if (round > 0) book->Sql("DELETE FROM pic_list");
            std::vector<std::pair<std::string, Bytes>> rows;
            for (int i = 0; i < kStamps; ++i) rows.emplace_back(Name(i), Stamp(i, round));
            book->Insert(rows);
        }
    }
    void TearDown() override { ws.Close(); }
    virtual bool WithHistory() const { return true; }

    // The hex of every current row of `name`, and of its kept versions,
    // oldest first: the name bound by the kind's own client, so a fault in
    // how the product writes names into statements cannot agree with itself.
    std::vector<std::string> Current(const std::string& name) {
        return book->Rows("SELECT " + book->HexOf("pic") + " FROM pic_list WHERE pic_name = $1", {name});
    }
    std::vector<std::string> Kept(const std::string& name) {
        return book->Rows("SELECT " + book->HexOf("pic") + " FROM pic_history WHERE pic_name = $1 ORDER BY id", {name});
    }
    std::vector<std::string> Hexes(std::initializer_list<Bytes> all) {
        std::vector<std::string> out;
        for (const Bytes& b : all) out.push_back(Hex(b));
        return out;
    }
    void StoreBytes(const std::string& name, const Bytes& bytes) {
        WriteBytes(dir.File("temp.bmp"), bytes);
        LocalFileSystem files;
        RecordingMessageBox messages;
        ASSERT_TRUE(StorePicture(db, name, dir.File("temp.bmp"), files, messages));
    }
};

// Another program's statements are kept too: every DELETE of the fixture
// left its row, and an UPDATE of a name or a picture leaves the row it had.
TEST_P(History, AnotherProgramsDeleteAndUpdateAreKept) {
    EXPECT_EQ(book->Count("pic_list"), kStamps);
    EXPECT_EQ(book->Count("pic_history"), kStamps * kRounds);
    EXPECT_EQ(Kept(Name(123)), Hexes({Stamp(123, 0), Stamp(123, 1), Stamp(123, 2)}));
    book->Sql("UPDATE pic_list SET pic_name = '다른' WHERE pic_name = $1", {Name(5)});
    EXPECT_EQ(Kept(Name(5)).back(), Hex(Stamp(5, 3)));
    EXPECT_EQ(book->Count("pic_history"), kStamps * kRounds + 1);
    // Each version says when it left and, on a server, who removed it from where.
    const auto versions = ListVersions(db, Name(5));
    ASSERT_EQ(versions.size(), 4u);
    EXPECT_EQ(versions.back().leftAtUtc.size(), 19u) << versions.back().leftAtUtc;
#ifdef _WIN32
    // The Windows build reaches its server over TCP (pg_server_wine.cpp): the address comes too.
    EXPECT_EQ(versions.back().who, Server() ? "postgres@127.0.0.1" : "");
#else
    EXPECT_EQ(versions.back().who, Server() ? "postgres" : "");  // a Unix socket has no address
#endif
}

// The window's save replacing a stamp keeps the row it replaced, and only it.
TEST_P(History, ReplacingSaveKeepsTheRowItReplaced) {
    StoreBytes(Name(500), Stamp(500, 9));
    EXPECT_EQ(Current(Name(500)), Hexes({Stamp(500, 9)}));
    EXPECT_EQ(book->Count("pic_list"), kStamps);
    EXPECT_EQ(book->Count("pic_history"), kStamps * kRounds + 1);
    EXPECT_EQ(Kept(Name(500)), Hexes({Stamp(500, 0), Stamp(500, 1), Stamp(500, 2), Stamp(500, 3)}));
    // A save under a new name replaces nothing and keeps nothing.
    StoreBytes("새 도장", Stamp(1, 9));
    EXPECT_EQ(book->Count("pic_history"), kStamps * kRounds + 1);
}

// A picture beyond the engine's bound is still stored in place (the history
// puts no INSERT trigger on pic_list); replacing it keeps its size, not its
// bytes, and it cannot be restored.
TEST_P(History, PictureTooLargeToKeepIsStoredAndReplacedButOnlyItsSizeKept) {
    const Bytes large = PatternBytes(kWholeValueLimit + 1, 77);
    StoreBytes("큰 도장", large);
    EXPECT_EQ(CountUnkeptRows(db, "큰 도장"), 1);
    StoreBytes("큰 도장", Stamp(1, 9));
    EXPECT_EQ(Current("큰 도장"), Hexes({Stamp(1, 9)}));
    EXPECT_EQ(book->Rows("SELECT bytes, pic IS NULL FROM pic_history WHERE pic_name = $1", {"큰 도장"}),
              std::vector<std::string>{std::to_string(large.size()) + "\t" + (Server() ? "t" : "1")});
    const auto versions = ListVersions(db, "큰 도장");
    ASSERT_EQ(versions.size(), 1u);
    EXPECT_FALSE(versions[0].kept);
    EXPECT_EQ(ErrorOf([&] { RestoreVersion(db, "큰 도장", std::nullopt); }).Number(), err::InvalidOperation);
    EXPECT_EQ(Current("큰 도장"), Hexes({Stamp(1, 9)}));
}

TEST_P(History, DeleteRemovesEveryRowOfTheNameIntoTheHistory) {
    const std::string tricky = "x' OR '1'='1 ";  // matched as the save matches it, blank included
    book->Insert({{Name(7), Stamp(7, 8)}, {tricky, Stamp(8, 8)}, {"x' OR '1'='1", Stamp(9, 8)}});
    EXPECT_EQ(DeletePictures(db, Name(7)), 2);
    EXPECT_EQ(DeletePictures(db, tricky), 1);
    EXPECT_TRUE(Current(Name(7)).empty());
    EXPECT_EQ(Current("x' OR '1'='1"), Hexes({Stamp(9, 8)}));
    EXPECT_EQ(book->Count("pic_list"), kStamps - 1 + 1);
    EXPECT_EQ(Kept(Name(7)), Hexes({Stamp(7, 0), Stamp(7, 1), Stamp(7, 2), Stamp(7, 3), Stamp(7, 8)}));
    EXPECT_EQ(Kept(tricky), Hexes({Stamp(8, 8)}));
    // A name not there is an error, and nothing changes.
    EXPECT_EQ(ErrorOf([&] { DeletePictures(db, Name(7)); }).Number(), err::ItemNotFound);
    EXPECT_EQ(book->Count("pic_history"), kStamps * kRounds + 3);
}

TEST_P(History, RenameMovesTheRowsAndRefusesATakenNameUnlessReplacing) {
    EXPECT_EQ(RenamePictures(db, Name(1), "새 이름", false), 1);
    EXPECT_TRUE(Current(Name(1)).empty());
    EXPECT_EQ(Current("새 이름"), Hexes({Stamp(1, 3)}));
    EXPECT_EQ(Kept(Name(1)).back(), Hex(Stamp(1, 3)));
    const long kept = book->Count("pic_history");

    EXPECT_EQ(ErrorOf([&] { RenamePictures(db, Name(2), Name(3), false); }).Number(), err::DuplicateKey);
    EXPECT_EQ(Current(Name(2)), Hexes({Stamp(2, 3)}));
    EXPECT_EQ(Current(Name(3)), Hexes({Stamp(3, 3)}));
    EXPECT_EQ(book->Count("pic_history"), kept);

    EXPECT_EQ(RenamePictures(db, Name(2), Name(3), true), 1);
    EXPECT_TRUE(Current(Name(2)).empty());
    EXPECT_EQ(Current(Name(3)), Hexes({Stamp(2, 3)}));
    EXPECT_EQ(Kept(Name(3)).back(), Hex(Stamp(3, 3)));
    EXPECT_EQ(book->Count("pic_history"), kept + 2);
    EXPECT_EQ(book->Count("pic_list"), kStamps - 1);

    EXPECT_EQ(ErrorOf([&] { RenamePictures(db, "없는 이름", "또 다른", false); }).Number(), err::ItemNotFound);
    EXPECT_EQ(ErrorOf([&] { RenamePictures(db, Name(4), Name(4), true); }).Number(), err::InvalidArgument);
    EXPECT_EQ(book->Count("pic_list"), kStamps - 1);
}

TEST_P(History, RestorePutsAVersionBackByteForByte) {
    // The newest version when none is named; the row it replaces is kept in turn.
    const RestoredVersion newest = RestoreVersion(db, Name(10), std::nullopt);
    EXPECT_EQ(newest.replaced, 1);
    EXPECT_EQ(newest.bytes, 12342);
    EXPECT_EQ(Current(Name(10)), Hexes({Stamp(10, 2)}));
    EXPECT_EQ(Kept(Name(10)).back(), Hex(Stamp(10, 3)));
    EXPECT_EQ(book->Count("pic_list"), kStamps);

    const auto versions = ListVersions(db, Name(10));
    ASSERT_EQ(versions.size(), 4u);
    EXPECT_EQ(RestoreVersion(db, Name(10), versions[0].id).id, versions[0].id);
    EXPECT_EQ(Current(Name(10)), Hexes({Stamp(10, 0)}));

    // A version of another name, or none at all, changes nothing.
    const long kept = book->Count("pic_history");
    EXPECT_EQ(ErrorOf([&] { RestoreVersion(db, Name(11), versions[1].id); }).Number(), err::ItemNotFound);
    EXPECT_EQ(ErrorOf([&] { RestoreVersion(db, "새 이름", std::nullopt); }).Number(), err::ItemNotFound);
    EXPECT_EQ(Current(Name(11)), Hexes({Stamp(11, 3)}));
    EXPECT_EQ(book->Count("pic_history"), kept);
    // A deleted stamp comes back too.
    DeletePictures(db, Name(12));
    RestoreVersion(db, Name(12), std::nullopt);
    EXPECT_EQ(Current(Name(12)), Hexes({Stamp(12, 3)}));
}

TEST_P(History, PruneForgetsOldVersionsAndKeepsTheNewest) {
    // A third of the versions left long ago.
    book->Sql("UPDATE pic_history SET left_at = " + std::string(Server() ? "TIMESTAMPTZ '2020-06-01 00:00:00+00'"
                                                                         : "'2020-06-01 00:00:00'") +
              " WHERE id % 3 = 0");
    const long old = book->Count("pic_history", "WHERE id % 3 = 0");
    EXPECT_EQ(PruneHistory(db, std::string("2020-05-31 23:59:59"), std::nullopt), 0);
    EXPECT_EQ(PruneHistory(db, std::string("2020-06-01 00:00:01"), std::nullopt), old);
    EXPECT_EQ(book->Count("pic_history"), kStamps * kRounds - old);
    EXPECT_EQ(book->Count("pic_history", "WHERE id % 3 = 0"), 0);

    EXPECT_EQ(PruneHistory(db, std::nullopt, 1), book->Count("pic_history") - kStamps);
    EXPECT_EQ(book->Count("pic_history"), kStamps);
    EXPECT_EQ(book->Count("pic_list"), kStamps);
    for (int i : {0, 499, 999}) {
        const auto kept = Kept(Name(i));
        ASSERT_EQ(kept.size(), 1u);
        // The newest that the date left: round 2, unless that one was among the old.
        EXPECT_TRUE(kept[0] == Hex(Stamp(i, 2)) || kept[0] == Hex(Stamp(i, 1))) << i;
    }
    EXPECT_EQ(PruneHistory(db, std::nullopt, 0), kStamps);
    EXPECT_EQ(book->Count("pic_history"), 0);
}

// backup copies the history with the stamps: the local book by the engine's
// online backup, the server's into a new local book.
TEST_P(History, BackupCarriesTheHistory) {
    DeletePictures(db, Name(42));
    const std::string copy = dir.File("copy.mdb");
    if (Server()) EXPECT_EQ(CopyServerToFile(book->Path(), copy).historyVersions, kStamps * kRounds + 1);
    else BackupDatabase(book->Path(), copy);
    const auto copied = [&](const std::string& sql) {
        sqlite3* raw = nullptr;
        sqlite3_open(copy.c_str(), &raw);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(raw, sql.c_str(), -1, &s, nullptr);
        std::vector<std::string> rows;
        while (sqlite3_step(s) == SQLITE_ROW) rows.push_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
        sqlite3_finalize(s);
        sqlite3_close(raw);
        return rows;
    };
    EXPECT_EQ(copied("SELECT hex(pic) FROM pic_history WHERE pic_name = '" + Name(42) + "' ORDER BY id"),
              Hexes({Stamp(42, 0), Stamp(42, 1), Stamp(42, 2), Stamp(42, 3)}));
    EXPECT_EQ(copied("SELECT count(*) FROM pic_history")[0], std::to_string(kStamps * kRounds + 1));
    // Ids, times and who come along, so the copy lists what the book lists.
    Workspace other = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
    Database backup = other.OpenDatabase(copy);
    const auto want = ListVersions(db, std::nullopt), got = ListVersions(backup, std::nullopt);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); i += 97) {
        EXPECT_EQ(got[i].id, want[i].id);
        EXPECT_EQ(got[i].leftAtUtc, want[i].leftAtUtc);
        EXPECT_EQ(got[i].who, want[i].who);
    }
    // The copy keeps its own history going.
    EXPECT_EQ(DeletePictures(backup, Name(43)), 1);
    EXPECT_EQ(copied("SELECT count(*) FROM pic_history")[0], std::to_string(kStamps * kRounds + 2));
    other.Close();
}

// Each way a history can be off, done as another program or a DBA would do
// it: named by HistoryFaults, never reported as keeping, refused by a
// restore that would lose the current stamp, and mended by EnableHistory
// with every version kept.
TEST_P(History, EveryWayItCanBeOffIsNamedAndMendedKeepingTheVersions) {
    const struct {
        const char* sabotage;
        const char* named;
        bool kind;  // true: the server's; false: the local book's
    } ways[] = {
        {"DROP TRIGGER pic_history_delete", "pic_history_delete", false},
        {"DROP TRIGGER pic_history_update", "pic_history_update", false},
        {"ALTER TABLE pic_list DISABLE TRIGGER pic_history_keep", "DISABLE TRIGGER", true},
        {"ALTER TABLE pic_list ENABLE REPLICA TRIGGER pic_history_keep", "ENABLE REPLICA TRIGGER", true},
        {"DROP TRIGGER pic_history_keep ON pic_list", "트리거 pic_history_keep가 없어", true},
        {"CREATE TABLE pic_child () INHERITS (pic_list)", "물려받은 표 pic_child", true},
        {"GRANT EXECUTE ON FUNCTION pic_history_keep() TO PUBLIC", "모든 역할이 부를 수", true},
        {"ALTER FUNCTION pic_history_keep() SET search_path = public, pg_catalog", "pg_catalog보다", true},
        {"DROP TRIGGER pic_history_truncate ON pic_list", "TRUNCATE로 비운 행이", true},
        {"REVOKE ALL ON FUNCTION pic_history_keep_all() FROM PUBLIC; GRANT EXECUTE ON FUNCTION pic_history_keep_all() "
         "TO PUBLIC", "pic_history_keep_all를 모든 역할이", true},
    };
    EXPECT_TRUE(HistoryFaults(db).empty());
    const long versions = book->Count("pic_history");
    for (const auto& way : ways) {
        if (way.kind != Server()) continue;
        book->Sql(way.sabotage);
        const auto faults = HistoryFaults(db);
        ASSERT_FALSE(faults.empty()) << way.sabotage;
        EXPECT_TRUE(std::any_of(faults.begin(), faults.end(),
                                [&](const std::string& f) { return f.find(way.named) != std::string::npos; }))
            << faults[0];
        EXPECT_FALSE(HistoryKeeps(db)) << way.sabotage;
        EXPECT_EQ(ErrorOf([&] { RestoreVersion(db, Name(20), std::nullopt); }).Number(), err::InvalidOperation);
        EXPECT_EQ(Current(Name(20)), Hexes({Stamp(20, 3)}));
        EXPECT_TRUE(EnableHistory(db)) << way.sabotage;
        EXPECT_TRUE(HistoryFaults(db).empty()) << way.sabotage << ": " << HistoryFaults(db).front();
        EXPECT_FALSE(EnableHistory(db));
    }
    EXPECT_EQ(book->Count("pic_history"), versions);
    // Mended, each table of the book keeps again, the inheriting one included.
    book->Sql(Server() ? "INSERT INTO pic_child VALUES ('물려받은 도장', 'x'); DELETE FROM pic_list WHERE pic_name = "
                         "'물려받은 도장'"
                       : "DELETE FROM pic_list WHERE pic_name = '" + Name(21) + "'");
    EXPECT_EQ(book->Count("pic_history"), versions + 1);
    // A server's TRUNCATE keeps every row it empties, as a DELETE would.
    if (Server()) {
        const long rows = book->Count("pic_list");
        book->Sql("TRUNCATE pic_list");
        EXPECT_EQ(book->Count("pic_list"), 0);
        EXPECT_EQ(book->Count("pic_history"), versions + 1 + rows);
        EXPECT_EQ(Kept(Name(22)).back(), Hex(Stamp(22, 3)));
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, History, ::testing::Values("sqlite", "pg"),
                         [](const auto& info) { return info.param; });

// A book without history works as before: nothing is kept, nothing to restore.
class WithoutHistory : public History {
protected:
    bool WithHistory() const override { return false; }
};

TEST_P(WithoutHistory, WorksAsBeforeAndKeepsNothing) {
    EXPECT_FALSE(HasHistory(db));
    StoreBytes(Name(1), Stamp(1, 9));
    EXPECT_EQ(DeletePictures(db, Name(2)), 1);
    EXPECT_EQ(RenamePictures(db, Name(3), "새 이름", false), 1);
    EXPECT_EQ(book->Count("pic_list"), kStamps - 1);
    EXPECT_FALSE(HasHistory(db));
    EXPECT_EQ(CountUnkeptRows(db, Name(1)), 0);
    EXPECT_EQ(ErrorOf([&] { RestoreVersion(db, Name(1), std::nullopt); }).Number(), err::ItemNotFound);
    EXPECT_TRUE(HistoryFaults(db).empty());
    // Given one now, it keeps from then on.
    EXPECT_TRUE(EnableHistory(db));
    EXPECT_FALSE(EnableHistory(db));
    EXPECT_EQ(DeletePictures(db, Name(4)), 1);
    EXPECT_EQ(Kept(Name(4)), Hexes({Stamp(4, 3)}));
}

// A restore waits while another PC's prune holds the versions, and then
// finds what the prune left: here, nothing of that name, so nothing changes
// (before, it removed the stamp and copied nothing back). Driven by the
// prune's open transaction, seen waiting in pg_locks, never by a sleep.
TEST_P(History, RestoreWaitsForAPruneAndThenFindsWhatItLeft) {
    if (!Server()) GTEST_SKIP() << "a local book has one writer at a time: SQLite's lock is the turn";
    Workspace other = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
    Database pruner = other.OpenDatabase(book->Path());
    pruner.BeginTrans();
    pruner.LockKey(std::string(kHistoryTable) + "\nversions");
    pruner.Execute("DELETE FROM pic_history WHERE pic_name = $1", {Name(30)});
    int number = 0;
    std::thread restorer([&] { number = ErrorOf([&] { RestoreVersion(db, Name(30), std::nullopt); }).Number(); });
    const auto waiting = [&] {
        return book->One("SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND NOT granted") != "0";
    };
    for (int polls = 0; !waiting() && polls < 100000; ++polls) std::this_thread::yield();
    EXPECT_TRUE(waiting());
    pruner.CommitTrans();
    restorer.join();
    other.Close();
    EXPECT_EQ(number, err::ItemNotFound);
    EXPECT_EQ(Current(Name(30)), Hexes({Stamp(30, 3)}));
}

// A table that only has the history's name is no history: named, refused,
// and the book's history made anew once it is moved away, its index
// keeping the usual name no more.
TEST_P(WithoutHistory, ATableWithTheHistorysNameIsNoHistory) {
    book->Sql("CREATE TABLE pic_history (note text)");
    ASSERT_EQ(HistoryFaults(db).size(), 1u);
    EXPECT_NE(HistoryFaults(db)[0].find("id, pic_name, pic, bytes, left_at"), std::string::npos) << HistoryFaults(db)[0];
    EXPECT_FALSE(HistoryKeeps(db));
    EXPECT_EQ(ErrorOf([&] { EnableHistory(db); }).Number(), err::InvalidOperation);
    EXPECT_EQ(ErrorOf([&] { RestoreVersion(db, Name(1), std::nullopt); }).Number(), err::ItemNotFound);
    EXPECT_EQ(book->Count("pic_list"), kStamps);
    book->Sql("DROP TABLE pic_history");
    // A history renamed away keeps its index and that index's name.
    EXPECT_TRUE(EnableHistory(db));
    book->Sql("ALTER TABLE pic_history RENAME TO old_history");
    EXPECT_TRUE(EnableHistory(db));
    EXPECT_TRUE(HistoryKeeps(db));
    EXPECT_EQ(DeletePictures(db, Name(4)), 1);
    EXPECT_EQ(Kept(Name(4)), Hexes({Stamp(4, 3)}));
}

INSTANTIATE_TEST_SUITE_P(Kinds, WithoutHistory, ::testing::Values("sqlite", "pg"),
                         [](const auto& info) { return info.param; });

}  // namespace

// A backup starts a watcher; where children are the program started again
// (Windows), it runs here.
int main(int argc, char** argv) {
    if (auto status = RunChildTask(argc, argv, {&LeftoverFiles::WatcherTask()})) return *status;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
