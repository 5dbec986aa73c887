// 도장 관리 on a book of a thousand stamps: the list in Korean order, found by
// initial consonants, a replace that asks first, a restore that can itself
// be undone, a delete that says whether it can be undone, a stamp copied for
// a document. The same bodies run on an SQLite file and on a server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QLineF>
#include <QListView>
#include <QLineEdit>
#include <QMimeData>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include "book_kinds.h"
#include "keeper/book.h"
#include "manager/document_dialog.h"
#include "manager/history_dialog.h"
#include "manager/ledger_dialog.h"
#include "manager/stamp_dialog.h"
#include "os/process.h"
#include "pdf/pdf_document.h"
#include "manager/manager_window.h"
#include "store/history.h"

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

Bytes Encoded(const QImage& image, const char* format) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return Bytes(data.begin(), data.end());
}

QImage Seal(int side, QColor ink) {
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = side / 4; y < side * 3 / 4; ++y)
        for (int x = side / 4; x < side * 3 / 4; ++x) image.setPixelColor(x, y, ink);
    return image;
}

// The names the list must order, as a Korean reader orders them.
const std::vector<std::string> kOrdered = {"결산", "김수현", "도장", "박영희", "회사"};
constexpr int kOthers = 1000;

struct Manager : ::testing::TestWithParam<std::string> {
    TempDir dir;
    std::unique_ptr<Book> book;
    Bytes original = Encoded(Seal(40, Qt::red), "BMP");
    std::vector<QString> told, asked, reported;
    bool answer = true;
    std::unique_ptr<ManagerWindow> window;

    void SetUp() override {
        book = MakeBook(GetParam(), dir);
        if (!book) GTEST_SKIP() << PgServer::NotFound() << ": server tests skipped";
        {
            OpenedDatabase opened(book->Path(), false);
            EnableHistory(opened.db());
        }
        std::vector<std::pair<std::string, Bytes>> rows;
        for (const char* name : {"회사", "도장", "김수현", "박영희", "결산"}) rows.emplace_back(name, original);
        for (int i = 0; i < kOthers; ++i) rows.emplace_back("직원 " + std::to_string(i), original);
        rows.emplace_back("깨진", Bytes{'B', 'M', 1, 2, 3});
        book->Insert(rows);
        window = std::make_unique<ManagerWindow>(book->Path(), Questions());
        Loaded();
    }

    ManagerQuestions Questions() {
        ManagerQuestions q;
        q.confirm = [this](QWidget*, const QString& question) {
            asked.push_back(question);
            return answer;
        };
        q.replace = [this](QWidget*, const QString& name, const QImage& stored, const QString&, const QImage& incoming,
                           const QString&, bool keeps) {
            asked.push_back("replace " + name + (keeps ? " kept" : "") +
                            QString(" %1->%2").arg(stored.width()).arg(incoming.width()));
            return answer;
        };
        q.nameFor = [](QWidget*, const QString&) { return QString("회사"); };
        q.tell = [this](QWidget*, const QString& text, bool failure) {
            (failure ? told : reported).push_back(text);
        };
        q.backupFile = [this](QWidget*, const QString&) { return QString::fromStdString(dir.File("사본.mdb")); };
        return q;
    }

    void Loaded() {
        QSignalSpy loaded(window.get(), &ManagerWindow::Loaded);
        ASSERT_TRUE(loaded.wait(60000));
        ASSERT_TRUE(told.empty()) << told.front().toStdString();
    }

    std::vector<std::string> Shown() const {
        std::vector<std::string> names;
        const QAbstractItemModel* shown = window->View()->model();
        for (int row = 0; row < shown->rowCount(); ++row)
            names.push_back(shown->index(row, 0).data(StampModel::NameRole).toString().toStdString());
        return names;
    }
};

