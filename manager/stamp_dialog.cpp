#include "manager/stamp_dialog.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "keeper/book.h"
#include "keeper/document_png.h"
#include "manager/jobs.h"
#include "os/error.h"
#include "pdf/pdf_document.h"

namespace {

// Pages are drawn for the screen at this resolution and scaled to the view.
constexpr double kPageDpi = 110;

QString Mm(double value) { return QString::fromStdString(Millimetres(value)); }

}  // namespace

PageView::PageView(QWidget* parent) : QWidget(parent) {
    setAccessibleName("문서 쪽");
    setMouseTracking(true);
    setMinimumSize(280, 380);
}

void PageView::SetPage(const QImage& page, QSizeF pageMm) {
    page_ = page;
    pageMm_ = pageMm;
    update();
}

void PageView::SetSeal(const QImage& seal, QSizeF sealMm) {
    seal_ = seal;
    sealMm_ = sealMm;
    update();
}

void PageView::SetCentre(QPointF mm) {
    centre_ = QPointF(std::clamp(mm.x(), 0.0, pageMm_.width()), std::clamp(mm.y(), 0.0, pageMm_.height()));
    update();
    emit Moved(centre_);
}

double PageView::PixelsPerMm() const {
    if (pageMm_.isEmpty()) return 1;
    return std::min((width() - 8) / pageMm_.width(), (height() - 8) / pageMm_.height());
}

QRectF PageView::PageRect() const {
    const QSizeF shown = pageMm_ * PixelsPerMm();
    return QRectF(QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown);
}

QPointF PageView::ToWidget(QPointF mm) const { return PageRect().topLeft() + mm * PixelsPerMm(); }

QRectF PageView::SealRect() const {
    const QSizeF size = sealMm_ * PixelsPerMm();
    return QRectF(ToWidget(centre_) - QPointF(size.width() / 2, size.height() / 2), size);
}

void PageView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (page_.isNull()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(PageRect(), page_);
    painter.setPen(QPen(Qt::gray));
    painter.drawRect(PageRect());
    if (!seal_.isNull()) {
        painter.drawImage(SealRect(), seal_);
        painter.setPen(QPen(QColor(0, 90, 200), 1, Qt::DashLine));
        painter.drawRect(SealRect());
    }
}

void PageView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPointF at = event->position();
    // A press beside the seal moves it there; on it, the seal follows from where it was gripped.
    grabbed_ = SealRect().contains(at) ? (at - ToWidget(centre_)) / PixelsPerMm() : QPointF();
    SetCentre((at - PageRect().topLeft()) / PixelsPerMm() - *grabbed_);
}

void PageView::mouseMoveEvent(QMouseEvent* event) {
    setCursor(SealRect().contains(event->position()) || grabbed_ ? Qt::SizeAllCursor : Qt::ArrowCursor);
    if (grabbed_) SetCentre((event->position() - PageRect().topLeft()) / PixelsPerMm() - *grabbed_);
}

void PageView::mouseReleaseEvent(QMouseEvent*) { grabbed_.reset(); }

