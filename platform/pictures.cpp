#include "platform/pictures.h"

#include <QFile>
#include <QImageReader>

#include "platform/error.h"
#include "platform/picture_file.h"

QImage QtPictureService::LoadPicture(const std::string& path) {
    if (path.empty()) return {};
    const PictureFile file = OpenPictureFile(path);
    // The decoder reads the very file that was checked, not whatever the path names by then.
    QFile device;
    if (!device.open(file.fd.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        throw Error(err::PathFileAccess, "그림 파일 '" + path + "'을(를) 열 수 없습니다.");
    QImageReader reader(&device);
    std::string tooLarge;
    QImage image = ReadWithinLimit(reader, tooLarge);
    if (!tooLarge.empty()) RaiseInvalidPicture(path, tooLarge);
    if (image.isNull())
        RaiseInvalidPicture(path, "읽을 수 있는 그림 파일이 아닙니다 (" + reader.errorString().toStdString() + ")");
    return image;
}

QImage ReadWithinLimit(QImageReader& reader, std::string& tooLarge) {
    // Qt's own limit (128 MiB by default) is raised to ours, checked first.
    QImageReader::setAllocationLimit(static_cast<int>(kMaxPictureBytes >> 20));
    if (const QSize size = reader.size(); size.isValid()) {
        const QImage::Format format = reader.imageFormat();
        const unsigned bits = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
        tooLarge = SizeProblem(static_cast<std::uint64_t>(size.width()), static_cast<std::uint64_t>(size.height()), bits);
        if (!tooLarge.empty()) return {};
    }
    return reader.read();
}
