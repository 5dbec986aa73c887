// Big books: kaldoria-db list, check and export --all on books of 100,000
// and 1,000,000 small bitmaps, against the engine alone reading the same
// (the sqlite3 shell, or psql for a linked book), with each command's peak
// memory. Every command is a whole process, its output thrown away, timed
// from fork to exit; the two sides alternate run by run.
//   bench_big [--quick] [--rows N] [--runs N] [--export-runs N] [--linked]
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "engine/postgres/link.h"
#include "engine/workspace/link_maker.h"
#include "tests/pg/pg_server.h"

namespace fs = std::filesystem;

namespace {

// A 4 × 4 24-bit bitmap of 102 bytes, in hex for the shell.
const char* const kBitmapHex =
    "424d66000000000000003600000028000000040000000400000001001800000000003000000013"
    "0b0000130b000000000000000000000000ff0000ff0000ff0000ff0000ff0000ff0000ff0000ff"
    "0000ff0000ff0000ff0000ff0000ff0000ff0000ff0000ff";

const char* const kRead = "SELECT pic_name, length(pic), substr(pic,1,54) FROM pic_list";

struct Timed {
    double seconds = 0;
    long maxRssKib = 0;
};

// Runs `argv` with its output going to `out` (thrown away by default).
Timed RunQuiet(const std::vector<std::string>& argv, const std::string& out = "/dev/null") {
    const double start = bench::Now();
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Timed t{bench::Now() - start, usage.ru_maxrss};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string cmd;
        for (const auto& a : argv) cmd += a + " ";
        throw std::runtime_error("failed: " + cmd + "(output in " + out + ")");
    }
    return t;
}

std::string Lines(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "?";
    long n = 0;
    for (int c; (c = std::fgetc(f)) != EOF;) n += c == '\n';
    std::fclose(f);
    return std::to_string(n);
}

// The book of `rows` bitmaps, made once with the shell and kept for later
// runs in the benchmark's folder.
std::string Book(const fs::path& dir, long rows) {
    const std::string path = (dir / ("book-" + std::to_string(rows) + ".mdb")).string();
    if (fs::exists(path)) return path;
    const std::string tmp = path + ".part";
    fs::remove(tmp);
    RunQuiet({"sqlite3", tmp,
              "CREATE TABLE pic_list (pic_name TEXT, pic BLOB); CREATE INDEX pic_list_pic_name ON pic_list (pic_name);"
              "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < " + std::to_string(rows) +
                  ") INSERT INTO pic_list SELECT 'stamp ' || i, X'" + kBitmapHex + "' FROM c"});
    fs::rename(tmp, path);
    return path;
}

struct Side {
    std::vector<double> seconds;
    long maxRssKib = 0;
    void Add(const Timed& t) {
        seconds.push_back(t.seconds);
        maxRssKib = std::max(maxRssKib, t.maxRssKib);
    }
    double Median() const { return bench::Median(seconds); }
};

void Report(const char* what, long rows, const Side& ours, const Side& engine, const char* goal) {
    const double ratio = ours.Median() / engine.Median();
    std::printf("%-22s %9ld rows  ours %8.3f s (%6.2f µs/row, peak %6.1f MiB)  engine %8.3f s (peak %6.1f MiB)  ratio %5.2f%s\n",
                what, rows, ours.Median(), ours.Median() / rows * 1e6, ours.maxRssKib / 1024.0, engine.Median(),
                engine.maxRssKib / 1024.0, ratio, goal);
    std::fflush(stdout);
}

void RemoveAll(const std::string& dir) {
    std::error_code ec;
    fs::remove_all(dir, ec);
}

// list, check and export --all of one local book against the sqlite3 shell.
void Local(const fs::path& dir, long rows, int runs, int exportRuns) {
    const std::string book = Book(dir, rows);
    const std::string out = (dir / "out").string(), listed = (dir / "listed.txt").string();
    Side list, shellList, check, shellCheck, exported, shellExport, floor;
    for (int r = 0; r < runs; ++r) {
        list.Add(RunQuiet({KALDORIA_DB, "list", book}, listed));
        shellList.Add(RunQuiet({"sqlite3", book, kRead}));
        check.Add(RunQuiet({KALDORIA_DB, "check", book}));
        shellCheck.Add(RunQuiet({"sqlite3", book, std::string("PRAGMA integrity_check; ") + kRead}));
    }
    // One line a row and the count: every row was read.
    if (Lines(listed) != std::to_string(rows + 1)) throw std::runtime_error("list printed " + Lines(listed) + " lines");
    Report("list", rows, list, shellList, "  (goal ≤ 2)");
    Report("check", rows, check, shellCheck, "  (goal ≤ 2)");
    for (int r = 0; r < exportRuns; ++r) {
        RemoveAll(out);
        exported.Add(RunQuiet({KALDORIA_DB, "export", book, "--all", out}));
        const std::string last = out + "/stamp " + std::to_string(rows) + ".bmp";
        if (!fs::exists(last) || fs::file_size(last) != 102) throw std::runtime_error("export missed " + last);
        RemoveAll(out);
        fs::create_directories(out);
        floor.Add(RunQuiet({PARALLEL_WRITER, out, std::to_string(rows)}));
        RemoveAll(out);
        fs::create_directories(out);
        shellExport.Add(RunQuiet({"sqlite3", book, "SELECT writefile('" + out + "/' || pic_name || '.bmp', pic) FROM pic_list"}));
    }
    RemoveAll(out);
    if (exportRuns > 0) {
        Report("export --all", rows, exported, floor, "  (goal ≤ 1.5 the same files written and flushed in parallel)");
        Report("export --all", rows, exported, shellExport, "  (shell: writefile, no fsync)");
    }
}

