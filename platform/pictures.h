#pragma once
// Bitmap pictures: loading a file as a picture and saving a picture as a
// bitmap file, behind an interface so that tests can put a fake in its place.
#include <QImage>
#include <string>

class QImageReader;

// An empty path loads the empty picture. Only a regular file within the size
// limit of picture_header.h is decoded; one that is missing, a folder or a
// special file, unreadable, too large, a cut-off bitmap or no readable
// picture raises an Error naming it (see OpenPictureFile).
class PictureService {
public:
    virtual ~PictureService() = default;
    virtual QImage LoadPicture(const std::string& path) = 0;
    // Writes `picture` as a bitmap file.
    virtual void SavePicture(const QImage& picture, const std::string& path) = 0;
};

class QtPictureService : public PictureService {
public:
    QImage LoadPicture(const std::string& path) override;
    void SavePicture(const QImage& picture, const std::string& path) override;
};

// Decodes what `reader` holds unless the size its header declares is over
// the limit of picture_header.h; then nothing is allocated, the image is null
// and `tooLarge` says why. Other failures leave `tooLarge` empty.
QImage ReadWithinLimit(QImageReader& reader, std::string& tooLarge);
