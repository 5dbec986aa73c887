#include "pictures/picture_header.h"

#include <algorithm>
#include <climits>

#include "os/byte_order.h"

namespace {

constexpr std::uint32_t kCoreHeader = 12;  // the old OS/2 header of 16-bit sizes
constexpr std::uint32_t kV4Header = 108;
enum Compression : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3 };

std::uint32_t U16(std::span<const std::uint8_t> b, std::size_t at) { return LoadLittle<std::uint16_t>(&b[at]); }
std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) { return LoadLittle<std::uint32_t>(&b[at]); }

// 1234567 as "1,234,567".
std::string Grouped(std::uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

std::string Cut(const std::string& why) { return "잘린 비트맵입니다 (" + why + ")"; }
std::string Malformed(const std::string& why) { return "올바르지 않은 비트맵입니다 (" + why + ")"; }

std::string Checked(std::span<const std::uint8_t> head, std::uint64_t length, int& shownWidth, int& shownHeight) {
    if (head.size() < 18) return Cut("머리글이 다 없습니다");
    const std::uint32_t infoSize = U32(head, 14);
    if (infoSize != kCoreHeader && infoSize != 40 && infoSize != 64 && infoSize != kV4Header && infoSize != 124)
        return Malformed("정보 머리글 " + std::to_string(infoSize) + " 바이트");
    if (head.size() < 14 + infoSize) return Cut("머리글이 다 없습니다");

    const bool core = infoSize == kCoreHeader;
    // The core header's sizes are signed 16-bit, the later ones signed 32-bit.
    const std::int64_t width = core ? static_cast<std::int16_t>(U16(head, 18)) : static_cast<std::int32_t>(U32(head, 18));
    const std::int64_t height = core ? static_cast<std::int16_t>(U16(head, 20)) : static_cast<std::int32_t>(U32(head, 22));
    const std::uint32_t planes = U16(head, core ? 22 : 26);
    const std::uint32_t bits = U16(head, core ? 24 : 28);
    const std::uint32_t compression = core ? kRgb : U32(head, 30);
    const std::uint32_t imageSize = core ? 0 : U32(head, 34);
    const std::uint32_t coloursUsed = core ? 0 : U32(head, 46);

    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return Malformed("색 깊이 " + std::to_string(bits) + "비트");
    if (planes != 1) return Malformed("면 수 " + std::to_string(planes));
    const bool known = compression == kRgb || (compression == kRle8 && bits == 8) ||
                       (compression == kRle4 && bits == 4) || (compression == kBitfields && (bits == 16 || bits == 32));
    if (!known) return Malformed(std::to_string(bits) + "비트에 압축 방식 " + std::to_string(compression));
    if (width <= 0 || height == 0 || height == INT_MIN)
        return Malformed("크기 " + std::to_string(width) + "×" + std::to_string(height));
    const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
    const std::uint64_t columns = static_cast<std::uint64_t>(width);
    // Decoded as one bit, one byte or four bytes a pixel.
    if (std::string tooLarge = SizeProblem(columns, rows, bits == 1 ? 1 : bits <= 8 ? 8 : 32); !tooLarge.empty())
        return tooLarge;

    const std::uint32_t colours = bits <= 8 ? (coloursUsed ? coloursUsed : 1u << bits) : 0;
    if (colours > 256) return Malformed("색 " + std::to_string(colours) + "개");
    // Colour masks follow a header too short to hold them.
    const bool masksAfter = compression == kBitfields && infoSize < kV4Header;
    if (masksAfter && head.size() < 14 + infoSize + 12) return Cut("머리글이 다 없습니다");
    if (compression == kBitfields) {
        // A mask of all bits has no shift the reader can scale.
        const std::size_t masks = 14 + (masksAfter ? infoSize : 40);
        for (std::size_t i = 0; i < (infoSize >= kV4Header ? 4u : 3u); ++i)
            if (U32(head, masks + 4 * i) == 0xffffffffu) return Malformed("색 마스크");
    }

    const std::uint32_t declared = U32(head, 2);
    if (declared > length)
        return Cut("머리글에는 " + std::to_string(declared) + " 바이트, 실제로는 " + std::to_string(length) + " 바이트");
    const std::uint64_t tableEnd = 14 + infoSize + (masksAfter ? 12 : 0) + std::uint64_t{colours} * (core ? 3 : 4);
    // The reader wants a byte after the colour table, the first of the pixels.
    if (colours > 0 && tableEnd >= length) return Cut("색표가 파일 끝을 넘습니다");
    // A pixel offset inside the headers is ignored, as the reader ignores it.
    const std::uint64_t pixels = std::max<std::uint64_t>(U32(head, 10), tableEnd);
    const std::uint64_t held = length > pixels ? length - pixels : 0;
    if (compression == kRle8 || compression == kRle4) {
        if (held == 0) return Cut("픽셀 데이터가 없습니다");
        if (imageSize > held)
            return Cut("머리글에는 픽셀 데이터 " + std::to_string(imageSize) + " 바이트, 실제로는 " +
                       std::to_string(held) + " 바이트");
    } else {
        const std::uint64_t needed = (columns * bits + 31) / 32 * 4 * rows;
        if (needed > held)
            return Cut(std::to_string(columns) + "×" + std::to_string(rows) + " 픽셀 " + std::to_string(bits) +
                       "비트에 픽셀 데이터 " + std::to_string(needed) + " 바이트가 필요한데 " + std::to_string(held) +
                       " 바이트뿐입니다");
    }
    shownWidth = static_cast<int>(columns);
    shownHeight = static_cast<int>(rows);
    return {};
}

}  // namespace

std::string SizeProblem(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel) {
    // Rows padded to 4 bytes, as decoded images are; the limits keep every product in range.
    const bool fits = width <= kMaxPicturePixels && height <= kMaxPicturePixels && width * height <= kMaxPicturePixels &&
                      (width * bitsPerPixel + 31) / 32 * 4 * height <= kMaxPictureBytes;
    if (fits) return {};
    return "너무 큰 그림입니다 (" + Grouped(width) + "×" + Grouped(height) + " 픽셀: 픽셀 " + Grouped(kMaxPicturePixels) +
           "개, 풀어서 " + Grouped(kMaxPictureBytes >> 20) + " MiB까지 열 수 있습니다)";
}

BitmapCheck CheckBitmap(std::span<const std::uint8_t> head, std::uint64_t length) {
    BitmapCheck check;
    check.bitmap = head.size() >= 2 && head[0] == 'B' && head[1] == 'M';
    if (check.bitmap) check.problem = Checked(head, length, check.width, check.height);
    return check;
}
