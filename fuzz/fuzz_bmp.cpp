// Arbitrary bytes as a bitmap file chosen by the user: loaded through the
// picture service and shown in the picture box, whose image is then taken,
// as the open-picture and save commands do. A file that is no picture must
// end in an Error; nothing may crash, leak or hang.
#include <QApplication>
#include <QImage>
#include <cstdlib>

#include "fuzz_support.h"
#include "pictures/pictures.h"
#include "os/error.h"
#include "window/picturebox.h"

namespace {
// The box's outer size in the window: 1030 twips.
constexpr int kBoxSide = 69;

// The image of the box showing `picture`, and the size that image must have.
QImage ShownImage(const QImage& picture, QSize& inner) {
    static PictureBox* box = [] {
        auto* b = new PictureBox;
        b->setFixedSize(kBoxSide, kBoxSide);
        return b;
    }();
    box->SetPicture(picture);
    inner = box->contentsRect().size();
    return box->Image();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "fuzz_bmp";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = ScratchFolder() + "/input.bmp";
    WriteFile(path, data, size);
    QtPictureService pictures;
    QImage picture;
    try {
        picture = pictures.LoadPicture(path);
    } catch (const Error& e) {
        if (e.Number() != err::InvalidPicture) Fail("unexpected error " + std::to_string(e.Number()));
        return 0;
    }
    if (picture.isNull()) Fail("a null picture was returned without an Error");
    QSize inner;
    QImage shown = ShownImage(picture, inner);
    if (shown.isNull() || shown.size() != inner) Fail("the box's image is not its inner area");
    return 0;
}
