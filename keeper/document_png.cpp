#include "keeper/document_png.h"

#include <QBuffer>
#include <QImageWriter>
#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <numeric>

#include "os/error.h"

namespace {

// RGB distances run from 0 to √(3·255²) ≈ 442.
constexpr int kDistances = 443;

template <std::size_t N>
using Histogram = std::array<qint64, N>;

// The middle value counted, the lower one of two; 0 when nothing was counted.
template <std::size_t N>
int Median(const Histogram<N>& counts) {
    const qint64 total = std::accumulate(counts.begin(), counts.end(), qint64{0});
    qint64 seen = 0;
    for (std::size_t i = 0; i < N; ++i)
        if ((seen += counts[i]) * 2 >= total && total > 0) return static_cast<int>(i);
    return 0;
}

int Distance(QRgb a, QRgb b) {
    const int r = qRed(a) - qRed(b), g = qGreen(a) - qGreen(b), bl = qBlue(a) - qBlue(b);
    return static_cast<int>(std::lround(std::sqrt(static_cast<double>(r * r + g * g + bl * bl))));
}

// Calls `visit` with each pixel of the outermost ring once.
template <typename Visit>
void ForEachBorderPixel(const QImage& image, Visit visit) {
    const int w = image.width(), h = image.height();
    for (int x = 0; x < w; ++x) {
        visit(image.pixel(x, 0));
        if (h > 1) visit(image.pixel(x, h - 1));
    }
    for (int y = 1; y < h - 1; ++y) {
        visit(image.pixel(0, y));
        if (w > 1) visit(image.pixel(w - 1, y));
    }
}

// Per-channel histograms of a set of pixels.
class ColourCounts {
public:
    void Add(QRgb p) {
        ++counts_[0][qRed(p)];
        ++counts_[1][qGreen(p)];
        ++counts_[2][qBlue(p)];
    }
    // The per-channel median; black when nothing was counted.
    QRgb MedianColour() const { return qRgb(Median(counts_[0]), Median(counts_[1]), Median(counts_[2])); }

private:
    std::array<Histogram<256>, 3> counts_{};
};

int Channel(int paper, int pixel, double scale) {
    return std::clamp(static_cast<int>(std::lround(paper + (pixel - paper) * scale)), 0, 255);
}

int Mix(int a, int b, int weight) { return (a * weight + b * (255 - weight)) / 255; }

// The paper colour and the distances from it that tell paper from ink.
struct Paper {
    QRgb colour;
    // Distances from the paper colour: up to `low` is the paper's grain (3 ×
    // the border's median distance clears even coarse grain, and ink at the
    // edge cannot raise it; 24 at least, a JPEG's noise); from `high`, 64
    // levels further, it is ink; in between lies the soft edge.
    int low, high;
};

// Whether a colour can be paper: light and nearly grey (white, cream,
// yellowish or grey sheets), never a seal's red, blue or black ink.
bool PaperLike(QRgb p) {
    const int most = std::max({qRed(p), qGreen(p), qBlue(p)}), least = std::min({qRed(p), qGreen(p), qBlue(p)});
    const int luma = (qRed(p) * 299 + qGreen(p) * 587 + qBlue(p) * 114) / 1000;
    return most - least < 100 && luma >= 110;
}

// The paper is what the border shows most: the per-channel median of the
// ring of outermost pixels, so that ink touching the edge does not count.
// A seal cut tight to its frame has ink all round its border: then the
// paper is what the paper-like pixels inside show most. A picture with no
// such pixel has no paper to tell ink from (err::InvalidPicture).
Paper PaperOf(const QImage& image) {
    ColourCounts border;
    ForEachBorderPixel(image, [&](QRgb p) { border.Add(p); });
    QRgb paper = border.MedianColour();
    Histogram<kDistances> grain{};
    if (PaperLike(paper)) {
        ForEachBorderPixel(image, [&](QRgb p) { ++grain[Distance(p, paper)]; });
    } else {
        ColourCounts inside;
        bool any = false;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (const QRgb p = image.pixel(x, y); PaperLike(p)) inside.Add(p), any = true;
        if (!any)
            throw Error(err::InvalidPicture, "종이로 보이는 밝은 부분이 없어 종이와 잉크를 나눌 수 없습니다 (잉크만 "
                                             "있거나 어두운 바탕의 그림입니다)");
        paper = inside.MedianColour();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (const QRgb p = image.pixel(x, y); PaperLike(p)) ++grain[Distance(p, paper)];
    }
    const int low = std::clamp(3 * Median(grain), 24, kDistances - 1 - 64);
    return {paper, low, low + 64};
}

[[noreturn]] void RaiseNoInk() {
    throw Error(err::InvalidPicture, "종이와 구별되는 잉크가 없습니다 (빈 종이이거나 한 가지 색뿐인 그림입니다)");
}

// The rectangle of the clearly inked pixels; empty when there are none.
QRect InkOf(const QImage& image, const Paper& paper) {
    int left = image.width(), top = image.height(), right = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (Distance(line[x], paper.colour) < paper.high) continue;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

// The ink with the same margin of paper on every side, the paper colour
// filling in where the ink runs to the picture's edge.
QImage Cropped(const QImage& picture, QRect& ink) {
    QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) throw std::bad_alloc();
    const Paper paper = PaperOf(image);
    ink = InkOf(image, paper);
    if (ink.isEmpty()) RaiseNoInk();
    const int margin = std::max(kMinCropMargin, static_cast<int>(std::lround(std::max(ink.width(), ink.height()) *
                                                                             kCropMarginShare)));
    const QRect kept = ink.adjusted(-margin, -margin, margin, margin);
    QImage cropped(kept.size(), QImage::Format_ARGB32);
    if (cropped.isNull()) throw std::bad_alloc();
    cropped.fill(paper.colour);
    const QRect inside = kept.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        const auto* from = reinterpret_cast<const QRgb*>(image.constScanLine(y)) + inside.left();
        auto* to = reinterpret_cast<QRgb*>(cropped.scanLine(y - kept.top())) + (inside.left() - kept.left());
        std::copy(from, from + inside.width(), to);
    }
    cropped.setDotsPerMeterX(picture.dotsPerMeterX());
    cropped.setDotsPerMeterY(picture.dotsPerMeterY());
    ink.moveTopLeft(QPoint(margin, margin));
    return cropped;
}

