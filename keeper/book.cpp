#include "keeper/book.h"

#include <cstdint>
#include <cstdio>

#include "store/picture_table.h"

OpenedDatabase::OpenedDatabase(const std::string& path, bool readOnly) {
    ws_ = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
    db_ = ws_.OpenDatabase(path, readOnly);
    CheckPictureTable(db_);
}

OpenedDatabase::~OpenedDatabase() {
    try {
        ws_.Close();
    } catch (...) {
        // Closing a read or a committed write loses nothing; the process ends next.
    }
}

std::string ShownName(const Variant& name) {
    if (IsNull(name)) return "Null";
    // A name stored as bytes is no text any name typed could match; it shows
    // as the SQL literal that does match it.
    if (const Bytes* bytes = std::get_if<Bytes>(&name)) {
        std::string shown = "x'";
        for (std::uint8_t b : *bytes) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X", b);
            shown += hex;
        }
        return shown + "'";
    }
    const std::string text = TextOf(name);
    std::string shown;
    shown.reserve(text.size() + 2);
    shown += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            shown += '\\';
            shown += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown + "\"";
}
