// The window as it comes up: layout, keyboard, the name list, the default
// picture and start-up failures.
#include <QApplication>
#include <algorithm>
#include <filesystem>
#include <QTest>

#include "fixture.h"

namespace {

struct Placement {
    const char* control;  // "" is the client area
    int dpi;
    QRect pixels;
};
void PrintTo(const Placement& p, std::ostream* os) { *os << (*p.control ? p.control : "client") << "@" << p.dpi; }

class Layout : public WindowTest, public ::testing::WithParamInterface<Placement> {};

TEST_P(Layout, TwipsBecomePixelsAtTheScreenResolution) {
    frmPicture w(Services());
    const Placement& p = GetParam();
    ASSERT_EQ(w.logicalDpiX(), 96) << "the offscreen screen is expected at 96 DPI";
    if (p.dpi != 96) w.PlaceControls(p.dpi, p.dpi);
    if (*p.control == '\0') {
        EXPECT_EQ(w.size(), p.pixels.size());
        EXPECT_EQ(w.minimumSize(), w.maximumSize()) << "the client area has a fixed size";
    } else {
        QWidget* c = w.findChild<QWidget*>(p.control);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->geometry(), p.pixels);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Controls, Layout,
    ::testing::Values(Placement{"", 96, {0, 0, 236, 122}}, Placement{"cboName", 96, {8, 12, 69, 21}},
                      Placement{"picName", 96, {8, 36, 69, 69}}, Placement{"cmdClose", 96, {160, 72, 65, 29}},
                      Placement{"cmdSave", 96, {88, 72, 65, 29}}, Placement{"cmdPicture", 96, {88, 40, 137, 29}},
                      // At 144 DPI a twip is a tenth of a pixel; halves round up.
                      Placement{"", 144, {0, 0, 354, 183}}, Placement{"cboName", 144, {12, 18, 104, 32}},
                      Placement{"picName", 144, {12, 54, 103, 103}}, Placement{"cmdClose", 144, {240, 108, 98, 44}},
                      Placement{"cmdSave", 144, {132, 108, 98, 44}},
                      Placement{"cmdPicture", 144, {132, 60, 206, 44}}));

TEST_F(WindowTest, ControlsCarryTheirCaptionsAndKoreanAccessibleNames) {
    frmPicture w(Services());
    EXPECT_EQ(w.windowTitle(), "Kaldoria");
    EXPECT_EQ(Name(w)->currentText(), QString::fromUtf8("도장"));
    EXPECT_TRUE(Name(w)->isEditable());
    const std::pair<const char*, const char*> buttons[] = {
        {"cmdClose", "종  료"}, {"cmdSave", "저  장"}, {"cmdPicture", "도장 이미지 불러오기"}};
    for (const auto& [name, caption] : buttons) {
        SCOPED_TRACE(name);
        QPushButton* b = Button(w, name);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->text(), QString::fromUtf8(caption));
        EXPECT_FALSE(b->text().contains('&')) << "no access keys";
        EXPECT_FALSE(b->autoDefault());
        EXPECT_FALSE(b->isDefault());
    }
    for (const char* name : {"cboName", "picName", "cmdClose", "cmdSave", "cmdPicture"}) {
        SCOPED_TRACE(name);
        QWidget* c = w.findChild<QWidget*>(name);
        ASSERT_NE(c, nullptr);
        // Hangul syllables in both, so a screen reader speaks Korean.
        auto korean = [](const QString& s) {
            return std::any_of(s.begin(), s.end(), [](QChar ch) { return ch.unicode() >= 0xAC00 && ch.unicode() <= 0xD7A3; });
        };
        EXPECT_TRUE(korean(c->accessibleName())) << c->accessibleName().toStdString();
        EXPECT_TRUE(korean(c->accessibleDescription())) << c->accessibleDescription().toStdString();
    }
}

TEST_F(WindowTest, FocusStartsInTheNameBoxAndTabsThroughTheListedOrderBothWays) {
    frmPicture w(Services());
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == Name(w); }));
    const QStringList forward = {"picName", "cmdClose", "cmdSave", "cmdPicture", "cboName"};
    for (const QString& next : forward) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), next);
    }
    const QStringList backward = {"cmdPicture", "cmdSave", "cmdClose", "picName", "cboName"};
    for (const QString& next : backward) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), next);
    }
}

TEST_F(WindowTest, EnterAndEscapePressNothingWhereverTheFocusIs) {
    Insert("도장", BmpBytes(Gradient(30, 20)));
    frmPicture w(Services());
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    const QImage shown = Picture(w)->Picture();
    const auto rows = RawRows(db);
    Name(w)->setEditText("새 이름");
    for (const char* name : {"cboName", "picName", "cmdClose", "cmdSave", "cmdPicture"}) {
        SCOPED_TRACE(name);
        QWidget* c = w.findChild<QWidget*>(name);
        c->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return c->hasFocus(); }));
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(c, key);
            EXPECT_TRUE(w.isVisible());
        }
    }
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(dialog.opened, 0);
    EXPECT_EQ(Items(Name(w)), QStringList{QString::fromUtf8("도장")}) << "Enter adds nothing to the list";
    EXPECT_EQ(Picture(w)->Picture(), shown);
    EXPECT_EQ(RawRows(db), rows);
}

