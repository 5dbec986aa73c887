#include "manager/history_dialog.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "keeper/book.h"
#include "keeper/history_text.h"
#include "manager/book_reader.h"
#include "manager/jobs.h"
#include "store/history.h"
#include "text/korean.h"

namespace {

struct Version {
    KeptVersion kept;
    QImage thumbnail;
};

enum Column { Picture, Number, When, Size, Who };

}  // namespace

HistoryDialog::HistoryDialog(std::string path, std::string name, QWidget* parent)
    : QDialog(parent), path_(std::move(path)), name_(std::move(name)) {
    setWindowTitle("기록 — " + QString::fromStdString(name_));
    setAccessibleName("기록");
    resize(640, 420);
    confirm = [this](const QString& question) {
        return QMessageBox::question(this, "도장 관리", question) == QMessageBox::Yes;
    };
    auto* layout = new QVBoxLayout(this);
    status_ = new QLabel;
    status_->setWordWrap(true);
    layout->addWidget(status_);
    table_ = new QTableWidget(0, 5);
    table_->setHorizontalHeaderLabels({"그림", "버전", "바뀐 시각", "크기", "누가 (PC)"});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setIconSize(QSize(kThumbnailSide, kThumbnailSide));
    table_->verticalHeader()->setDefaultSectionSize(kThumbnailSide + 4);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setAccessibleName("버전 목록");
    layout->addWidget(table_);
    auto* buttons = new QDialogButtonBox;
    restore_ = buttons->addButton("되돌리기(&R)", QDialogButtonBox::ActionRole);
    QPushButton* prune = buttons->addButton("정리(&P)…", QDialogButtonBox::ActionRole);
    QPushButton* close = buttons->addButton("닫기", QDialogButtonBox::RejectRole);
    restore_->setAccessibleName("되돌리기");
    prune->setAccessibleName("정리");
    close->setAccessibleName("닫기");
    restore_->setEnabled(false);
    connect(table_, &QTableWidget::itemSelectionChanged, this,
            [this] { restore_->setEnabled(!table_->selectedItems().isEmpty()); });
    connect(table_, &QTableWidget::cellActivated, this, [this] { RestoreSelected(); });
    connect(restore_, &QPushButton::clicked, this, [this] { RestoreSelected(); });
    connect(prune, &QPushButton::clicked, this, &HistoryDialog::Prune);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void HistoryDialog::ShowFailure(const std::string& failure) {
    QMessageBox::warning(this, "도장 관리", QString::fromStdString(failure));
}

void HistoryDialog::Reload() {
    auto versions = std::make_shared<std::vector<Version>>();
    auto none = std::make_shared<std::string>();
    const std::string failure = RunAndWait(this, "기록을 읽는 중…", [this, versions, none](JobControl&) {
        OpenedDatabase book(path_, true);
        *none = NoHistoryMessage(book.db(), path_);
        if (!none->empty()) return;
        for (KeptVersion& kept : ListVersions(book.db(), name_)) {
            Version v{std::move(kept), {}};
            if (v.kept.kept && v.kept.bytes) v.thumbnail = Thumbnail(ReadVersionPicture(book.db(), v.kept.id));
            versions->push_back(std::move(v));
        }
    });
    table_->setRowCount(0);
    if (!failure.empty()) {
        status_->setText(QString::fromStdString(failure));
        return;
    }
    if (!none->empty()) {
        status_->setText(QString::fromStdString(*none));
        return;
    }
    // Newest first: the version a clerk wants back is most often the last.
    const QLocale korean(QLocale::Korean);
    for (auto it = versions->rbegin(); it != versions->rend(); ++it) {
        const int row = table_->rowCount();
        table_->insertRow(row);
        auto* picture = new QTableWidgetItem;
        if (!it->thumbnail.isNull()) picture->setIcon(QIcon(QPixmap::fromImage(it->thumbnail)));
        else picture->setText(it->kept.kept ? "(그림 아님)" : "(너무 커서 보관하지 않음)");
        table_->setItem(row, Picture, picture);
        auto* number = new QTableWidgetItem(QString::number(it->kept.id));
        number->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(it->kept.id));
        table_->setItem(row, Number, number);
        table_->setItem(row, When, new QTableWidgetItem(QString::fromStdString(LocalTimeOf(it->kept.leftAtUtc))));
        table_->setItem(row, Size, new QTableWidgetItem(it->kept.bytes ? korean.toString(*it->kept.bytes) + " 바이트"
                                                                       : QString("값 없음")));
        table_->setItem(row, Who, new QTableWidgetItem(QString::fromStdString(it->kept.who)));
    }
    status_->setText(versions->empty() ? "\"" + QString::fromStdString(name_) + "\"의 기록에 보관된 버전이 없습니다."
                                       : QString("버전 %1개. 되돌릴 버전을 고르고 '되돌리기'를 누르십시오. 지금 도장도 "
                                                 "기록에 남으므로 되돌린 것도 다시 되돌릴 수 있습니다.")
                                             .arg(versions->size()));
    if (table_->rowCount() > 0) table_->selectRow(0);
}

