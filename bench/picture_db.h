#pragma once
// Picture databases for the benchmarks: a fresh one as the sqlite3 shell
// makes it, small bitmap files made in memory, and a dojang.mdb of any number
// of rows made with the program's own schema and filled through SQLite
// directly (fast, one transaction).
#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "engine/engine.h"
#include "store/connection.h"

namespace bench {

// A fresh database at `path` made the way the sqlite3 shell makes one.
inline void FreshDatabase(const std::string& path) {
    std::filesystem::remove(path);
    std::filesystem::remove(path + "-journal");
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
        sqlite3_exec(db, "CREATE TABLE pic_list (pic_name TEXT, pic BLOB)", nullptr, nullptr, nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot create " + path);
    sqlite3_close(db);
}

// A 24-bit bottom-up bitmap file; `pixel(x, y)` gives 0xRRGGBB.
inline Bytes Bitmap(int width, int height, const std::function<std::uint32_t(int, int)>& pixel) {
    const int stride = (width * 3 + 3) & ~3;
    const std::uint32_t imageSize = static_cast<std::uint32_t>(stride * height);
    const std::uint32_t fileSize = 54 + imageSize;
    Bytes b(fileSize, 0);
    auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    put(2, fileSize, 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, static_cast<std::uint32_t>(width), 4);
    put(22, static_cast<std::uint32_t>(height), 4);
    put(26, 1, 2);
    put(28, 24, 2);
    put(34, imageSize, 4);
    put(38, 3780, 4);  // 96 DPI
    put(42, 3780, 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint32_t rgb = pixel(x, y);
            std::size_t at = 54 + static_cast<std::size_t>((height - 1 - y) * stride + x * 3);
            b[at] = static_cast<std::uint8_t>(rgb), b[at + 1] = static_cast<std::uint8_t>(rgb >> 8),
            b[at + 2] = static_cast<std::uint8_t>(rgb >> 16);
        }
    return b;
}

// The stamp every database holds under "도장": a red ring on white, 60 x 60.
inline Bytes StampBitmap() {
    return Bitmap(60, 60, [](int x, int y) {
        int dx = x - 30, dy = y - 30, r2 = dx * dx + dy * dy;
        return r2 <= 27 * 27 && r2 >= 22 * 22 ? 0xD01010u : 0xFFFFFFu;
    });
}

// Makes `path` with the program's schema and `rows` rows: small 16 x 16
// bitmaps named "stamp-000001"..., with "도장" in the middle when rows > 0.
inline void MakePictureDatabase(const std::string& path, int rows) {
    CreatePICDB(path);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open " + path);
    sqlite3_stmt* insert = nullptr;
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO pic_list (pic_name, pic) VALUES (?, ?)", -1, &insert, nullptr);
    const Bytes stamp = StampBitmap();
    for (int i = 1; i <= rows; ++i) {
        std::string name;
        Bytes pic;
        if (i == rows / 2 + 1) {
            name = "도장";
            pic = stamp;
        } else {
            char text[32];
            std::snprintf(text, sizeof text, "stamp-%06d", i);
            name = text;
            pic = Bitmap(16, 16, [i](int x, int y) { return static_cast<std::uint32_t>((i * 2654435761u) ^ (x * 16 + y)); });
        }
        sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_blob(insert, 2, pic.data(), static_cast<int>(pic.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(insert) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db));
    sqlite3_close(db);
}

}  // namespace bench