StampDialog::StampDialog(std::string book, QString name, QImage stamp, QString pdf, QWidget* parent)
    : QDialog(parent), book_(std::move(book)), name_(std::move(name)), pdf_(std::move(pdf)), stamp_(std::move(stamp)) {
    setWindowTitle("문서에 찍기 — " + name_ + " → " + QFileInfo(pdf_).fileName());
    setAccessibleName("문서에 찍기");
    auto* layout = new QHBoxLayout(this);
    view_ = new PageView;
    layout->addWidget(view_, 1);
    auto* side = new QVBoxLayout;
    auto* form = new QFormLayout;
    page_ = new QSpinBox;
    page_->setAccessibleName("쪽");
    size_ = new QDoubleSpinBox;
    size_->setRange(kMinMillimetres, kMaxMillimetres);
    size_->setDecimals(1);
    size_->setValue(kDefaultSealMillimetres);
    size_->setSuffix(" mm");
    size_->setAccessibleName("도장 크기 (밀리미터)");
    purpose_ = new QLineEdit;
    purpose_->setPlaceholderText("예: 견적서 제출");
    purpose_->setAccessibleName("용도");
    form->addRow("쪽:", page_);
    form->addRow("도장 크기:", size_);
    form->addRow("용도:", purpose_);
    side->addLayout(form);
    where_ = new QLabel;
    where_->setWordWrap(true);
    side->addWidget(where_);
    side->addStretch();
    auto* buttons = new QDialogButtonBox;
    QPushButton* save = buttons->addButton("찍어서 저장…", QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    connect(save, &QPushButton::clicked, this, &StampDialog::Save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    side->addWidget(buttons);
    layout->addLayout(side);

    // The document is read once, off the interface thread: what is shown is what is stamped.
    auto bytes = std::make_shared<QByteArray>();
    auto opened = std::make_shared<std::unique_ptr<PdfDocument>>();
    const QString path = pdf_;
    const std::string failure = RunAndWait(this, "문서를 여는 중…", [path, bytes, opened](JobControl&) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw Error(err::FileNotFound, "문서 '" + path.toStdString() + "'를 열 수 없습니다: " + file.errorString().toStdString());
        *opened = std::make_unique<PdfDocument>(file.readAll(), path.toStdString());
    });
    if (!failure.empty()) {
        problem_ = QString::fromStdString(failure);
        where_->setText(problem_);
        save->setEnabled(false);
        return;
    }
    doc_ = std::move(*opened);
    page_->setRange(1, doc_->PageCount());
    RemakeSeal();
    // Where the tool would put it: on the last "(인)"-bearing page's mark.
    std::optional<QPointF> centre;
    int page = doc_->PageCount() - 1;
    try {
        const Placement placed = PlaceSeal(*doc_, SealPlace{}, pdf_.toStdString());
        page = placed.page;
        centre = placed.centreMm;
    } catch (const Error&) {
        // No mark in the text (a scan): the clerk drags the seal where it goes.
    }
    ShowPage(page, centre);
    connect(view_, &PageView::Moved, this, [this] {
        onMark_ = false;
        ShowWhere();
    });
    connect(page_, &QSpinBox::valueChanged, this, [this](int shown) { ShowPage(shown - 1, std::nullopt); });
    connect(size_, &QDoubleSpinBox::valueChanged, this, [this] {
        RemakeSeal();
        ShowWhere();
    });
}

StampDialog::~StampDialog() = default;

int StampDialog::Page() const { return page_->value() - 1; }
QPointF StampDialog::CentreMm() const { return view_->Centre(); }
void StampDialog::SetPurpose(const QString& purpose) { purpose_->setText(purpose); }

void StampDialog::ShowPage(int index, std::optional<QPointF> centre) {
    const QSignalBlocker quiet(page_);
    page_->setValue(index + 1);
    const QSizeF size = doc_->PageSizeMm(index);
    view_->SetPage(doc_->Render(index, kPageDpi), size);
    const QSignalBlocker still(view_);
    view_->SetCentre(centre ? *centre : QPointF(size.width() / 2, size.height() / 2));
    onMark_ = centre.has_value();
    ShowWhere();
}

void StampDialog::RemakeSeal() {
    try {
        const DocumentSeal seal = PrepareSeal(stamp_, size_->value());
        view_->SetSeal(seal.image, seal.sizeMm);
        problem_.clear();
    } catch (const Error& e) {
        problem_ = QString::fromStdString(e.Description());
        view_->SetSeal({}, {});
    }
}

void StampDialog::ShowWhere() {
    if (!problem_.isEmpty()) return where_->setText(problem_);
    const QPointF c = view_->Centre();
    where_->setText(QString("%1쪽, 왼쪽 위에서 가로 %2 mm, 세로 %3 mm%4\n도장(잉크) 크기 %5 mm\n\n도장을 끌어 자리를 옮길 수 있습니다.")
                        .arg(Page() + 1)
                        .arg(Mm(c.x()), Mm(c.y()), onMark_ ? "\n'(인)' 자리입니다." : "", Mm(size_->value())));
}

std::string StampDialog::StampInto(const QString& out) {
    StampRequest request;
    request.name = name_.toStdString();
    request.input = pdf_.toStdString();
    request.output = out.toStdString();
    request.place.page = Page() + 1;
    request.place.atMm = view_->Centre();
    request.sizeMm = size_->value();
    request.purpose = purpose_->text().toStdString();
    auto result = std::make_shared<StampResult>();
    const std::string book = book_;
    const std::string failure = RunAndWait(this, "문서에 찍는 중…", [book, request, result](JobControl&) {
        OpenedDatabase opened(book, false);
        *result = StampDocument(opened.db(), request);
    });
    if (failure.empty()) result_ = *result;
    return failure;
}

void StampDialog::Save() {
    const QFileInfo in(pdf_);
    const QString proposed = in.dir().filePath(in.completeBaseName() + " (날인).pdf");
    const QString out = askOutput ? askOutput(this, proposed) : QString();
    if (out.isEmpty()) return;
    const std::string failure = StampInto(out);
    if (!failure.empty()) {
        if (tell) tell(QString::fromStdString(failure), true);
        return;
    }
    if (tell)
        tell(QString("'%1'에 찍어 '%2'로 저장했습니다 (%3쪽). 날인 대장 %4번에 남겼습니다.")
                 .arg(in.fileName(), out)
                 .arg(result_.entry.page)
                 .arg(result_.entry.id),
             false);
    accept();
}