bool HistoryDialog::RestoreSelected() {
    const QList<QTableWidgetItem*> selected = table_->selectedItems();
    if (selected.isEmpty()) return false;
    const long long id = table_->item(selected.front()->row(), Number)->data(Qt::UserRole).toLongLong();
    const std::string shown = WithParticle(ShownName(name_), Particle::EulReul);
    if (!confirm(QString::fromStdString(shown) + QString(" 버전 %1로 되돌릴까요? 지금 도장은 기록에 남아 이것도 "
                                                         "되돌릴 수 있습니다.").arg(id)))
        return false;
    const std::string failure = RunAndWait(this, "되돌리는 중…", [this, id](JobControl&) {
        OpenedDatabase book(path_, false);
        RestoreVersion(book.db(), name_, id);
    });
    if (!failure.empty()) {
        ShowFailure(failure);
        return false;
    }
    emit Changed();
    Reload();
    return true;
}

void HistoryDialog::Prune() {
    QDialog ask(this);
    ask.setWindowTitle("기록 정리");
    auto* form = new QFormLayout(&ask);
    auto* keepOn = new QCheckBox("이름마다 최근 버전만 남기기:");
    auto* keep = new QSpinBox;
    keep->setRange(0, 1000);
    keep->setValue(3);
    keep->setAccessibleName("남길 버전 수");
    auto* beforeOn = new QCheckBox("이 날짜 전의 버전 잊기:");
    auto* before = new QDateEdit(QDate::currentDate().addYears(-1));
    before->setCalendarPopup(true);
    before->setDisplayFormat("yyyy-MM-dd");
    before->setAccessibleName("잊을 날짜");
    keepOn->setChecked(true);
    form->addRow(keepOn, keep);
    form->addRow(beforeOn, before);
    form->addRow(new QLabel("모든 이름의 기록에 적용됩니다. 지금 도장은 그대로입니다."));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText("정리");
    connect(buttons, &QDialogButtonBox::accepted, &ask, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &ask, &QDialog::reject);
    form->addRow(buttons);
    if (ask.exec() != QDialog::Accepted || (!keepOn->isChecked() && !beforeOn->isChecked())) return;
    std::optional<long long> count;
    std::optional<std::string> utc;
    if (keepOn->isChecked()) count = keep->value();
    if (beforeOn->isChecked()) utc = UtcOfLocal(before->date().toString("yyyy-MM-dd").toStdString());
    auto removed = std::make_shared<long>(0);
    const std::string failure = RunAndWait(this, "기록을 정리하는 중…", [this, count, utc, removed](JobControl&) {
        OpenedDatabase book(path_, false);
        *removed = PruneHistory(book.db(), utc, count);
    });
    if (!failure.empty()) return ShowFailure(failure);
    QMessageBox::information(this, "도장 관리", QString("기록에서 버전 %1개를 잊었습니다.").arg(*removed));
    emit Changed();
    Reload();
}
