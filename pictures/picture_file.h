#pragma once
// Opening a file chosen as a picture. Only a regular file is read, so a FIFO
// or a device never blocks the program; a bitmap is checked from its header
// and length (picture_header.h) before anything decodes it.
#include <cstdint>
#include <string>

#include "pictures/picture_header.h"
#include "os/unique_fd.h"

struct PictureFile {
    UniqueFd fd;  // open for reading, at the first byte
    std::uint64_t length = 0;
    BitmapCheck bitmap;  // bitmap.bitmap false: another format, for the decoder to tell
};

// Opens `path` for reading without blocking. Raises an Error naming the
// file: the system's (err::FileNotFound, err::PermissionDenied...) when it
// cannot be opened, err::PathFileAccess for a folder or any file that is not
// a regular one, err::InvalidPicture for a bitmap that cannot be shown.
PictureFile OpenPictureFile(const std::string& path);

// Raises err::InvalidPicture: "'<path>'은/는 <problem>." (the particle chosen by the path)
[[noreturn]] void RaiseInvalidPicture(const std::string& path, const std::string& problem);
