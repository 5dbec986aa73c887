#pragma once
// Unsigned integers stored as bytes in a set order: file headers (bitmap,
// SQLite, Jet), PostgreSQL's binary values and the Jet reader's frames.
// C++20's std::endian says the machine's own order; the swap is the
// compiler's, as on every compiler the program is built with.
#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>

namespace byteorder_detail {
template <std::unsigned_integral T>
constexpr T Swapped(T v) {
    if constexpr (sizeof(T) == 1) return v;
    else if constexpr (sizeof(T) == 2) return __builtin_bswap16(v);
    else if constexpr (sizeof(T) == 4) return __builtin_bswap32(v);
    else return __builtin_bswap64(v);
}
template <std::unsigned_integral T>
constexpr T Ordered(T v, std::endian order) {
    return order == std::endian::native ? v : Swapped(v);
}
}  // namespace byteorder_detail

// The value of sizeof(T) bytes at `p` in the given order.
template <std::unsigned_integral T>
T LoadBig(const void* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return byteorder_detail::Ordered(v, std::endian::big);
}
template <std::unsigned_integral T>
T LoadLittle(const void* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return byteorder_detail::Ordered(v, std::endian::little);
}

// Writes `v` as sizeof(T) bytes at `p`, or appends them to a byte container.
template <std::unsigned_integral T>
void StoreLittle(T v, void* p) {
    v = byteorder_detail::Ordered(v, std::endian::little);
    std::memcpy(p, &v, sizeof v);
}
template <std::unsigned_integral T, class Container>
void AppendBig(Container& out, T v) {
    v = byteorder_detail::Ordered(v, std::endian::big);
    const auto* bytes = reinterpret_cast<const char*>(&v);
    out.insert(out.end(), bytes, bytes + sizeof v);
}
template <std::unsigned_integral T, class Container>
void AppendLittle(Container& out, T v) {
    v = byteorder_detail::Ordered(v, std::endian::little);
    const auto* bytes = reinterpret_cast<const char*>(&v);
    out.insert(out.end(), bytes, bytes + sizeof v);
}
