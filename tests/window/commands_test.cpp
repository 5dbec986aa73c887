// The three commands: open picture, save and close.
#include <QApplication>
#include <QTest>
#include <sys/stat.h>

#include <filesystem>

#include "fixture.h"

namespace {

using Rows = std::vector<std::pair<std::string, Bytes>>;
using Shown = std::vector<std::pair<std::string, int>>;
const char* const kSaved = "   저장 되었습니다.  ";

class Commands : public WindowTest {
protected:
    const Bytes stamp = BmpBytes(Gradient(30, 20));
    void SetUp() override {
        WindowTest::SetUp();
        Insert("도장", stamp);
    }
    // Clicks the button as a user would and returns what was shown meanwhile.
    Shown Click(frmPicture& w, const char* button) {
        messages.shown.clear();
        QTest::mouseClick(Button(w, button), Qt::LeftButton);
        return messages.shown;
    }
    Shown Save(frmPicture& w, const QString& name) {
        Name(w)->setEditText(name);
        return Click(w, "cmdSave");
    }
    std::string WriteBmp(const char* file, const QImage& image) {
        WriteBytes(dir.File(file), BmpBytes(image));
        return dir.File(file);
    }
    static QColor Background(frmPicture& w) { return Picture(w)->palette().color(QPalette::Base); }
};

TEST_F(Commands, BlankNamesAreRefusedWithFocusBackAndNothingTouched) {
    frmPicture w(Services());
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    WriteBytes(transfer, {7, 7, 7});
    const Rows before = RawRows(db);
    // Blanks a Korean keyboard types too: tab, no-break space, ideographic space, the Hangul filler.
    for (const char* name : {"", " ", "   ", "\t", "\u00a0", " \u3000\t", "\u3164"}) {
        SCOPED_TRACE(std::string("'") + name + "'");
        Button(w, "cmdPicture")->setFocus();
        files.calls.clear();
        EXPECT_EQ(Save(w, name), (Shown{{"이름을 입력해 주십시요.", vbCritical}}));
        EXPECT_TRUE(QTest::qWaitFor([&] { return Name(w)->hasFocus(); }));
        EXPECT_TRUE(files.calls.empty()) << "no file is looked at";
    }
    EXPECT_EQ(ReadBytes(transfer), (Bytes{7, 7, 7}));
    EXPECT_EQ(RawRows(db), before);
}

// The window hands the save exactly the name in the box, typed or picked
// from the list: untrimmed, quotes and all, longer than the edit's default
// limit of 32767; one holding a NUL, which no statement can remove, is
// refused with the whole name shown. Which rows a save replaces is the
// store's table (save_contract.h), not tested again here.
TEST_F(Commands, TheNameInTheBoxReachesTheSaveExactly) {
    const std::string longName(40000, 'L'), nul("a\0b", 3);
    Insert(longName, stamp);
    Insert(nul, stamp);
    frmPicture w(Services());
    const QStringList list = Items(Name(w));
    for (const std::string typed : {" 도장", "도장  ", "x' OR '1'='1"}) {
        SCOPED_TRACE(typed);
        const QString name = QString::fromStdString(typed);
        EXPECT_EQ(Save(w, name), (Shown{{kSaved, vbOKOnly}}));
        EXPECT_EQ(Items(Name(w)), list) << "a saved name is listed only from the next start";
        EXPECT_EQ(Name(w)->currentText(), name);
        EXPECT_EQ(RawRows(db).back(), std::make_pair(typed, ReadBytes(transfer)));
    }

    Name(w)->setCurrentIndex(1);
    EXPECT_EQ(Click(w, "cmdSave"), (Shown{{kSaved, vbOKOnly}}));
    EXPECT_EQ(RawRows(db).back(), std::make_pair(longName, ReadBytes(transfer)));

    Name(w)->setCurrentIndex(2);
    const Rows kept = RawRows(db);
    const Shown shown = Click(w, "cmdSave");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(IsErrorReport(shown[0], {err::InvalidArgument, "\"a\\x00b\""}));
    EXPECT_EQ(RawRows(db), kept);
}

TEST_F(Commands, StoredBytesAreABitmapOfTheInnerAreaAsShown) {
    struct Case {
        const char* label;
        QImage loaded;  // null: the box left empty
    };
    const Case cases[] = {{"smaller picture", Gradient(20, 10)},
                          {"larger picture is cut to the box", Gradient(300, 200)},
                          {"empty box stores the background", QImage()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RawSql(db, "DELETE FROM pic_list");
        messages.shown.clear();
        frmPicture w(Services());
        if (!c.loaded.isNull()) w.LoadPictureFile(WriteBmp("chosen.bmp", c.loaded));
        EXPECT_EQ(Save(w, "도장"), (Shown{{kSaved, vbOKOnly}}));
        const Rows rows = RawRows(db);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].second, ReadBytes(transfer)) << "the transfer file holds the stored bytes";
        const QImage stored = Decode(rows[0].second);
        const QRect inner = Picture(w)->contentsRect();
        ASSERT_EQ(stored.size(), inner.size());
        // The background of text fields, not the face colour of the other controls.
        ASSERT_NE(Background(w), w.palette().color(QPalette::Window));
        EXPECT_EQ(stored, Picture(w)->Image().convertToFormat(QImage::Format_RGB32));
        for (int y = 0; y < stored.height(); ++y)
            for (int x = 0; x < stored.width(); ++x) {
                const bool covered = x < c.loaded.width() && y < c.loaded.height();
                const QColor want = covered ? c.loaded.pixelColor(x, y) : Background(w);
                if (stored.pixelColor(x, y) != want) {
                    ADD_FAILURE() << "pixel " << x << "," << y;
                    return;
                }
            }
    }
}

