#pragma once
// What a picture's first bytes say before anything decodes it: the one size
// limit of every picture the programs open, and the check of a bitmap file
// from its header and its length alone, in bounded memory.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// A picture opens when it has at most this many pixels (Qt's bitmap reader
// takes no more) and its decoded image fits in kMaxPictureBytes; at 32 bits
// per pixel the two limits meet.
inline constexpr std::uint64_t kMaxPicturePixels = 16384ull * 16384;
inline constexpr std::uint64_t kMaxPictureBytes = 1ull << 30;

// Why a picture of width × height pixels, decoded at `bitsPerPixel`, is too
// large to open; an empty text when it is not.
std::string SizeProblem(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel);

// Bytes enough of a file's start for CheckBitmap: the file header, the
// largest info header and the colour masks that may follow a short one.
inline constexpr std::size_t kBitmapHeadBytes = 14 + 124 + 12;

struct BitmapCheck {
    bool bitmap = false;        // the file starts with "BM"
    std::string problem;        // why it cannot be shown; empty when it can or is no bitmap
    int width = 0, height = 0;  // its size when it can be shown
};

// Checks a bitmap file of `length` bytes that starts with `head` (at least
// kBitmapHeadBytes of it, or all of a shorter file) the way the picture
// services read one: header fields they accept, the size limit, and a colour
// table and pixel data that lie within the file. Uncompressed pixel data is
// counted exactly (rows padded to 4 bytes); run-length data must at least
// start, and end where the header says, within the file.
BitmapCheck CheckBitmap(std::span<const std::uint8_t> head, std::uint64_t length);
