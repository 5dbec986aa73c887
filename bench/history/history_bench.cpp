// What the history costs a save: two books of 1,000 real-size stamps (64×64
// bitmaps of 12,342 bytes), one with the history and one without, each saved
// over by the window's own save (StorePicture) in turn, alternating between
// the two. Prints the median time of a replacing save on each, and how many
// bytes each file grew per save; then the same for two linked books on a
// throwaway PostgreSQL server (skipped where it is not installed), whose
// growth is that of the server's database.
//
//   bench_history [--quick]        --quick: 20 saves on each book instead of 200
#include <sys/stat.h>

#include <filesystem>

#include "bench/bench_util.h"
#include "bench/picture_db.h"
#include "engine/workspace/link_maker.h"
#include "engine/workspace/workspace.h"
#include "os/files.h"
#include "store/connection.h"
#include "store/history.h"
#include "store/picture_table.h"
#include "store/save.h"
#include "tests/pg/pg_server.h"

namespace fs = std::filesystem;

namespace {

constexpr int kStamps = 1000;

// A 64×64 bitmap, different for every stamp and every save.
Bytes Stamp(int i) {
    return bench::Bitmap(64, 64, [i](int x, int y) {
        return static_cast<std::uint32_t>((x * 2654435761u) ^ (y * 40503u) ^ (static_cast<unsigned>(i) * 97u)) & 0xffffff;
    });
}

long long FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

std::string Name(int i) { return "stamp-" + std::to_string(1000000 + i).substr(1); }

// Fills a book that has its pic_list (and, when asked, its history).
void Fill(const std::string& path, bool history) {
    Workspace ws = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
    Database db = ws.OpenDatabase(path);
    if (!db.Server().empty()) CreatePictureTable(db);
    if (history) EnableHistory(db);
    Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
    Transaction t(db);
    for (int i = 0; i < kStamps; ++i) {
        rs.AddNew();
        rs.Fields("pic").AppendChunk(Stamp(i));
        rs.Fields("pic_name").SetValue(Name(i));
        rs.Update();
    }
    rs.Close();
    t.Commit();
    ws.Close();
}

// What a book takes: the file, or on a server the database's size.
long long Size(const std::string& path, const PgServer* server, const std::string& database) {
    if (!server) return FileSize(path);
    return std::stoll(server->Query("SELECT pg_database_size('" + database + "')"));
}

// Saves over the two books in turn and prints the figures.
void Compare(const char* kind, const std::string& plain, const std::string& kept, const std::string& folder,
             const PgServer* server, int saves) {
    Fill(plain, false);
    Fill(kept, true);
    const long long plainBefore = Size(plain, server, "plain"), keptBefore = Size(kept, server, "kept");
    Workspace ws = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
    Database plainDb = ws.OpenDatabase(plain), keptDb = ws.OpenDatabase(kept);
    LocalFileSystem files;
    bench::RecordingBox messages;
    const std::string transfer = folder + "/temp.bmp";
    std::vector<double> withHistory, without;
    for (int s = 0; s < saves; ++s) {
        // Every save replaces a different stamp, spread over the whole book.
        const int i = (s * 379) % kStamps;
        const Bytes picture = Stamp(kStamps + s);
        std::FILE* f = std::fopen(transfer.c_str(), "wb");
        std::fwrite(picture.data(), 1, picture.size(), f);
        std::fclose(f);
        for (bool history : {s % 2 == 0, s % 2 != 0}) {
            const double t0 = bench::Now();
            if (!StorePicture(history ? keptDb : plainDb, Name(i), transfer, files, messages))
                throw std::runtime_error("the save failed");
            (history ? withHistory : without).push_back(bench::Now() - t0);
        }
    }
    const long versions = static_cast<long>(ListVersions(keptDb, std::nullopt).size());
    ws.Close();
    const double a = bench::Median(without), b = bench::Median(withHistory);
    const double grewPlain = static_cast<double>(Size(plain, server, "plain") - plainBefore) / saves;
    const double grewKept = static_cast<double>(Size(kept, server, "kept") - keptBefore) / saves;
    std::printf("\n%s: books of %d stamps of %zu bytes; %d replacing saves on each, alternating; %ld versions kept\n",
                kind, kStamps, Stamp(0).size(), saves, versions);
    std::printf("%-36s %8.2f ms   grew %8.0f bytes per save\n", "save, book without history", a * 1000, grewPlain);
    std::printf("%-36s %8.2f ms   grew %8.0f bytes per save\n", "save, book with history", b * 1000, grewKept);
    std::printf("%-36s %8.2f\n", "time ratio with / without", b / a);
}

int Run(int saves) {
    const fs::path dir = fs::temp_directory_path() / ("kaldoria-bench-history-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::printf("machine: %s\n", bench::Machine(dir.string()).c_str());
    {
        const std::string plain = (dir / "plain.mdb").string(), kept = (dir / "kept.mdb").string();
        CreatePICDB(plain);
        CreatePICDB(kept);
        Compare("local books", plain, kept, dir.string(), nullptr, saves);
    }
    if (PgServer::BinDir().empty()) {
        std::printf("\nlinked books: skipped, PostgreSQL is not installed\n");
    } else {
        PgServer server((dir / "pg").string(), /*durable=*/true);
        server.Sql("CREATE DATABASE plain");
        server.Sql("CREATE DATABASE kept");
        const std::string plain = (dir / "plain-link.mdb").string(), kept = (dir / "kept-link.mdb").string();
        CreateLinkFile(plain, server.Conninfo("postgres", "plain"));
        CreateLinkFile(kept, server.Conninfo("postgres", "kept"));
        Compare("linked books (PostgreSQL, fsync on)", plain, kept, dir.string(), &server, saves);
    }
    fs::remove_all(dir);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    return bench::Main("bench_history", [&] {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (!mode.empty() && mode != "--quick") {
            std::fprintf(stderr, "usage: %s [--quick]\n", argv[0]);
            return 2;
        }
        return Run(mode == "--quick" ? 20 : 200);
    });
}