// A copy in ARGB32 whose alpha grows with each pixel's distance from the paper colour.
QImage WithoutPaper(const QImage& picture) {
    QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull() && !picture.isNull()) throw std::bad_alloc();
    const Paper estimate = PaperOf(image);
    const QRgb paper = estimate.colour;
    const int low = estimate.low, high = estimate.high;

    // The ink: the median distance and colour of the clearly inked pixels.
    Histogram<kDistances> inkDistances{};
    ColourCounts inkColours;
    bool inked = false;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int d = Distance(line[x], paper);
            if (d < high) continue;
            ++inkDistances[d];
            inkColours.Add(line[x]);
            inked = true;
        }
    }
    if (!inked) RaiseNoInk();
    const int ink = std::max(high, Median(inkDistances));
    const QRgb inkColour = inkColours.MedianColour();

    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            const int d = Distance(p, paper);
            const int ramp = std::clamp((d - low) * 255 / (high - low), 0, 255);
            if (ramp * qAlpha(p) / 255 == 0) {
                line[x] = paper & RGB_MASK;
                continue;
            }
            // A pixel paler than the ink, part ink and part paper, takes the
            // ink's strength in its own hue: edges stay red, not pink, on any
            // paper. The fainter it is, the more its hue is the paper's grain,
            // so the more it takes the ink's colour instead.
            const double scale = std::max(1.0, static_cast<double>(ink) / d);
            int r = Channel(qRed(paper), qRed(p), scale), g = Channel(qGreen(paper), qGreen(p), scale),
                b = Channel(qBlue(paper), qBlue(p), scale);
            if (inked) {
                r = Mix(r, qRed(inkColour), ramp);
                g = Mix(g, qGreen(inkColour), ramp);
                b = Mix(b, qBlue(inkColour), ramp);
            }
            line[x] = qRgba(r, g, b, ramp * qAlpha(p) / 255);
        }
    }
    return image;
}

}  // namespace

DocumentPicture PrepareDocumentPicture(const QImage& picture, const PngOptions& options) {
    DocumentPicture result;
    QRect ink;
    result.image = options.crop ? Cropped(picture, ink) : picture;
    QImage& image = result.image;
    if (options.transparent) image = WithoutPaper(image);
    if (options.millimetres) {
        // With --crop the seal itself is measured, its margin printed at the same scale.
        const int measured = !ink.isEmpty() ? std::max(ink.width(), ink.height()) : std::max(image.width(), image.height());
        // PNG keeps whole pixels per metre; the rounding moves a 64-pixel side
        // at 24 mm by 0.003 mm.
        const int perMetre = static_cast<int>(std::lround(measured * 1000.0 / *options.millimetres));
        image.setDotsPerMeterX(perMetre);
        image.setDotsPerMeterY(perMetre);
        result.dpi = measured * 25.4 / *options.millimetres;
    }
    // Qt answers an allocation that fails with a null image.
    if (image.isNull() && !picture.isNull()) throw std::bad_alloc();
    return result;
}

DocumentPng EncodePng(const QImage& picture, const PngOptions& options) {
    const DocumentPicture prepared = PrepareDocumentPicture(picture, options);
    DocumentPng result;
    result.dpi = prepared.dpi;
    QBuffer buffer(&result.png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(prepared.image))
        throw Error(err::InvalidPicture, "그림을 PNG로 바꿀 수 없습니다: " + writer.errorString().toStdString());
    return result;
}
