// The picture box on its own: what it shows is what Image() returns, for any
// picture a decoder may hand it.
#include <QPainter>
#include <functional>

#include "fixture.h"

namespace {

struct Shown {
    const char* label;
    std::function<QImage()> make;
    // The colour expected at a point of the inner area; invalid = background.
    std::function<QColor(int x, int y)> at;
};
void PrintTo(const Shown& s, std::ostream* os) { *os << s.label; }

class PictureBoxShows : public ::testing::TestWithParam<Shown> {};

TEST_P(PictureBoxShows, ItsImageIsTheInnerAreaAsPainted) {
    PictureBox box;
    box.resize(69, 69);
    box.SetPicture(GetParam().make());
    const QImage image = box.Image();
    const QRect inner = box.contentsRect();
    ASSERT_EQ(image.size(), inner.size());
    ASSERT_EQ(inner.size(), QSize(65, 65)) << "a two-pixel border";
    const QColor background = box.palette().color(QPalette::Base);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            QColor want = GetParam().at(x, y);
            if (!want.isValid()) want = background;
            if (image.pixelColor(x, y) != want) {
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << image.pixelColor(x, y).name().toStdString();
                return;
            }
        }
    // The widget paints exactly that bitmap inside its border.
    const QImage painted = box.grab().toImage().convertToFormat(QImage::Format_RGB32).copy(inner);
    EXPECT_EQ(painted, image.convertToFormat(QImage::Format_RGB32));
}

QColor None(int, int) { return {}; }

INSTANTIATE_TEST_SUITE_P(
    Pictures, PictureBoxShows,
    ::testing::Values(
        Shown{"NoPicture", [] { return QImage(); }, None},
        Shown{"SmallPictureAtTopLeft", [] { return Gradient(10, 5); },
              [](int x, int y) { return x < 10 && y < 5 ? Gradient(10, 5).pixelColor(x, y) : QColor(); }},
        Shown{"LargerPictureCutOff", [] { return Gradient(5000, 3000); },
              [](int x, int y) { return QColor(qRgb((x * 7) % 256, (y * 11) % 256, (x + y) % 256)); }},
        Shown{"TransparentPictureShowsTheBackground",
              [] {
                  QImage i(8, 8, QImage::Format_ARGB32);
                  i.fill(Qt::transparent);
                  return i;
              },
              None},
        Shown{"HighDensityPictureDrawnPixelForPixel",
              [] {
                  QImage i = Solid(20, 20, Qt::red);
                  i.setDevicePixelRatio(4.0);
                  return i;
              },
              [](int x, int y) { return x < 20 && y < 20 ? QColor(Qt::red) : QColor(); }},
        Shown{"OnePixelWidePicture", [] { return Solid(1, 200, Qt::blue); },
              [](int x, int) { return x == 0 ? QColor(Qt::blue) : QColor(); }}));

TEST(PictureBox, OddPicturesAndSizesNeverBreakIt) {
    QImage indexed(6, 6, QImage::Format_Indexed8);  // no colour table at all
    indexed.fill(3);
    QImage shortTable(6, 6, QImage::Format_Indexed8);  // indexes past its table
    shortTable.setColorTable({qRgb(1, 2, 3)});
    shortTable.fill(200);
    QImage mono(7, 7, QImage::Format_Mono);
    mono.fill(1);
    for (const QImage& picture : {indexed, shortTable, mono, QImage(0, 5, QImage::Format_RGB32)}) {
        for (QSize size : {QSize(69, 69), QSize(4, 4), QSize(0, 0)}) {
            PictureBox box;
            box.resize(size);
            box.SetPicture(picture);
            const QImage image = box.Image();
            const QSize inner = box.contentsRect().size();
            if (inner.isEmpty())
                EXPECT_TRUE(image.isNull());
            else
                EXPECT_EQ(image.size(), inner);
            box.grab();  // paints without crashing
        }
    }
}

}  // namespace
