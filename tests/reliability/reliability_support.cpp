#include "reliability_support.h"

#include <cstring>

#include "engine/workspace/workspace.h"
#include "os/files.h"
#include "store/connection.h"
#include "store/transfer.h"

namespace {
constexpr char kMagic[] = "KALDORIA-SAVE\n";

std::uint64_t Seed(const std::string& name, long long generation) {
    std::uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : name) h = (h ^ c) * 1099511628211ULL;
    return h ^ (static_cast<std::uint64_t>(generation) * 0x9E3779B97F4A7C15ULL);
}

std::uint8_t Next(std::uint64_t& state) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<std::uint8_t>(state >> 24);
}

std::string Header(const std::string& name, long long generation, std::size_t size) {
    // The name goes last with its length, so any byte may appear in it.
    return std::string(kMagic) + std::to_string(generation) + "\n" + std::to_string(size) + "\n" +
           std::to_string(name.size()) + "\n" + name;
}
}  // namespace

Bytes StampedPicture(const std::string& name, long long generation, std::size_t size) {
    std::string header = Header(name, generation, size);
    Bytes out(header.begin(), header.end());
    std::uint64_t state = Seed(name, generation) | 1;
    out.reserve(out.size() + size);
    for (std::size_t i = 0; i < size; ++i) out.push_back(Next(state));
    return out;
}

std::optional<PictureStamp> ReadStamp(const Bytes& value) {
    std::string text(value.begin(), value.end());
    const std::size_t magic = std::strlen(kMagic);
    if (text.compare(0, magic, kMagic) != 0) return std::nullopt;
    std::size_t pos = magic;
    auto number = [&](long long& out) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos || end == pos || end - pos > 18) return false;
        out = 0;
        for (std::size_t i = pos; i < end; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            out = out * 10 + (text[i] - '0');
        }
        pos = end + 1;
        return true;
    };
    long long generation = 0, size = 0, nameLength = 0;
    if (!number(generation) || !number(size) || !number(nameLength)) return std::nullopt;
    if (pos + static_cast<std::size_t>(nameLength) > text.size()) return std::nullopt;
    PictureStamp stamp{text.substr(pos, static_cast<std::size_t>(nameLength)), generation};
    if (value != StampedPicture(stamp.name, stamp.generation, static_cast<std::size_t>(size))) return std::nullopt;
    return stamp;
}

long StartUpReads(const std::string& appFolder) {
    Workspace wrkPIC;
    Database dbsPIC;
    OpenPICDB(wrkPIC, dbsPIC, appFolder);
    const long count = ReadStartUp(dbsPIC, appFolder);
    ClosePICDB(wrkPIC, dbsPIC);
    return count;
}

long ReadStartUp(Database& dbsPIC, const std::string& appFolder) {
    Recordset names = dbsPIC.OpenRecordset("SELECT pic_name FROM pic_list", dbOpenSnapshot);
    long count = 0;
    if (names.RecordCount() > 0) {
        names.MoveFirst();
        while (!names.EOF_()) {
            (void)TextOf(names.Fields(0).Value());
            ++count;
            names.MoveNext();
        }
    }
    names.Close();
    Recordset def = dbsPIC.OpenRecordset("SELECT * FROM pic_list WHERE  pic_name = '도장'", dbOpenSnapshot);
    if (def.RecordCount() != 0) {
        LocalFileSystem files;
        PICFieldToFile(def.Fields("pic"), TransferFilePath(appFolder), files);
    }
    def.Close();
    return count;
}
