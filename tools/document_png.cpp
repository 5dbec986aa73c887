#include "tools/document_png.h"

#include <QBuffer>
#include <QImageWriter>
#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <numeric>

#include "platform/error.h"

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

// A copy in ARGB32 whose alpha grows with each pixel's distance from the paper colour.
QImage WithoutPaper(const QImage& picture) {
    QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull() && !picture.isNull()) throw std::bad_alloc();
    // The paper is what the border shows most: the per-channel median of the
    // ring of outermost pixels, so that ink touching the edge does not count.
    ColourCounts border;
    ForEachBorderPixel(image, [&](QRgb p) { border.Add(p); });
    const QRgb paper = border.MedianColour();
    Histogram<kDistances> grain{};
    ForEachBorderPixel(image, [&](QRgb p) { ++grain[Distance(p, paper)]; });

    // Distances from the paper colour: up to `low` is the paper's grain and
    // gets alpha 0 (3 × the border's median distance clears even coarse
    // grain, and ink at the edge cannot raise it; 24 at least, a JPEG's
    // noise); from `high`, 64 levels further, it is ink and gets 255; the
    // ramp in between makes the soft edge.
    const int low = std::clamp(3 * Median(grain), 24, kDistances - 1 - 64);
    const int high = low + 64;

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

QByteArray EncodePng(const QImage& picture, const PngOptions& options) {
    QImage image = options.transparent ? WithoutPaper(picture) : picture;
    if (options.millimetres) {
        // PNG keeps whole pixels per metre; the rounding moves a 64-pixel side
        // at 24 mm by 0.003 mm.
        const int longer = std::max(image.width(), image.height());
        const int perMetre = static_cast<int>(std::lround(longer * 1000.0 / *options.millimetres));
        image.setDotsPerMeterX(perMetre);
        image.setDotsPerMeterY(perMetre);
    }
    // Qt answers an allocation that fails with a null image.
    if (image.isNull() && !picture.isNull()) throw std::bad_alloc();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        throw Error(err::InvalidPicture, "그림을 PNG로 바꿀 수 없습니다: " + writer.errorString().toStdString());
    return png;
}
