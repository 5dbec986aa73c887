#pragma once
// A picture file made ready to be stored whole, as `import` and the manager
// store it: a bitmap as it is, another format the picture services read
// converted to a bitmap first.
#include <QByteArray>
#include <cstdint>
#include <optional>
#include <string>

#include "os/temp_file.h"

struct ImportSource {
    std::string path;                       // the file to store
    std::int64_t bytes = 0;                 // its length
    QByteArray format;                      // "bmp", "png", "jpeg", "gif"…
    std::optional<AnonymousFile> converted; // holds `path` when converted
    bool Converted() const { return converted.has_value(); }
};

// Refuses, before any book is touched, a file the window could not show:
// missing, a folder or special file, not a picture, a bitmap cut off or too
// large (an Error naming the file). A bitmap is checked from its header and
// length, never decoded.
ImportSource PrepareImport(const std::string& file);
