// The keeper's commands as a user runs them: delete, rename, history,
// restore and prune on a book made by `create`, and on one made by the
// sqlite3 shell; what they print, their exit statuses, and what the shell
// then reads from the book. What the store promises on both kinds of book is
// tested in tests/store/history_contract_test.cpp.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include "../pg/pg_server.h"
#include "run_tool.h"
#include "support.h"

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

Bytes Bitmap(int w, QColor color) {
    QImage image(w, w, QImage::Format_RGB32);
    image.fill(color);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return Bytes(data.begin(), data.end());
}

std::string ShellOut(const std::string& db, const std::string& sql) {
    Outcome r = RunSqliteShell(db, sql);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

class KeeperTool : public ::testing::Test {
protected:
    TempDir dir;
    const std::string db = dir.File("dojang.mdb");

    void SetUp() override { ASSERT_EQ(RunTool({"create", Q(db)}).status, 0); }
    void Import(const std::string& name, const Bytes& picture) {
        WriteBytes(dir.File("in.bmp"), picture);
        Outcome r = RunTool({"import", Q(db), Q(name), Q(dir.File("in.bmp"))});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    Bytes Exported(const std::string& name) {
        const std::string out = dir.File("out-" + std::to_string(++exports_) + ".bmp");
        Outcome r = RunTool({"export", Q(db), Q(name), Q(out)});
        EXPECT_EQ(r.status, 0) << r.err;
        return ReadBytes(out);
    }

private:
    int exports_ = 0;
};

// A wrong replace undone: the stamp saved over comes back byte for byte, and
// the one that replaced it is kept in turn.
TEST_F(KeeperTool, AReplacedStampIsListedAndRestoredByteForByte) {
    const Bytes seal = Bitmap(64, Qt::red), wrong = Bitmap(48, Qt::blue);
    Import("회사", seal);
    Import("회사", wrong);
    Outcome listed = RunTool({"history", Q(db), "회사"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_TRUE(Has(listed.out, "버전 1\t\"회사\"\t" + std::to_string(seal.size()) + " 바이트\t")) << listed.out;
    EXPECT_TRUE(Has(listed.out, "버전 1개")) << listed.out;

    Outcome restored = RunTool({"restore", Q(db), "회사"});
    ASSERT_EQ(restored.status, 0) << restored.err;
    EXPECT_TRUE(Has(restored.out, "\"회사\"를 버전 1(")) << restored.out;
    EXPECT_EQ(Exported("회사"), seal);
    EXPECT_EQ(ShellOut(db, "SELECT count(*) FROM pic_list"), "1\n");
    // The undone replace is itself a version, and can be restored by its number.
    ASSERT_EQ(RunTool({"restore", Q(db), "회사", "2"}).status, 0);
    EXPECT_EQ(Exported("회사"), wrong);
    EXPECT_EQ(ShellOut(db, "SELECT count(*) FROM pic_history"), "3\n");
}

// Rows removed by the sqlite3 shell are kept by the book itself.
TEST_F(KeeperTool, TheShellsDeleteIsRecordedAndCanBeUndone) {
    const Bytes seal = Bitmap(32, Qt::darkRed);
    Import("직인", seal);
    ShellOut(db, "DELETE FROM pic_list");
    Outcome listed = RunTool({"history", Q(db)});
    EXPECT_TRUE(Has(listed.out, "\"직인\"\t" + std::to_string(seal.size()) + " 바이트")) << listed.out;
    ASSERT_EQ(RunTool({"restore", Q(db), "직인"}).status, 0);
    EXPECT_EQ(Exported("직인"), seal);
}

TEST_F(KeeperTool, DeleteRenameAndPruneSayWhatTheyDid) {
    Import("가", Bitmap(16, Qt::red));
    Import("나", Bitmap(17, Qt::green));
    Outcome deleted = RunTool({"delete", Q(db), "가"});
    EXPECT_EQ(deleted.status, 0) << deleted.err;
    EXPECT_EQ(deleted.out, "\"가\"를 지웠습니다 (도장 1개); 기록에 남아 있어 되돌릴 수 있습니다.\n");
    Outcome renamed = RunTool({"rename", Q(db), "나", "다"});
    EXPECT_EQ(renamed.status, 0) << renamed.err;
    EXPECT_EQ(renamed.out, "\"나\"를 \"다\"로 바꾸었습니다 (도장 1개).\n");
    EXPECT_EQ(ShellOut(db, "SELECT pic_name FROM pic_list"), "다\n");
    const struct {
        QStringList rule;
        std::string said;
    } prunes[] = {
        {{"--before", "2000-01-01"}, "기록에서 버전 0개를 잊었습니다 (남은 버전 2개).\n"},
        {{"--keep", "1"}, "기록에서 버전 0개를 잊었습니다 (남은 버전 2개).\n"},  // one version of each name
        {{"--before", "2999-12-31 23:59", "--keep", "5"}, "기록에서 버전 2개를 잊었습니다 (남은 버전 0개).\n"},
    };
    for (const auto& p : prunes) {
        Outcome pruned = RunTool(QStringList{"prune", Q(db)} + p.rule);
        EXPECT_EQ(pruned.status, 0) << pruned.err;
        EXPECT_EQ(pruned.out, p.said) << p.rule.join(' ').toStdString();
    }
    EXPECT_EQ(ShellOut(db, "SELECT count(*) FROM pic_history"), "0\n");
}

// Each refusal: its status, its message, and the book unchanged.
TEST_F(KeeperTool, RefusalsChangeNothing) {
    Import("가", Bitmap(16, Qt::red));
    Import("나", Bitmap(17, Qt::green));
    const struct {
        const char* what;
        QStringList args;
        int status;
        std::string message;
    } rows[] = {
        {"delete of a name not there", {"delete", Q(db), "없음"}, 1, "이름이 \"없음\"인 도장이 없습니다"},
        {"delete of a blank name", {"delete", Q(db), "\u3000"}, 1, "이름을 입력해 주십시요."},
        {"rename onto a taken name", {"rename", Q(db), "가", "나"}, 1, "--replace를 붙이십시오"},
        {"rename of a name not there", {"rename", Q(db), "없음", "다"}, 1, "이름이 \"없음\"인 도장이 없습니다"},
        {"rename to a blank name", {"rename", Q(db), "가", " "}, 1, "이름을 입력해 주십시요."},
        {"restore of a name never replaced", {"restore", Q(db), "가"}, 1, "보관된 버전이 없습니다"},
        {"restore of a version that is no number", {"restore", Q(db), "가", "x"}, 1, "버전 번호가 아닙니다"},
        {"restore of a negative version", {"restore", Q(db), "가", "-1"}, 1, "버전 번호가 아닙니다"},
        {"prune without a rule", {"prune", Q(db)}, 2, "--before나 --keep"},
        {"prune before no date", {"prune", Q(db), "--before", "2026-02-30"}, 1, "날짜가 아닙니다"},
        {"prune before a year of two digits", {"prune", Q(db), "--before", "26-01-31"}, 1, "날짜가 아닙니다"},
        {"prune keeping a negative count", {"prune", Q(db), "--keep", "-1"}, 1, "0 이상의 정수가 아닙니다"},
    };
    const std::string before = ShellOut(db, "SELECT pic_name, hex(pic) FROM pic_list ORDER BY rowid");
    for (const auto& row : rows) {
        Outcome r = RunTool(row.args);
        EXPECT_EQ(r.status, row.status) << row.what << "\n" << r.err;
        EXPECT_TRUE(Has(r.err, row.message)) << row.what << "\n" << r.err;
    }
    EXPECT_EQ(ShellOut(db, "SELECT pic_name, hex(pic) FROM pic_list ORDER BY rowid"), before);
    EXPECT_EQ(ShellOut(db, "SELECT count(*) FROM pic_history"), "0\n");
    Outcome replaced = RunTool({"rename", Q(db), "가", "나", "--replace"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(ShellOut(db, "SELECT pic_name FROM pic_list"), "나\n");
}

// A book made by hand has no history until it is given one; it works as before.
TEST_F(KeeperTool, ABookWithoutHistoryIsGivenOneByOneCommand) {
    const std::string bare = dir.File("bare.mdb");
    MakePictureDb(bare);
    const std::string first = "가";
    RawInsert(bare, &first, Bitmap(16, Qt::red));
    Outcome none = RunTool({"history", Q(bare)});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(Has(none.err, "기록(pic_history)이 없습니다")) << none.err;
    EXPECT_TRUE(Has(none.err, "--enable")) << none.err;
    ASSERT_EQ(RunTool({"delete", Q(bare), "가"}).status, 0);

    Outcome enabled = RunTool({"history", Q(bare), "--enable"});
    EXPECT_EQ(enabled.status, 0) << enabled.err;
    EXPECT_TRUE(Has(enabled.out, "기록을 켰습니다")) << enabled.out;
    EXPECT_TRUE(Has(RunTool({"history", Q(bare), "--enable"}).out, "이미 기록이 있고"));
    WriteBytes(dir.File("in.bmp"), Bitmap(20, Qt::blue));
    ASSERT_EQ(RunTool({"import", Q(bare), "나", Q(dir.File("in.bmp"))}).status, 0);
    ShellOut(bare, "DELETE FROM pic_list");
    EXPECT_TRUE(Has(RunTool({"history", Q(bare)}).out, "버전 1개"));
}

// check reads every kept version as a picture and names those that are not.
TEST_F(KeeperTool, CheckNamesAKeptVersionThatIsNoPicture) {
    Import("가", Bitmap(16, Qt::red));
    Outcome sound = RunTool({"check", Q(db)});
    EXPECT_EQ(sound.status, 0) << sound.out << sound.err;
    ShellOut(db, "INSERT INTO pic_list VALUES ('나', x'00010203'); DELETE FROM pic_list WHERE pic_name = '나'");
    Outcome found = RunTool({"check", Q(db)});
    EXPECT_EQ(found.status, 4) << found.out << found.err;
    EXPECT_TRUE(Has(found.out, "기록의 버전 1 \"나\": ")) << found.out;
    EXPECT_TRUE(Has(found.out, "기록 검사: 버전 1개 가운데 1개는 읽을 수 있는 그림이 아닙니다")) << found.out;
    // A trigger dropped by hand is reported: nothing would be kept.
    ShellOut(db, "DELETE FROM pic_history; DROP TRIGGER pic_history_delete");
    Outcome missing = RunTool({"check", Q(db)});
    EXPECT_EQ(missing.status, 1) << missing.out << missing.err;
    EXPECT_TRUE(Has(missing.err, "pic_history_delete")) << missing.err;
}

// On a linked book: link makes the history; a clerk's role with rights on
// pic_list only is recorded by name when its save replaces a stamp; the
// stamp comes back byte for byte, and backup carries the versions.
TEST_F(KeeperTool, ALinkedBookKeepsWhichRoleReplacedAStamp) {
    if (PgServer::BinDir().empty()) GTEST_SKIP() << PgServer::NotFound() << ": server test skipped";
    PgServer server(dir.File("pg"));
    const std::string office = dir.File("office.mdb"), clerkBook = dir.File("clerk.mdb");
    Outcome linked = RunTool({"link", Q(office), Q(server.Conninfo())});
    ASSERT_EQ(linked.status, 0) << linked.err;
    EXPECT_TRUE(Has(linked.out, "표 pic_list와 그 기록 pic_history를 새로 만들었습니다")) << linked.out;
    server.Sql("CREATE ROLE clerk LOGIN; GRANT SELECT, INSERT, DELETE ON pic_list TO clerk");
    Outcome second = RunTool({"link", Q(clerkBook), Q(server.Conninfo("clerk"))});
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_TRUE(Has(second.out, "(행 0개, 기록 있음)")) << second.out;

    const Bytes seal = Bitmap(64, Qt::red), wrong = Bitmap(40, Qt::blue);
    WriteBytes(dir.File("seal.bmp"), seal);
    WriteBytes(dir.File("wrong.bmp"), wrong);
    ASSERT_EQ(RunTool({"import", Q(office), "회사", Q(dir.File("seal.bmp"))}).status, 0);
    Outcome replaced = RunTool({"import", Q(clerkBook), "회사", Q(dir.File("wrong.bmp"))});
    ASSERT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(server.Query("SELECT left_by FROM pic_history"), "clerk");

    Outcome listed = RunTool({"history", Q(office), "회사"});
    EXPECT_TRUE(Has(listed.out, "\"회사\"\t" + std::to_string(seal.size()) + " 바이트\t")) << listed.out;
#ifdef _WIN32  // reached over TCP (pg_server_wine.cpp): the address is shown too
    EXPECT_TRUE(Has(listed.out, "\tclerk@127.0.0.1\n")) << listed.out;
#else
    EXPECT_TRUE(Has(listed.out, "\tclerk\n")) << listed.out;
#endif
    ASSERT_EQ(RunTool({"restore", Q(office), "회사"}).status, 0);
    ASSERT_EQ(RunTool({"export", Q(office), "회사", Q(dir.File("back.bmp"))}).status, 0);
    EXPECT_EQ(ReadBytes(dir.File("back.bmp")), seal);
    Outcome backup = RunTool({"backup", Q(office), Q(dir.File("copy.mdb"))});
    EXPECT_EQ(backup.status, 0) << backup.err;
    EXPECT_TRUE(Has(backup.out, "기록의 버전 2개")) << backup.out;
    // The clerk, who may not read the history, still checks and backs up the stamps.
    Outcome checked = RunTool({"check", Q(clerkBook)});
    EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
    EXPECT_TRUE(Has(checked.out, "기록(pic_history)을 읽을 권한이 없어")) << checked.out;
    Outcome clerkCopy = RunTool({"backup", Q(clerkBook), Q(dir.File("clerk-copy.mdb"))});
    EXPECT_EQ(clerkCopy.status, 0) << clerkCopy.err;
    EXPECT_TRUE(Has(clerkCopy.err, "기록은 백업하지 않았습니다")) << clerkCopy.err;
}

}  // namespace
