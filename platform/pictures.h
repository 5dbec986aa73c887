#pragma once
// Bitmap pictures: loading a file as a picture and saving a picture as a
// bitmap file, behind an interface so that tests can put a fake in its place.
#include <QImage>
#include <string>

// An empty path loads the empty picture; a file that is missing or not a
// readable picture raises err::FileNotFound or err::InvalidPicture naming it.
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
