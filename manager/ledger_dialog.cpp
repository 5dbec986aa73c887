#include "manager/ledger_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>
#include <memory>

#include "keeper/book.h"
#include "keeper/document_stamp.h"
#include "keeper/history_text.h"
#include "manager/jobs.h"
#include "store/ledger.h"

namespace {

QString Mm(double value) { return QString::fromStdString(Millimetres(value)); }

}  // namespace

LedgerDialog::LedgerDialog(std::string book, QWidget* parent) : QDialog(parent), book_(std::move(book)) {
    setWindowTitle("날인 대장");
    setAccessibleName("날인 대장");
    resize(980, 480);
    auto* layout = new QVBoxLayout(this);
    table_ = new QTableWidget(0, 9);
    table_->setHorizontalHeaderLabels({"번호", "시각", "찍은 사람", "도장", "문서", "쪽", "자리 (mm)", "크기", "용도"});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setAccessibleName("날인 대장의 행");
    layout->addWidget(table_);
    summary_ = new QLabel;
    layout->addWidget(summary_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void LedgerDialog::Reload() {
    auto rows = std::make_shared<std::vector<LedgerEntry>>();
    auto none = std::make_shared<bool>(false);
    const std::string book = book_;
    const std::string failure = RunAndWait(this, "날인 대장을 읽는 중…", [book, rows, none](JobControl&) {
        OpenedDatabase opened(book, true);
        if (!CanReadLedger(opened.db())) {
            *none = true;
            return;
        }
        *rows = ListLedger(opened.db(), std::nullopt, std::nullopt);
    });
    table_->setRowCount(0);
    if (!failure.empty()) return summary_->setText(QString::fromStdString(failure));
    if (*none) return summary_->setText("아직 날인 대장이 없거나 이 연결로는 읽을 수 없습니다. 도장을 문서에 찍으면 생깁니다.");
    table_->setRowCount(static_cast<int>(rows->size()));
    for (int r = 0; r < table_->rowCount(); ++r) {
        const LedgerEntry& e = (*rows)[static_cast<std::size_t>(r)];
        const QStringList cells = {QString::number(e.id),
                                   QString::fromStdString(LocalTimeOf(e.stampedAtUtc)),
                                   QString::fromStdString(StampedBy(e)),
                                   QString::fromStdString(e.name),
                                   QString::fromStdString(e.document),
                                   QString::number(e.page),
                                   Mm(e.xMm) + ", " + Mm(e.yMm),
                                   Mm(e.sizeMm) + " mm",
                                   QString::fromStdString(e.purpose)};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c == 4) item->setToolTip("찍은 문서의 SHA-256: " + QString::fromStdString(e.outputSha256));
            if (c == 3) item->setToolTip("쓴 도장 그림의 SHA-256: " + QString::fromStdString(e.pictureSha256));
            table_->setItem(r, c, item);
        }
    }
    table_->resizeColumnsToContents();
    table_->scrollToBottom();
    summary_->setText(QString("날인 %1건").arg(rows->size()));
}
