#pragma once
// A PDF document held in memory: its pages' sizes, where a text stands on a
// page, how a page looks, and the same document with a seal placed on one
// page. Every place is in millimetres from the top-left corner of the page
// as a viewer shows it (its crop box, turned by its rotation).
//
// The bytes are read once by the caller and everything here works on them,
// so the page that was searched is the page that is stamped, whatever
// happens to the file meanwhile.
#include <QByteArray>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <memory>
#include <string>
#include <vector>

inline constexpr double kMillimetresPerPoint = 25.4 / 72.0;

class PdfDocument {
public:
    // Raises Error(err::InvalidFileFormat) naming `shown` (the file's name
    // as messages give it) for bytes that are not a PDF, a PDF the library
    // cannot read without repairing it, and an encrypted one.
    PdfDocument(QByteArray bytes, std::string shown);
    ~PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    int PageCount() const;
    // `index` counts from 0 in every call; out of range raises err::InvalidArgument.
    QSizeF PageSizeMm(int index) const;
    // Each place where `text` stands on the page, in reading order.
    std::vector<QRectF> Find(int index, const QString& text) const;
    // The page drawn at `dpi`, on white.
    QImage Render(int index, double dpi) const;

    // The whole document again with `seal` (its alpha kept as a soft mask)
    // drawn above page `index`'s content, upright as the page is shown,
    // `sizeMm` large and centred on `centreMm`. Every other object is
    // written as it was read, its streams untouched. Raises
    // err::InvalidFileFormat when the document turns out damaged on the way.
    QByteArray WithSeal(int index, const QImage& seal, QPointF centreMm, QSizeF sizeMm) const;

    const QByteArray& Bytes() const { return bytes_; }

private:
    void CheckPage(int index) const;

    QByteArray bytes_;
    std::string shown_;
    struct Reader;
    std::unique_ptr<Reader> reader_;
};
