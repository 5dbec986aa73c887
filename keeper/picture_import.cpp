#include "keeper/picture_import.h"

#include "os/paths.h"
#include "pictures/picture_file.h"
#include "pictures/pictures.h"

ImportSource PrepareImport(const std::string& file) {
    const PictureFile picture = OpenPictureFile(file);
    ImportSource source;
    if (picture.bitmap.bitmap) {
        source.path = file;
        source.bytes = static_cast<std::int64_t>(picture.length);
        source.format = "bmp";
        return source;
    }
    QtPictureService pictures;
    const QImage image = pictures.LoadPicture(file);
    source.format = PictureFormatOf(file);
    pictures.SavePicture(image, source.converted.emplace().Path());
    source.path = source.converted->Path();
    const PathFacts facts = StatPath(source.path);
    source.bytes = facts.Exists() ? facts.size : -1;
    return source;
}
