// The ledger of stamped documents, held by both kinds of book: the same
// test bodies on a local SQLite file and on a throwaway PostgreSQL server,
// each book holding a thousand stamps and a ledger of a thousand rows, every
// row read back around the engine by the kind's own client.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QImage>
#include <QPainter>

#include "../pg/book_kinds.h"
#include "engine/workspace/workspace.h"
#include "keeper/backup.h"
#include "keeper/document_stamp.h"
#include "os/process.h"
#include "store/ledger.h"
#include "support.h"

namespace {

constexpr int kStamps = 1000;
constexpr int kRows = 1000;
const std::string kPdfs = KALDORIA_SOURCE_DIR "/tests/data/pdf/";

std::string Name(int i) { return "인감" + std::to_string(i); }

// A red seal on white paper, 96 × 96, its ring's thickness telling stamps apart.
Bytes Seal(int i) {
    QImage image(96, 96, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(QPen(QColor(200, 30, 30), 3 + i % 7));
    painter.drawEllipse(QRect(10, 10, 76, 76));
    painter.drawLine(30, 30 + i % 40, 66, 66);
    painter.end();
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return Bytes(data.begin(), data.end());
}

std::string Sha256(const Bytes& bytes) {
    return QCryptographicHash::hash(QByteArrayView(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

class Ledger : public ::testing::TestWithParam<std::string> {
protected:
    TempDir dir;
    std::unique_ptr<Book> book;
    Workspace ws = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
    Database db;
    std::vector<StampResult> stamped;

    bool Server() const { return GetParam() == "pg"; }

    // A thousand stamps; three documents stamped through the keeper, then a
    // thousand more rows, as months of an office's stamping leave them.
    void SetUp() override {
        book = MakeBook(GetParam(), dir);
        if (!book) GTEST_SKIP() << PgServer::NotFound() << ": server tests skipped";
        std::vector<std::pair<std::string, Bytes>> rows;
        for (int i = 0; i < kStamps; ++i) rows.emplace_back(Name(i), Seal(i));
        book->Insert(rows);
        db = ws.OpenDatabase(book->Path());
        const struct {
            int stamp;
            const char* file;
            SealPlace place;
        } documents[] = {{7, "quotation.pdf", SealPlace{}}, {7, "amended.pdf", {1, kDefaultMark, 1, {}}}, {42, "scan.pdf", {{}, {}, 1, QPointF(100, 150)}}};
        for (const auto& d : documents) {
            StampRequest request;
            request.name = Name(d.stamp);
            request.input = kPdfs + d.file;
            request.output = dir.File("찍은 " + std::to_string(stamped.size()) + ".pdf");
            request.place = d.place;
            request.purpose = "견적서 제출";
            stamped.push_back(StampDocument(db, request));
        }
        Transaction t(db);
        for (int i = 0; i < kRows; ++i) {
            LedgerEntry e;
            e.user = "clerk";
            e.name = Name(i % 100);
            e.pictureSha256 = std::string(64, 'a');
            e.outputSha256 = std::string(64, 'b');
            e.document = "문서 " + std::to_string(i) + ".pdf";
            e.page = 1 + i % 3, e.xMm = 100, e.yMm = 200, e.sizeMm = 24;
            AddLedgerEntry(db, e);
        }
        t.Commit();
    }
    void TearDown() override { ws.Close(); }

    std::vector<std::string> IdsOf(const std::string& name) {
        return book->Rows("SELECT id FROM pic_ledger WHERE pic_name = $1 ORDER BY id", {name});
    }
};

// Each row names the stored picture used and the document written by their
// hashes, and who stamped as the book knows them; listed by name and date.
TEST_P(Ledger, EachStampingIsRecordedByWhatWasUsedAndMade) {
    const auto pictures = book->Pictures();
    for (std::size_t i = 0; i < stamped.size(); ++i) {
        const LedgerEntry& e = stamped[i].entry;
        EXPECT_EQ(e.pictureSha256, Sha256(pictures.at(e.name))) << i;
        EXPECT_EQ(e.outputSha256, Sha256(ReadBytes(dir.File("찍은 " + std::to_string(i) + ".pdf")))) << i;
        EXPECT_EQ(e.stampedAtUtc.size(), 19u) << e.stampedAtUtc;
        EXPECT_EQ(e.user, LoginUserName());
        EXPECT_EQ(e.role, Server() ? "postgres" : "");
    }
    EXPECT_EQ(stamped[0].entry.page, 3);
    EXPECT_EQ(stamped[1].entry.page, 1);
    EXPECT_EQ(stamped[2].entry.document, "scan.pdf");
    EXPECT_DOUBLE_EQ(stamped[2].entry.xMm, 100);

    const auto mine = ListLedger(db, Name(7), std::nullopt);
    const auto ids = IdsOf(Name(7));
    ASSERT_EQ(mine.size(), ids.size());
    ASSERT_EQ(mine.size(), 2u + kRows / 100);
    for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(std::to_string(mine[i].id), ids[i]);
    EXPECT_EQ(ListLedger(db, std::nullopt, std::nullopt).size(), static_cast<std::size_t>(kRows + 3));
    EXPECT_EQ(ListLedger(db, std::nullopt, std::string("2000-01-01 00:00:00")).size(), static_cast<std::size_t>(kRows + 3));
    EXPECT_TRUE(ListLedger(db, std::nullopt, std::string("2999-01-01 00:00:00")).empty());
    EXPECT_TRUE(CheckLedger(db).faults.empty());
}

// Rows are neither changed nor removed, by the product or another program,
// and on a server the time and the role are the server's, whatever an INSERT says.
TEST_P(Ledger, RowsAreNeitherChangedNorRemovedNorForged) {
    const std::string before = book->One("SELECT count(*) FROM pic_ledger");
    EXPECT_FALSE(book->TrySql("UPDATE pic_ledger SET purpose = 'x' WHERE id = 1"));
    EXPECT_FALSE(book->TrySql("DELETE FROM pic_ledger WHERE id = 2"));
    if (Server()) {
        EXPECT_FALSE(book->TrySql("TRUNCATE pic_ledger"));
        book->Sql("INSERT INTO pic_ledger (stamped_at, role, address, pic_name, pic_sha256, document, page, x_mm, y_mm, "
                  "size_mm, out_sha256) VALUES ('2000-01-01', 'someone', '10.0.0.9', 'x', 'x', 'x', 1, 1, 1, 1, 'x')");
        EXPECT_EQ(book->One("SELECT role || ' ' || (coalesce(address, '') <> '10.0.0.9') || ' ' || "
                            "(extract(year FROM stamped_at) > 2025) FROM pic_ledger ORDER BY id DESC LIMIT 1"),
                  "postgres true true");
        EXPECT_EQ(CheckLedger(db).faults.size(), 1u) << "the forged row's hashes are no SHA-256";
        book->Sql("ALTER TABLE pic_ledger DISABLE TRIGGER pic_ledger_witness");
    } else {
        EXPECT_EQ(book->One("SELECT count(*) FROM pic_ledger"), before);
        book->Sql("DROP TRIGGER pic_ledger_no_delete");
    }
    const auto faults = CheckLedger(db).faults;
    ASSERT_FALSE(faults.empty());
    EXPECT_NE(faults.back().find(Server() ? "pic_ledger_witness" : "pic_ledger_no_delete"), std::string::npos) << faults.back();
}

// A backup, of either kind, holds the ledger as it was written.
TEST_P(Ledger, TheBackupCopiesTheLedgerRowForRow) {
    const std::string copy = dir.File("사본.mdb");
    const BackupResult r = BackupBook(book->Path(), copy);
    EXPECT_EQ(r.ledgerRows, Server() ? kRows + 3 : -1);
    Database copied = ws.OpenDatabase(copy, true);
    const auto original = ListLedger(db, std::nullopt, std::nullopt), kept = ListLedger(copied, std::nullopt, std::nullopt);
    ASSERT_EQ(kept.size(), original.size());
    for (std::size_t i = 0; i < kept.size(); i += 97) {
        EXPECT_EQ(kept[i].id, original[i].id);
        EXPECT_EQ(kept[i].stampedAtUtc, original[i].stampedAtUtc);
        EXPECT_EQ(kept[i].role, original[i].role);
        EXPECT_EQ(kept[i].document, original[i].document);
        EXPECT_EQ(kept[i].outputSha256, original[i].outputSha256);
    }
    const LedgerCheck copyCheck = CheckLedger(copied);
    EXPECT_TRUE(copyCheck.faults.empty());
    EXPECT_EQ(copyCheck.rows, static_cast<long>(original.size()));
    copied.Close();
}

INSTANTIATE_TEST_SUITE_P(Kinds, Ledger, ::testing::Values("sqlite", "pg"), [](const auto& info) { return info.param; });

}  // namespace
