#pragma once
// Bitmap pictures: loading a file as a picture and saving a picture as a
// bitmap file, behind an interface so that tests can put a fake in its place.
#include <QImage>
#include <string>

#include "platform/files.h"

class QImageReader;

// An empty path loads the empty picture. Only a regular file within the size
// limit of picture_header.h is decoded; one that is missing, a folder or a
// special file, unreadable, too large, a cut-off bitmap or no readable
// picture raises an Error naming it (see OpenPictureFile).
class PictureService {
public:
    virtual ~PictureService() = default;
    virtual QImage LoadPicture(const std::string& path) = 0;
    // Writes `picture` as a bitmap file into `file` (new and empty) and makes
    // sure it is there whole: every write checked, and the file as long as
    // the bitmap's header declares. Raises an Error naming `name` otherwise
    // (err::DiskFull on a full disk); `file` is left for the caller to close.
    virtual void WriteBitmap(const QImage& picture, BinaryFile& file, const std::string& name) = 0;
    // The same into the existing file at `path`, emptied first, then closed.
    void SavePicture(const QImage& picture, const std::string& path);
};

class QtPictureService : public PictureService {
public:
    QImage LoadPicture(const std::string& path) override;
    void WriteBitmap(const QImage& picture, BinaryFile& file, const std::string& name) override;
};

// Decodes what `reader` holds unless the size its header declares is over
// the limit of picture_header.h; then nothing is allocated, the image is null
// and `tooLarge` says why. Other failures leave `tooLarge` empty.
QImage ReadWithinLimit(QImageReader& reader, std::string& tooLarge);