// A book of one-byte values, none of them a picture: every row goes to the
// picture services' format guess.
void NonPictures(const fs::path& dir, long rows, int runs) {
    const std::string path = (dir / ("bytes-" + std::to_string(rows) + ".mdb")).string();
    if (!fs::exists(path))
        RunQuiet({"sqlite3", path,
                  "CREATE TABLE pic_list (pic_name TEXT, pic BLOB); WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                  "FROM c WHERE i < " + std::to_string(rows) + ") INSERT INTO pic_list SELECT 'stamp ' || i, X'00' FROM c"});
    Side list, shellList;
    for (int r = 0; r < runs; ++r) {
        list.Add(RunQuiet({KALDORIA_DB, "list", path}));
        shellList.Add(RunQuiet({"sqlite3", path, kRead}));
    }
    Report("list, 1-byte values", rows, list, shellList, "");
}

// The same three commands on a linked book of `rows` bitmaps on a throwaway
// server, against psql reading the same columns.
void Linked(const fs::path& dir, long rows, int runs, int exportRuns) {
    if (PgServer::BinDir().empty()) throw std::runtime_error("PostgreSQL is not installed");
    // A fresh server folder, removed afterwards; the books stay for later runs.
    const fs::path serverDir = dir / ("pg-" + std::to_string(::getpid()));
    struct Removed {
        fs::path p;
        ~Removed() { RemoveAll(p.string()); }
    } removed{serverDir};
    PgServer server(serverDir.string(), /*durable=*/true);
    server.Sql("CREATE TABLE pic_list (pic_name text, pic bytea); ALTER TABLE pic_list ALTER COLUMN pic SET STORAGE EXTERNAL;"
               "CREATE INDEX pic_list_pic_name ON pic_list (pic_name);"
               "INSERT INTO pic_list SELECT 'stamp ' || i, decode('" + std::string(kBitmapHex) +
               "', 'hex') FROM generate_series(1, " + std::to_string(rows) + ") i");
    server.Sql("VACUUM ANALYZE pic_list");
    const std::string folder = (dir / "pc").string();
    fs::create_directories(folder);
    const std::string link = folder + "/dojang.mdb";
    fs::remove(link);
    CreateLinkFile(link, server.Conninfo());
    const std::string out = (dir / "out").string(), listed = (dir / "listed.txt").string();
    const std::vector<std::string> psql = {PgServer::BinDir() + "/psql", "-X", "-A", "-t", "-q", server.Conninfo(), "-c", kRead};
    Side list, check, exported, read;
    for (int r = 0; r < runs; ++r) {
        list.Add(RunQuiet({KALDORIA_DB, "list", link}, listed));
        read.Add(RunQuiet(psql));
        check.Add(RunQuiet({KALDORIA_DB, "check", link}));
    }
    std::printf("linked book: list printed %s lines for %ld rows\n", Lines(listed).c_str(), rows);
    Report("linked list", rows, list, read, "  (goal ≤ 2)");
    Report("linked check", rows, check, read, "  (goal ≤ 2)");
    for (int r = 0; r < exportRuns; ++r) {
        RemoveAll(out);
        exported.Add(RunQuiet({KALDORIA_DB, "export", link, "--all", out}));
    }
    RemoveAll(out);
    if (exportRuns > 0) Report("linked export --all", rows, exported, read, "  (against psql's read)");
    // The same stamps from a local book: the link should cost little on top.
    if (exportRuns > 0) {
        const std::string local = Book(dir, rows);
        Side localExport;
        for (int r = 0; r < exportRuns; ++r) {
            RemoveAll(out);
            localExport.Add(RunQuiet({KALDORIA_DB, "export", local, "--all", out}));
        }
        RemoveAll(out);
        Report("linked export --all", rows, exported, localExport, "  (goal ≤ 1.5 the local book's export)");
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    return bench::Main("bench_big", [&] {
        std::vector<long> sizes = {100000, 1000000};
        int runs = 3, exportRuns = -1;
        bool linked = false, quick = false;
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (a == "--quick") quick = true;
            else if (a == "--linked") linked = true;
            else if (a == "--rows" && i + 1 < argc) sizes = {std::atol(argv[++i])};
            else if (a == "--runs" && i + 1 < argc) runs = std::atoi(argv[++i]);
            else if (a == "--export-runs" && i + 1 < argc) exportRuns = std::atoi(argv[++i]);
            else {
                std::fprintf(stderr, "usage: %s [--quick] [--rows N] [--runs N] [--export-runs N] [--linked]\n", argv[0]);
                return 2;
            }
        }
        if (quick) sizes = {100000}, runs = 1;
        const char* tmp = std::getenv("TMPDIR");
        const fs::path dir = fs::path(tmp && *tmp ? tmp : "/tmp") / "kaldoria-bench-big";
        fs::create_directories(dir);
        fs::permissions(dir, fs::perms::all);
        std::printf("machine: %s\nload average at start: ", bench::Machine(dir.string()).c_str());
        std::fflush(stdout);
        ::system("cut -d' ' -f1-3 /proc/loadavg");
        std::printf("medians of %d runs; peak = the largest resident size of any run\n", runs);
        std::fflush(stdout);
        if (linked) {
            Linked(dir, sizes.front(), runs, exportRuns < 0 ? 1 : exportRuns);
        } else {
            for (long rows : sizes)
                // Writing a million files, each synced, takes minutes: once is enough there.
                Local(dir, rows, runs, exportRuns >= 0 ? exportRuns : rows > 100000 ? 1 : runs);
            NonPictures(dir, sizes.front(), runs);
        }
        std::printf("load average at end: ");
        std::fflush(stdout);
        ::system("cut -d' ' -f1-3 /proc/loadavg");
        return 0;
    });
}