TEST_P(Manager, ListsEveryStampInKoreanOrderAndFindsThemByInitialConsonants) {
    const std::vector<std::string> shown = Shown();
    ASSERT_EQ(shown.size(), kOrdered.size() + kOthers + 1);
    std::vector<std::string> known;
    for (const std::string& name : shown)
        if (std::find(kOrdered.begin(), kOrdered.end(), name) != kOrdered.end()) known.push_back(name);
    EXPECT_EQ(known, kOrdered);
    // Numbers inside names count as numbers: 직원 9 before 직원 10.
    EXPECT_LT(std::find(shown.begin(), shown.end(), "직원 9"), std::find(shown.begin(), shown.end(), "직원 10"));

    // A row's facts come with its thumbnail, when it is first shown; a value
    // that is no picture says why, as check says it.
    const StampModel& model = window->Model();
    for (const char* name : {"깨진", "김수현"}) {
        const QModelIndex row = model.index(model.RowOf(name));
        QSignalSpy read(&model, &QAbstractItemModel::dataChanged);
        row.data(Qt::DecorationRole);
        ASSERT_TRUE(read.wait(30000)) << name;
    }
    EXPECT_TRUE(model.index(model.RowOf("깨진")).data(StampModel::FactsRole).toString().contains("5 바이트 — "));
    EXPECT_EQ(model.index(model.RowOf("김수현")).data(StampModel::FactsRole).toString(), "40×40 BMP, 4,854 바이트");

    const struct {
        const char* typed;
        std::vector<std::string> found;
    } searches[] = {
        {"ㄱㅅ", {"결산", "김수현"}}, {"ㄷㅈ", {"도장"}}, {"수현", {"김수현"}}, {"ㅎㅅ", {"회사"}}, {"ㅈㅇ 99", {"직원 99", "직원 990", "직원 991", "직원 992", "직원 993", "직원 994", "직원 995", "직원 996", "직원 997", "직원 998", "직원 999"}},
    };
    for (const auto& search : searches) {
        window->Search()->setText(QString::fromUtf8(search.typed));
        EXPECT_EQ(Shown(), search.found) << search.typed;
    }
}

TEST_P(Manager, AReplaceAsksFirstAndARestoreCanItselfBeUndone) {
    const std::string scan = dir.File("스캔.png");
    WriteBytes(scan, Encoded(Seal(200, QColor(200, 30, 40)), "PNG"));

    answer = false;  // "취소": the stored stamp stays
    window->AddFiles({QString::fromStdString(scan)});
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], "replace 회사 kept 40->200");
    EXPECT_EQ(book->Pictures()["회사"], original);

    answer = true;
    window->AddFiles({QString::fromStdString(scan)});
    Loaded();
    const Bytes stored = book->Pictures()["회사"];
    const QImage whole = QImage::fromData(QByteArray(reinterpret_cast<const char*>(stored.data()), static_cast<int>(stored.size())));
    EXPECT_EQ(whole.size(), QSize(200, 200));  // the whole scan, never a box's corner
    EXPECT_EQ(whole.pixelColor(100, 100), QColor(200, 30, 40));

    HistoryDialog history(book->Path(), "회사");
    history.confirm = [](const QString&) { return true; };
    history.Reload();
    ASSERT_EQ(history.Table()->rowCount(), 1);
    ASSERT_TRUE(history.RestoreSelected());
    EXPECT_EQ(book->Pictures()["회사"], original);
    ASSERT_EQ(history.Table()->rowCount(), 2);  // the scan it replaced, newest first
    ASSERT_TRUE(history.RestoreSelected());
    EXPECT_EQ(book->Pictures()["회사"], stored);
}

TEST_P(Manager, ADeleteSaysItCanBeUndoneAndACopyIsAPngForDocuments) {
    ASSERT_TRUE(window->Select("박영희"));
    window->DeleteSelected();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0].contains("되살릴 수 있습니다")) << asked[0].toStdString();
    Loaded();
    EXPECT_EQ(book->Pictures().count("박영희"), 0u);
    EXPECT_EQ(Shown().size(), kOrdered.size() - 1 + kOthers + 1);

    DocumentDialog document("도장", Seal(300, Qt::red));
    ASSERT_FALSE(document.Png().isEmpty());
    document.Copy();
    const QMimeData* copied = QApplication::clipboard()->mimeData();
    ASSERT_TRUE(copied->hasFormat("image/png"));
    const QImage png = QImage::fromData(copied->data("image/png"), "PNG");
    EXPECT_TRUE(png.hasAlphaChannel());
    EXPECT_EQ(png.pixelColor(0, 0).alpha(), 0);  // the paper is transparent
    EXPECT_TRUE(copied->hasImage());             // and a plain bitmap for other programs
}

