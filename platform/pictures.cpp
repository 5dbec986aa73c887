#include "platform/pictures.h"

#include <QFileInfo>
#include <QImageReader>

#include "platform/error.h"

QImage QtPictureService::LoadPicture(const std::string& path) {
    if (path.empty()) return {};
    const QString file = QString::fromStdString(path);
    QFileInfo info(file);
    if (!info.exists() || info.isDir())
        throw Error(err::FileNotFound, "그림 파일 '" + path + "'을(를) 찾을 수 없습니다.");
    QImageReader reader(file);
    QImage image = reader.read();
    if (image.isNull())
        throw Error(err::InvalidPicture, "'" + path + "'은(는) 읽을 수 있는 그림 파일이 아닙니다 (" +
                                             reader.errorString().toStdString() + ").");
    return image;
}