struct SaveFault {
    const char* label;
    std::function<void(Commands&, FaultyFileSystem&, FaultyPictureService&, const std::string& db,
                       const std::string& transfer)>
        arrange;
    // Empty: the boundary's report is expected instead.
    Shown messages;
    ErrorReport report;
};
void PrintTo(const SaveFault& f, std::ostream* os) { *os << f.label; }

class SaveFailures : public Commands, public ::testing::WithParamInterface<SaveFault> {};

TEST_P(SaveFailures, KeepEveryEarlierRowAndTheWindowUsable) {
    Insert("홍길동", BmpBytes(Solid(4, 4, Qt::red)));
    Insert("홍길동", BmpBytes(Solid(4, 4, Qt::blue)));
    frmPicture w(Services());
    w.show();
    const Rows before = RawRows(db);
    GetParam().arrange(*this, files, pictures, db, transfer);
    const Shown shown = Save(w, "홍길동");
    if (!GetParam().messages.empty()) {
        EXPECT_EQ(shown, GetParam().messages);
    } else {
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_TRUE(IsErrorReport(shown[0], GetParam().report));
    }
    EXPECT_EQ(RawRows(db), before) << "nothing half-done is left";
    EXPECT_TRUE(w.isVisible());

    // With the fault gone the same window saves.
    files = FaultyFileSystem{};
    pictures.onSave = nullptr;
    RawSql(db, "DROP TRIGGER IF EXISTS refuse");
    EXPECT_EQ(Save(w, "홍길동"), (Shown{{kSaved, vbOKOnly}}));
    const Rows after = RawRows(db);
    EXPECT_EQ(std::count_if(after.begin(), after.end(), [](const auto& r) { return r.first == "홍길동"; }), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Window, SaveFailures,
    ::testing::Values(
        SaveFault{"TransferFileMissing",
                  [](Commands&, FaultyFileSystem& f, FaultyPictureService&, const std::string&,
                     const std::string& t) { f.hidden = t; },
                  {{"파일이 존재하지 않습니다.", vbOKOnly}, {"저장에 실패했습니다.", vbCritical}},
                  {}},
        SaveFault{"EngineRefusesTheRow",
                  [](Commands&, FaultyFileSystem&, FaultyPictureService&, const std::string& db,
                     const std::string&) {
                      RawSql(db, "CREATE TRIGGER refuse BEFORE INSERT ON pic_list BEGIN SELECT RAISE(ABORT, "
                                 "'refused'); END");
                  },
                  {},
                  {err::Engine, "refused"}},  // a trigger's refusal in its own words, never a duplicate key
        SaveFault{"DeviceFailsDuringTheTransfer",
                  [](Commands&, FaultyFileSystem& f, FaultyPictureService&, const std::string&,
                     const std::string& t) {
                      f.failingRead = t;
                      f.readLimit = 0;
                  },
                  {},
                  {err::DeviceIO, "temp.bmp"}},
        SaveFault{"DiskFullWritingThePicture",
                  [](Commands&, FaultyFileSystem&, FaultyPictureService& p, const std::string&,
                     const std::string&) {
                      p.onSave = [](const std::string& path) {
                          throw Error(err::DiskFull, "'" + path + "'에 쓸 자리가 없습니다.");
                      };
                  },
                  {},
                  {err::DiskFull, "temp.bmp"}},
        SaveFault{"OldTransferFileCannotBeDeleted",
                  [](Commands&, FaultyFileSystem& f, FaultyPictureService&, const std::string&,
                     const std::string& t) { f.undeletable = t; },
                  {},
                  {err::PermissionDenied, "temp.bmp"}},
        SaveFault{"ExceptionThatIsNoError",
                  [](Commands&, FaultyFileSystem&, FaultyPictureService& p, const std::string&,
                     const std::string&) { p.onSave = [](const std::string&) { throw std::bad_alloc(); }; },
                  {},
                  {51, "bad_alloc"}}));

TEST_F(Commands, CancelKeepsThePictureAndChoosingChangesNothingElse) {
    frmPicture w(Services());
    const QImage start = Picture(w)->Picture();
    ASSERT_FALSE(start.isNull());
    const std::string chosen = WriteBmp("chosen.bmp", Solid(9, 9, Qt::magenta));
    const Rows rows = RawRows(db);
    Name(w)->setEditText("아무개");

    dialog.answers = {std::nullopt};
    EXPECT_TRUE(Click(w, "cmdPicture").empty());
    EXPECT_EQ(Picture(w)->Picture(), start) << "a first cancel keeps the default picture";

    dialog.answers = {chosen};
    EXPECT_TRUE(Click(w, "cmdPicture").empty());
    EXPECT_EQ(Picture(w)->Picture().pixelColor(0, 0), QColor(Qt::magenta));

    WriteBmp("chosen.bmp", Solid(9, 9, Qt::cyan));
    dialog.answers = {std::nullopt};
    EXPECT_TRUE(Click(w, "cmdPicture").empty());
    EXPECT_EQ(Picture(w)->Picture().pixelColor(0, 0), QColor(Qt::magenta)) << "a later cancel reloads nothing";

    EXPECT_EQ(dialog.filters, (std::vector<std::string>(3, "그림파일|*.bmp")));
    EXPECT_EQ(Name(w)->currentText(), QString::fromUtf8("아무개"));
    EXPECT_EQ(Items(Name(w)), QStringList{QString::fromUtf8("도장")});
    EXPECT_EQ(RawRows(db), rows);
    EXPECT_EQ(ReadBytes(transfer), stamp) << "the transfer file is not touched";
}

TEST_F(Commands, UnreadableChoiceIsReportedByNameAndKeepsThePicture) {
    frmPicture w(Services());
    w.show();
    const QImage start = Picture(w)->Picture();
    WriteBytes(dir.File("notes.bmp"), {'h', 'e', 'l', 'l', 'o'});
    std::filesystem::create_directory(dir.File("folder.bmp"));
    std::vector<std::pair<std::string, int>> choices = {{dir.File("notes.bmp"), err::InvalidPicture},
                                                        {dir.File("gone.bmp"), err::FileNotFound},
                                                        {dir.File("folder.bmp"), err::PathFileAccess}};
#ifndef _WIN32  // Windows has no FIFOs
    // Nothing writes to the FIFO: opening it for reading must not wait for a writer.
    ASSERT_EQ(::mkfifo(dir.File("fifo.bmp").c_str(), 0666), 0);
    choices.insert(choices.begin() + 2, {dir.File("fifo.bmp"), err::PathFileAccess});
#endif
    for (const auto& [path, number] : choices) {
        SCOPED_TRACE(path);
        dialog.answers = {path};
        const Shown shown = Click(w, "cmdPicture");
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_TRUE(IsErrorReport(shown[0], {number, path}));
        EXPECT_EQ(Picture(w)->Picture(), start);
        EXPECT_TRUE(w.isVisible());
    }
    dialog.answers = {WriteBmp("good.bmp", Solid(3, 3, Qt::yellow))};
    EXPECT_TRUE(Click(w, "cmdPicture").empty());
    EXPECT_EQ(Picture(w)->Picture().pixelColor(0, 0), QColor(Qt::yellow));
}

TEST_F(Commands, CloseButtonClosesTheDatabaseButTheFrameDoesNot) {
    // After the close button the connection is gone, so a save run by hand
    // is refused; after closing by the frame the same save still works.
    for (bool byButton : {true, false}) {
        SCOPED_TRACE(byButton ? "close button" : "frame");
        frmPicture w(Services());
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        if (byButton)
            EXPECT_TRUE(Click(w, "cmdClose").empty());
        else
            w.close();
        EXPECT_FALSE(w.isVisible());
        const Shown shown = Save(w, "닫은 뒤");
        if (byButton) {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_TRUE(IsErrorReport(shown[0], {err::ObjectClosed, ""}));
        } else {
            EXPECT_EQ(shown, (Shown{{kSaved, vbOKOnly}}));
        }
    }
}

}  // namespace
