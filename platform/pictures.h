#pragma once
// Bitmap pictures: loading a file as a picture and saving a picture as a
// bitmap file, behind an interface so that tests can put a fake in its place.
#include <QImage>
#include <string>

#include "platform/files.h"

// An empty path loads the empty picture; a file that is missing or not a
// readable picture raises err::FileNotFound or err::InvalidPicture naming it.
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
