#pragma once
// A stored stamp put on a PDF document, as an office seals a 견적서: the
// seal prepared as for documents (the paper made transparent, cut to its
// ink, the ink `sizeMm` long on its longer side), placed on the mark it is
// to cover ("(인)") or at a position, written as a new file, and recorded
// in the book's ledger (store/ledger.h): all of it, or nothing.
#include <QImage>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <optional>
#include <string>

#include "engine/engine.h"
#include "pdf/pdf_document.h"
#include "store/ledger.h"

inline constexpr double kDefaultSealMillimetres = 24;
inline const QString kDefaultMark = QStringLiteral("(인)");

// Where the seal goes.
struct SealPlace {
    std::optional<int> page;         // from 1; none: the last page with the mark, else the last page
    QString mark = kDefaultMark;     // the text the seal is centred on
    int nth = 1;                     // which of the page's marks, from 1
    std::optional<QPointF> atMm;     // the centre, from the page's top-left corner, instead of a mark
};

struct Placement {
    int page = 0;          // from 0
    QPointF centreMm;
    bool onMark = false;   // centred on a mark found on the page
};

// Where `place` puts the seal on `doc` (`shown` names the file in
// messages). Raises err::InvalidArgument for a page out of range or a
// position off the page, err::ItemNotFound for a mark the page (or, without
// a page, the document) does not have, saying how many it has.
Placement PlaceSeal(const PdfDocument& doc, const SealPlace& place, const std::string& shown);

// The stamp's picture ready for a document: transparent paper, cut to the
// ink, `image` covering `sizeMm` (the ink's longer side is the size asked).
struct DocumentSeal {
    QImage image;
    QSizeF sizeMm;
};
DocumentSeal PrepareSeal(const QImage& picture, double sizeMm);

// The first row of `name` (the one the window shows) as a seal, with the
// SHA-256 of its stored bytes. Raises err::ItemNotFound for no such stamp
// and err::InvalidPicture for a value that is no picture.
struct BookSeal {
    DocumentSeal seal;
    std::string sha256;
};
BookSeal ReadSeal(Database& db, const std::string& name, double sizeMm);

struct StampRequest {
    std::string name;
    std::string input, output;  // OUT is made new: never IN, never anything that exists
    SealPlace place;
    double sizeMm = kDefaultSealMillimetres;
    std::string purpose;
};

struct StampResult {
    Placement placement;
    QSizeF sealMm;
    qint64 inputBytes = 0, outputBytes = 0;
    LedgerEntry entry;  // as recorded
};

// Millimetres as the stamping's messages and the ledger show them: one decimal.
std::string Millimetres(double mm);
// Who stamped, as the ledger shows it: on a server the role and the PC's
// address the server recorded, with the PC's user after them; on a local
// book the PC's user.
std::string StampedBy(const LedgerEntry& entry);

// Stamps IN into OUT and records it. OUT appears only once it is written
// whole and on the disk and its ledger row is committed; any failure leaves
// no OUT and no row, with the reason in Korean. IN is only read.
StampResult StampDocument(Database& db, const StampRequest& request);
