#pragma once
// A stored stamp as a PNG ready to be placed on a document: optionally with
// the paper made transparent, optionally with its printed size set.
#include <QByteArray>
#include <QImage>
#include <optional>

// The printed sizes a seal impression can have, for the longer side.
inline constexpr double kMinMillimetres = 5;
inline constexpr double kMaxMillimetres = 100;

struct PngOptions {
    // The paper becomes transparent, the ink stays opaque, edges are soft.
    bool transparent = false;
    // The resolution is set so that the longer side prints this long; the
    // pixels are unchanged. Without it the picture keeps its own resolution.
    std::optional<double> millimetres;
};

// The PNG file for `picture`. Raises err::InvalidPicture when it cannot be
// encoded, std::bad_alloc when memory runs out.
QByteArray EncodePng(const QImage& picture, const PngOptions& options);