TEST_F(WindowTest, NameListHoldsEveryRowInOrderWithNullAsEmptyAndDuplicatesKept) {
    const Bytes stamp = BmpBytes(Gradient(30, 20));
    Insert("김철수", BmpBytes(Solid(4, 4, Qt::red)));
    RawInsert(db, nullptr, BmpBytes(Solid(4, 4, Qt::green)));
    Insert("도장", stamp);
    Insert("  김철수 ", BmpBytes(Solid(4, 4, Qt::blue)));
    Insert("김철수", BmpBytes(Solid(4, 4, Qt::red)));
    frmPicture w(Services());
    ASSERT_TRUE(w.Loaded());
    EXPECT_EQ(Items(Name(w)), (QStringList{"김철수", "", "도장", "  김철수 ", "김철수"}));
    EXPECT_EQ(Name(w)->currentText(), QString::fromUtf8("도장")) << "filling the list keeps the text";
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(Picture(w)->Picture().convertToFormat(QImage::Format_RGB32), Gradient(30, 20));
    EXPECT_EQ(ReadBytes(transfer), stamp);
}

TEST_F(WindowTest, LeftoverTransferFileIsReplacedByTheDefaultPicture) {
    WriteBytes(transfer, PatternBytes(100000));
    const Bytes stamp = BmpBytes(Gradient(80, 90));
    Insert("도장", stamp);
    frmPicture w(Services());
    ASSERT_TRUE(w.Loaded());
    EXPECT_EQ(ReadBytes(transfer), stamp) << "the transfer file holds exactly the stored bytes and stays";
    EXPECT_EQ(Picture(w)->Picture().convertToFormat(QImage::Format_RGB32), Gradient(80, 90));
}

TEST_F(WindowTest, FirstOfTwoDefaultRowsIsShownAndBothAreListed) {
    Insert("도장", BmpBytes(Solid(5, 5, Qt::red)));
    Insert("도장", BmpBytes(Solid(5, 5, Qt::blue)));
    frmPicture w(Services());
    EXPECT_EQ(Items(Name(w)), (QStringList{"도장", "도장"}));
    EXPECT_EQ(Picture(w)->Picture().pixelColor(0, 0), QColor(Qt::red));
}

TEST_F(WindowTest, NoDefaultRowIsReportedOnceAndTheWindowStillOpens) {
    for (bool otherRows : {false, true}) {
        SCOPED_TRACE(otherRows ? "other names only" : "empty table");
        if (otherRows) Insert("도장 ", BmpBytes(Solid(5, 5, Qt::red)));
        messages.shown.clear();
        frmPicture w(Services());
        EXPECT_TRUE(w.Loaded());
        EXPECT_EQ(messages.shown, (decltype(messages.shown){{"데이타베이스에 찾는 파일이 없습니다.", vbOKOnly}}));
        EXPECT_EQ(Name(w)->count(), otherRows ? 1 : 0);
        EXPECT_TRUE(Picture(w)->Picture().isNull());
        EXPECT_FALSE(std::filesystem::exists(transfer));
    }
}

class StartUpFailures;
struct StartFailure {
    const char* label;
    std::function<void(StartUpFailures&)> arrange;
    ErrorReport report;
};
void PrintTo(const StartFailure& f, std::ostream* os) { *os << f.label; }

class StartUpFailures : public WindowTest, public ::testing::WithParamInterface<StartFailure> {
public:
    void InsertDefault(const Bytes& pic) { Insert("도장", pic); }
    const std::string& Db() const { return db; }
    const std::string& Transfer() const { return transfer; }
    FaultyFileSystem& Files() { return files; }
};

TEST_P(StartUpFailures, AreReportedWithNumberAndDescriptionAndEndTheStart) {
    GetParam().arrange(*this);
    frmPicture w(Services());
    EXPECT_FALSE(w.Loaded());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(IsErrorReport(messages.shown[0], GetParam().report));
    EXPECT_NE(messages.shown[0].first.find("오류가 발생했습니다."), std::string::npos);
    EXPECT_FALSE(w.isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Window, StartUpFailures,
    ::testing::Values(
        StartFailure{"StoredDefaultIsNoPicture", [](StartUpFailures& t) { t.InsertDefault(PatternBytes(5000)); },
                     {err::InvalidPicture, "temp.bmp"}},
        StartFailure{"LeftoverTransferFileCannotBeDeleted",
                     [](StartUpFailures& t) {
                         t.InsertDefault(BmpBytes(Solid(3, 3, Qt::red)));
                         WriteBytes(t.Transfer(), {1, 2, 3});
                         t.Files().undeletable = t.Transfer();
                     },
                     {err::PermissionDenied, "temp.bmp"}}));

}  // namespace
