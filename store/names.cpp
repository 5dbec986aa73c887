#include "store/names.h"

namespace {

bool Invisible(char32_t c) {
    switch (c) {
    case 0x20: case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F:
    case 0x3000:                                          // white space
    case 0x200B: case 0x200C: case 0x200D: case 0x2060: case 0xFEFF:  // zero width
    case 0x115F: case 0x1160: case 0x3164: case 0xFFA0:   // Hangul fillers
        return true;
    default: return (c >= 0x09 && c <= 0x0D) || (c >= 0x2000 && c <= 0x200A);
    }
}

}  // namespace

bool IsBlankName(const std::string& name) {
    for (std::size_t i = 0; i < name.size();) {
        const unsigned char lead = static_cast<unsigned char>(name[i]);
        const std::size_t length = lead < 0x80   ? 1
                                   : lead > 0xF4  ? 0
                                   : lead >= 0xF0 ? 4
                                   : lead >= 0xE0 ? 3
                                   : lead >= 0xC2 ? 2
                                                  : 0;
        if (length == 0 || i + length > name.size()) return false;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(name[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            c = (c << 6) | (next & 0x3F);
        }
        if (!Invisible(c)) return false;
        i += length;
    }
    return true;
}
