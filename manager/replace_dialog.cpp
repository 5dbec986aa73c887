#include "manager/replace_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// A picture shown no larger than `side`, its aspect kept.
QLabel* PictureLabel(const QImage& image, int side, const QString& accessibleName) {
    auto* label = new QLabel;
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumSize(side, side);
    label->setAccessibleName(accessibleName);
    if (image.isNull()) {
        label->setText("(그림 없음)");
    } else {
        const QImage shown = image.width() > side || image.height() > side
                                 ? image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                                 : image;
        label->setPixmap(QPixmap::fromImage(shown));
    }
    return label;
}

}  // namespace

ReplaceDialog::ReplaceDialog(const QString& name, const QImage& stored, const QString& storedFacts,
                             const QImage& incoming, const QString& incomingFacts, bool historyKeeps, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("도장 바꾸기");
    setAccessibleName("도장 바꾸기");
    auto* layout = new QVBoxLayout(this);
    auto* question = new QLabel("\"" + name + "\" 도장이 이미 있습니다. 새 그림으로 바꿀까요?" +
                                (historyKeeps ? "\n지금 도장은 기록에 남아 되돌릴 수 있습니다."
                                              : "\n이 데이터베이스에는 기록이 없어 지금 도장은 되돌릴 수 없습니다."));
    question->setWordWrap(true);
    layout->addWidget(question);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("지금 도장"), 0, 0, Qt::AlignCenter);
    grid->addWidget(new QLabel("새 그림"), 0, 1, Qt::AlignCenter);
    grid->addWidget(PictureLabel(stored, 200, "지금 도장"), 1, 0);
    grid->addWidget(PictureLabel(incoming, 200, "새 그림"), 1, 1);
    grid->addWidget(new QLabel(storedFacts), 2, 0, Qt::AlignCenter);
    grid->addWidget(new QLabel(incomingFacts), 2, 1, Qt::AlignCenter);
    layout->addLayout(grid);
    auto* buttons = new QDialogButtonBox;
    QPushButton* replace = buttons->addButton("바꾸기(&R)", QDialogButtonBox::AcceptRole);
    QPushButton* keep = buttons->addButton("취소", QDialogButtonBox::RejectRole);
    replace->setAccessibleName("바꾸기");
    keep->setAccessibleName("취소");
    keep->setDefault(true);  // Enter keeps the stored stamp
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}
