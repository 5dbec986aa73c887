#pragma once
// A stored stamp as a PNG ready to be placed on a document: optionally with
// the paper made transparent, optionally with its printed size set.
#include <QByteArray>
#include <QImage>
#include <QRect>
#include <optional>

// The printed sizes a seal impression can have, for the longer side.
inline constexpr double kMinMillimetres = 5;
inline constexpr double kMaxMillimetres = 100;

// Below this a printed seal looks blocky.
inline constexpr double kPrintDpi = 300;
// --crop keeps this share of the seal's longer side as paper on every side,
// and at least this many pixels.
inline constexpr double kCropMarginShare = 0.04;
inline constexpr int kMinCropMargin = 2;

struct PngOptions {
    // The paper becomes transparent, the ink stays opaque, edges are soft.
    bool transparent = false;
    // The paper around the ink is cut to an even margin, so that the seal
    // itself, not the scanned sheet around it, is what `millimetres` measures.
    bool crop = false;
    // The resolution is set so that the longer side (of the seal, with
    // `crop`) prints this long; the pixels are unchanged. Without it the
    // picture keeps its own resolution.
    std::optional<double> millimetres;
};

struct DocumentPng {
    QByteArray png;
    // The printed resolution `millimetres` gives; 0 without it.
    double dpi = 0;
};

// The picture EncodePng encodes, its resolution set: what a PDF embeds
// where EncodePng's bytes go into files.
struct DocumentPicture {
    QImage image;
    double dpi = 0;  // as DocumentPng's
};
DocumentPicture PrepareDocumentPicture(const QImage& picture, const PngOptions& options);

// The PNG file for `picture`. Raises err::InvalidPicture when it cannot be
// encoded, or when `transparent` or `crop` finds no ink on it, or no paper
// (a blank sheet, a picture of one colour, ink only); std::bad_alloc when
// memory runs out.
DocumentPng EncodePng(const QImage& picture, const PngOptions& options);