// 문서에 찍기: the seal proposed on the 견적서's "(인)", dragged by the clerk,
// saved as a new PDF where the drag left it, and listed in the ledger view.
TEST_P(Manager, AStampIsPutOnADocumentWhereTheClerkDraggedItAndTheLedgerShowsIt) {
    const QString quotation = KALDORIA_SOURCE_DIR "/tests/data/pdf/quotation.pdf";
    StampDialog dialog(book->Path(), "도장", Seal(40, Qt::red), quotation);
    ASSERT_TRUE(dialog.Ready()) << dialog.Problem().toStdString();
    QFile file(quotation);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QPointF mark = PdfDocument(file.readAll(), "q").Find(2, "(인)").at(0).center();
    EXPECT_EQ(dialog.Page(), 2);
    EXPECT_TRUE(dialog.OnMark());
    EXPECT_LT(QLineF(dialog.CentreMm(), mark).length(), 0.01);

    PageView* view = dialog.View();
    view->resize(560, 760);
    const QPoint grip = view->ToWidget(dialog.CentreMm()).toPoint() + QPoint(3, 2), to = grip + QPoint(-40, 25);
    QTest::mousePress(view, Qt::LeftButton, {}, grip);
    QTest::mouseMove(view, to);
    QTest::mouseRelease(view, Qt::LeftButton, {}, to);
    EXPECT_FALSE(dialog.OnMark());
    EXPECT_LT(QLineF(view->ToWidget(dialog.CentreMm()), QPointF(to - QPoint(3, 2))).length(), 1.0);
    const QPointF dropped = dialog.CentreMm();

    dialog.SetPurpose("계약서 제출");
    const QString out = QString::fromStdString(dir.File("찍은 견적서.pdf"));
    ASSERT_EQ(dialog.StampInto(out), "");
    const LedgerEntry& e = dialog.Result().entry;
    EXPECT_EQ(e.page, 3);
    EXPECT_DOUBLE_EQ(e.xMm, dropped.x());
    EXPECT_DOUBLE_EQ(e.yMm, dropped.y());
    EXPECT_TRUE(QFileInfo::exists(out));
    EXPECT_TRUE(Has(dialog.StampInto(out), "이미 있어")) << "a second save never overwrites";

    LedgerDialog ledger(book->Path());
    ledger.Reload();
    ASSERT_EQ(ledger.Table()->rowCount(), 1);
    EXPECT_EQ(ledger.Table()->item(0, 3)->text(), "도장");
    EXPECT_EQ(ledger.Table()->item(0, 5)->text(), "3");
    EXPECT_EQ(ledger.Table()->item(0, 8)->text(), "계약서 제출");
    EXPECT_TRUE(ledger.Table()->item(0, 2)->text().startsWith(GetParam() == "pg" ? "postgres" : QString::fromStdString(LoginUserName())));

    // A scanned page has no mark in its text: the seal waits in the page's middle.
    StampDialog scan(book->Path(), "도장", Seal(40, Qt::red), KALDORIA_SOURCE_DIR "/tests/data/pdf/scan.pdf");
    ASSERT_TRUE(scan.Ready());
    EXPECT_FALSE(scan.OnMark());
    EXPECT_NEAR(scan.CentreMm().x(), 105, 0.5);
    EXPECT_NEAR(scan.CentreMm().y(), 148.5, 0.5);
}

// The book's tools: a check names the value that is no picture by its stamp
// name, and a backup makes a local copy the engine reads back whole.
TEST_P(Manager, CheckNamesTheBadStampAndBackupCopiesTheBook) {
    window->CheckBook();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !told.empty() || !reported.empty(); }, 60000));
    ASSERT_EQ(told.size(), 1u);  // a value that is no picture is a finding, told as one
    EXPECT_TRUE(told[0].contains("무결성 검사: 이상 없음")) << told[0].toStdString();
    EXPECT_TRUE(told[0].contains("\"깨진\": ")) << told[0].toStdString();
    EXPECT_TRUE(told[0].contains(QString("%1개 가운데 1개").arg(kOrdered.size() + kOthers + 1))) << told[0].toStdString();

    told.clear();
    window->BackupBook();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !told.empty() || !reported.empty(); }, 60000));
    ASSERT_TRUE(told.empty()) << told[0].toStdString();
    EXPECT_TRUE(reported.back().contains("백업하고 검사했습니다")) << reported.back().toStdString();
    EXPECT_EQ(RawRows(dir.File("사본.mdb")).size(), kOrdered.size() + kOthers + 1);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Manager, ::testing::Values("sqlite", "pg"),
                         [](const auto& info) { return info.param; });

}  // namespace
