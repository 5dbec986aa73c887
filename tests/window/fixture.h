#pragma once
// A picture database in a temporary application folder, the fakes, and the
// window's controls found by their names.
#include <QBuffer>
#include <QComboBox>
#include <QPushButton>
#include <gtest/gtest.h>

#include "fakes.h"
#include "window/frmpicture.h"
#include "window/picturebox.h"

inline Bytes BmpBytes(const QImage& image) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return Bytes(data.begin(), data.end());
}

inline QImage Decode(const Bytes& bytes) {
    return QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()))
        .convertToFormat(QImage::Format_RGB32);
}

// A picture whose every pixel differs from its neighbours, so a shift or a
// scaling shows.
inline QImage Gradient(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb((x * 7) % 256, (y * 11) % 256, (x + y) % 256));
    return image;
}

inline QImage Solid(int w, int h, QColor colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

class WindowTest : public ::testing::Test {
protected:
    TempDir dir;
    const std::string db = dir.File("dojang.mdb");
    // Spelled as the window spells it (a backslash on Windows), so that the
    // fakes' faults meet the path the window asks for.
    const std::string transfer = JoinPath(dir.path(), "temp.bmp");
    ScriptedMessageBox messages;
    FaultyFileSystem files;
    FaultyPictureService pictures;
    ScriptedFileDialog dialog;

    void SetUp() override { MakePictureDb(db); }
    DesktopServices Services() { return {messages, files, pictures, dialog, dir.path()}; }
    void Insert(const std::string& name, const Bytes& pic) { RawInsert(db, &name, pic); }

    static QComboBox* Name(frmPicture& w) { return w.findChild<QComboBox*>("cboName"); }
    static PictureBox* Picture(frmPicture& w) { return w.findChild<PictureBox*>("picName"); }
    static QPushButton* Button(frmPicture& w, const char* name) { return w.findChild<QPushButton*>(name); }
    static QStringList Items(QComboBox* box) {
        QStringList items;
        for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
        return items;
    }
};

// Matches a message shown by the window's error boundary.
struct ErrorReport {
    int number;
    std::string mentions;
};
inline ::testing::AssertionResult IsErrorReport(const std::pair<std::string, int>& shown, const ErrorReport& e) {
    const auto& [text, style] = shown;
    if (style != vbCritical) return ::testing::AssertionFailure() << "style " << style << ": " << text;
    if (text.find("오류 번호: " + std::to_string(e.number)) == std::string::npos ||
        text.find(e.mentions) == std::string::npos)
        return ::testing::AssertionFailure() << "expected number " << e.number << " and '" << e.mentions
                                             << "' in: " << text;
    return ::testing::AssertionSuccess();
}
