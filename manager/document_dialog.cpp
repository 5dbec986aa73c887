#include "manager/document_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <new>

#include "keeper/document_png.h"
#include "os/error.h"
#include "os/files.h"

namespace {

constexpr int kPreviewSide = 220;

// `picture` drawn over `background` (a checkerboard when null), fitted.
QPixmap Over(const QImage& picture, bool checkerboard) {
    QImage canvas(kPreviewSide, kPreviewSide, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    if (checkerboard) {
        for (int y = 0; y < kPreviewSide; y += 10)
            for (int x = 0; x < kPreviewSide; x += 10)
                if ((x / 10 + y / 10) % 2) painter.fillRect(x, y, 10, 10, QColor(204, 204, 204));
    }
    if (!picture.isNull()) {
        const QImage shown = picture.scaled(kPreviewSide, kPreviewSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        painter.drawImage((kPreviewSide - shown.width()) / 2, (kPreviewSide - shown.height()) / 2, shown);
    }
    return QPixmap::fromImage(canvas);
}

}  // namespace

DocumentDialog::DocumentDialog(const QString& name, QImage stamp, QWidget* parent)
    : QDialog(parent), name_(name), stamp_(std::move(stamp)) {
    setWindowTitle("문서용 도장 — " + name);
    setAccessibleName("문서용 도장");
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    size_ = new QDoubleSpinBox;
    size_->setRange(kMinMillimetres, kMaxMillimetres);
    size_->setDecimals(1);
    size_->setValue(24);
    size_->setSuffix(" mm");
    size_->setAccessibleName("도장 크기 (밀리미터)");
    transparent_ = new QCheckBox("종이를 투명하게");
    transparent_->setChecked(true);
    transparent_->setAccessibleName("종이를 투명하게");
    crop_ = new QCheckBox("도장 둘레의 종이 잘라 내기");
    crop_->setChecked(true);
    crop_->setAccessibleName("잘라 내기");
    form->addRow("도장의 긴 변:", size_);
    form->addRow(transparent_);
    form->addRow(crop_);
    layout->addLayout(form);
    auto* previews = new QHBoxLayout;
    overCheckerboard_ = new QLabel;
    overWhite_ = new QLabel;
    overCheckerboard_->setAccessibleName("체크무늬 위 미리 보기");
    overWhite_->setAccessibleName("흰 종이 위 미리 보기");
    previews->addWidget(overCheckerboard_);
    previews->addWidget(overWhite_);
    layout->addLayout(previews);
    facts_ = new QLabel;
    facts_->setWordWrap(true);
    facts_->setAccessibleName("인쇄 크기");
    layout->addWidget(facts_);
    auto* buttons = new QDialogButtonBox;
    QPushButton* save = buttons->addButton("PNG로 저장…", QDialogButtonBox::ActionRole);
    QPushButton* copy = buttons->addButton("복사", QDialogButtonBox::ActionRole);
    QPushButton* close = buttons->addButton("닫기", QDialogButtonBox::RejectRole);
    save->setAccessibleName("PNG로 저장");
    copy->setAccessibleName("복사");
    close->setAccessibleName("닫기");
    copy->setShortcut(QKeySequence::Copy);
    connect(save, &QPushButton::clicked, this, &DocumentDialog::Save);
    connect(copy, &QPushButton::clicked, this, &DocumentDialog::Copy);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    connect(size_, &QDoubleSpinBox::valueChanged, this, &DocumentDialog::Remake);
    connect(transparent_, &QCheckBox::toggled, this, &DocumentDialog::Remake);
    connect(crop_, &QCheckBox::toggled, this, &DocumentDialog::Remake);
    Remake();
}

void DocumentDialog::Remake() {
    PngOptions options;
    options.transparent = transparent_->isChecked();
    options.crop = crop_->isChecked();
    options.millimetres = size_->value();
    png_.clear();
    made_ = QImage();
    QString problem;
    try {
        const DocumentPng document = EncodePng(stamp_, options);
        png_ = document.png;
        made_ = QImage::fromData(png_, "PNG");
        const double dpi = document.dpi;
        const double longer = std::max(made_.width(), made_.height());
        QString facts = QString("인쇄 크기: %1 × %2 mm, %3 dpi (%4 × %5 픽셀)")
                            .arg(made_.width() / dpi * 25.4, 0, 'f', 1)
                            .arg(made_.height() / dpi * 25.4, 0, 'f', 1)
                            .arg(dpi, 0, 'f', 0)
                            .arg(made_.width())
                            .arg(made_.height());
        if (dpi < kPrintDpi)
            facts += QString("\n주의: %1 dpi에 못 미쳐 인쇄하면 거칠게 보입니다. 긴 변이 %2 픽셀 넘는 스캔을 저장하면 "
                             "깨끗하게 찍힙니다.")
                         .arg(kPrintDpi, 0, 'f', 0)
                         .arg(static_cast<int>(longer * kPrintDpi / dpi + 0.5));
        facts_->setText(facts);
    } catch (const Error& e) {
        problem = QString::fromStdString(e.what());
    } catch (const std::bad_alloc&) {
        problem = "메모리가 부족해 만들지 못했습니다. 다른 프로그램을 닫고 다시 하십시오.";
    }
    if (!problem.isEmpty()) facts_->setText(problem);
    overCheckerboard_->setPixmap(Over(made_, true));
    overWhite_->setPixmap(Over(made_, false));
}

void DocumentDialog::Copy() {
    if (png_.isEmpty()) return;
    auto* data = new QMimeData;
    data->setData("image/png", png_);
    // Programs that take no PNG get the stamp on white paper.
    QImage flat(made_.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter(&flat).drawImage(0, 0, made_);
    data->setImageData(flat);
    QApplication::clipboard()->setMimeData(data);
    facts_->setText(facts_->text() + "\n복사했습니다. 한글이나 워드프로세서에 붙여 넣으십시오.");
}

void DocumentDialog::Save() {
    if (png_.isEmpty()) return;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString file = QFileDialog::getSaveFileName(this, "PNG로 저장", folder + "/" + name_ + ".png", "PNG 그림 (*.png)");
    if (file.isEmpty()) return;
    try {
        // A new file written whole, then given its name: never half a PNG.
        LocalFileSystem files;
        auto out = files.CreateReplacing(file.toStdString());
        out->Write(std::span(reinterpret_cast<const std::uint8_t*>(png_.constData()), static_cast<std::size_t>(png_.size())));
        out->Close();
        facts_->setText(facts_->text() + "\n" + file + "에 저장했습니다.");
    } catch (const Error& e) {
        QMessageBox::warning(this, "도장 관리", QString::fromStdString(e.what()));
    }
}
