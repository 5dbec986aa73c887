#include "store/names.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

bool IsBlankName(const std::string& name) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(name.data());
    const auto length = static_cast<std::int32_t>(name.size());
    for (std::int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) return false;
        if (!u_isUWhiteSpace(c) && !u_hasBinaryProperty(c, UCHAR_DEFAULT_IGNORABLE_CODE_POINT)) return false;
    }
    return true;
}
