#pragma once
// Bitmap pictures: loading a file as a picture and saving a picture as a
// bitmap file, behind an interface so that tests can put a fake in its place.
#include <QImage>
#include <string>

#include "os/files.h"

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

// The format of the picture file at `path` as Qt names it ("jpeg", "gif",
// "png"…), told from its content; empty when no decoder knows it. Raises
// as OpenPictureFile does.
QByteArray PictureFormatOf(const std::string& path);

// Why a picture could not be decoded, when it was not the picture's fault.
struct ReadProblem {
    std::string tooLarge;  // its declared size is over the limit: nothing was allocated
    std::string noMemory;  // memory ran out while decoding it (a memory limit, a full machine)
};

// Decodes what `reader` holds unless the size its header declares is over
// the limit of picture_header.h. A null image with `problem` empty means the
// data is no readable picture; otherwise `problem` says which of the two it
// was. Memory running out is never taken for a damaged picture.
QImage ReadWithinLimit(QImageReader& reader, ReadProblem& problem);

// Raises err::OutOfMemory naming `what` (a file or a row) and saying that the
// picture is not damaged.
[[noreturn]] void RaiseOutOfMemory(const std::string& what, const std::string& noMemory);
