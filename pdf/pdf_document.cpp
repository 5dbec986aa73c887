#include "pdf/pdf_document.h"

#include <poppler-qt6.h>
#include <qpdf/QPDF.hh>

#include <utility>

#include "os/error.h"
#include "pdf/qpdf_source.h"

struct PdfDocument::Reader {
    std::unique_ptr<Poppler::Document> poppler;
};

PdfDocument::PdfDocument(QByteArray bytes, std::string shown)
    : bytes_(std::move(bytes)), shown_(std::move(shown)), reader_(std::make_unique<Reader>()) {
    // qpdf, the writer, judges the file first: its messages are the precise ones.
    OpenQpdf(bytes_, shown_);
    reader_->poppler = Poppler::Document::loadFromData(bytes_);
    if (!reader_->poppler) RaiseDamagedPdf(shown_, "Poppler가 문서를 열지 못했습니다");
    if (reader_->poppler->isLocked()) RaiseEncryptedPdf(shown_);
    reader_->poppler->setRenderHint(Poppler::Document::Antialiasing);
    reader_->poppler->setRenderHint(Poppler::Document::TextAntialiasing);
}

PdfDocument::~PdfDocument() = default;

int PdfDocument::PageCount() const { return reader_->poppler->numPages(); }

void PdfDocument::CheckPage(int index) const {
    if (index < 0 || index >= PageCount())
        throw Error(err::InvalidArgument, "'" + shown_ + "'에는 " + std::to_string(index + 1) + "쪽이 없습니다 (1쪽부터 " +
                                              std::to_string(PageCount()) + "쪽까지 있습니다).");
}

QSizeF PdfDocument::PageSizeMm(int index) const {
    CheckPage(index);
    return reader_->poppler->page(index)->pageSizeF() * kMillimetresPerPoint;
}

std::vector<QRectF> PdfDocument::Find(int index, const QString& text) const {
    CheckPage(index);
    std::vector<QRectF> places;
    // Poppler answers in points from the shown page's top-left corner.
    for (const QRectF& r : reader_->poppler->page(index)->search(text))
        places.emplace_back(r.topLeft() * kMillimetresPerPoint, r.size() * kMillimetresPerPoint);
    return places;
}

QImage PdfDocument::Render(int index, double dpi) const {
    CheckPage(index);
    QImage image = reader_->poppler->page(index)->renderToImage(dpi, dpi);
    if (image.isNull()) throw std::bad_alloc();
    return image;
}
