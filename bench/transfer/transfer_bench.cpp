// Chunked transfer against the sqlite3 shell: storing a file with
// FileToPICField and writing it back with PICFieldToFile, beside the shell's
// readfile() and writefile() on the same kind of table, for 1, 64 and 256 MiB
// of random bytes. Every measured run is a fresh process on a fresh database;
// each side is timed around the statement or routine alone (the shell by its
// own ".timer"), and our peak memory growth is taken from /proc/self/status.
//
//   bench_transfer [--quick]       all sizes (--quick: 1 and 64 MiB, 3 runs)
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>

#include "bench/bench_util.h"
#include "bench/picture_db.h"
#include "engine/workspace/workspace.h"
#include "store/connection.h"
#include "store/transfer.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSelect = "SELECT * FROM pic_list WHERE  pic_name = 'x'";

struct SilentMessageBox : MessageBox {
    void MsgBox(const std::string& prompt, int) override { std::fprintf(stderr, "message: %s\n", prompt.c_str()); }
};

// A child's last line: the time since `start` and the growth of resident
// memory over `before`, for the driver to read.
int Report(double start, long before) {
    const double seconds = bench::Now() - start;
    const long peak = bench::StatusKib("VmHWM");
    std::printf("seconds=%.6f growth=%ld\n", seconds, peak - before);
    return 0;
}

// Child: stores `file` under the name 'x' and reports the time and the growth of resident memory.
int StoreChild(const std::string& db, const std::string& file) {
    Workspace ws = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
    Database dbs = ws.OpenDatabase(db);
    LocalFileSystem files;
    SilentMessageBox messages;
    bench::ResetPeak();
    const long before = bench::StatusKib("VmRSS");
    const double start = bench::Now();
    Recordset rs = dbs.OpenRecordset("pic_list", dbOpenTable);
    rs.AddNew();
    Field pic = rs.Fields("pic");
    if (!FileToPICField(file, pic, files, messages)) return 2;
    rs.Fields("pic_name").SetValue(std::string("x"));
    rs.Update();
    rs.Close();
    return Report(start, before);
}

// Child: writes the row named 'x' to the transfer file of `folder`.
int LoadChild(const std::string& db, const std::string& folder) {
    Workspace ws = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
    Database dbs = ws.OpenDatabase(db);
    LocalFileSystem files;
    bench::ResetPeak();
    const long before = bench::StatusKib("VmRSS");
    const double start = bench::Now();
    Recordset rs = dbs.OpenRecordset(kSelect, dbOpenSnapshot);
    if (rs.RecordCount() != 1) return 2;
    PICFieldToFile(rs.Fields("pic"), TransferFilePath(folder), files);
    rs.Close();
    return Report(start, before);
}

// The shell's own timing of the one statement it ran.
double ShellSeconds(const bench::ChildResult& r) {
    std::size_t at = r.out.find("Run Time: real ");
    if (r.status != 0 || at == std::string::npos) throw std::runtime_error("sqlite3 shell failed: " + r.out);
    return std::atof(r.out.c_str() + at + 15);
}

struct Figures {
    std::vector<double> ours, shell, growth, shellPeak;
};

int Driver(bool quick) {
    const fs::path dir = fs::temp_directory_path() / ("kaldoria-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string self = bench::SelfPath();
    const std::string file = (dir / "in.bin").string();
    const std::string oursDb = (dir / "ours.db").string();
    const std::string shellDb = (dir / "shell.db").string();
    const std::string shellOut = (dir / "shell-out.bin").string();
    const std::string transfer = TransferFilePath(dir.string());

    std::printf("machine: %s\nsqlite %s; %s\n", bench::Machine(dir.string()).c_str(), sqlite3_libversion(),
                "times are medians of fresh processes on fresh databases; growth = VmHWM - VmRSS before");
    // The shell's resident size when it only opens the database, to tell its growth.
    bench::FreshDatabase(shellDb);
    const long shellBase = bench::Checked(bench::Run({"sqlite3", shellDb}, "SELECT count(*) FROM pic_list;\n"), "sqlite3").maxRssKib;

    struct Size {
        int mib, runs;
    };
    std::vector<Size> sizes = quick ? std::vector<Size>{{1, 3}, {64, 3}} : std::vector<Size>{{1, 11}, {64, 5}, {256, 3}};
    bool allMet = true;
    std::printf("\n%-8s %-5s %10s %10s %7s %6s %12s %12s\n", "size", "dir", "ours ms", "shell ms", "ratio", "goal",
                "ours growth", "shell peak");
    for (const Size& size : sizes) {
        bench::RandomFile(file, static_cast<std::size_t>(size.mib) << 20, static_cast<unsigned>(size.mib));
        Figures in, out;
        for (int run = 0; run < size.runs; ++run) {
            bench::FreshDatabase(oursDb);
            auto store = bench::Checked(bench::Run({self, "store", oursDb, file}), "store");
            in.ours.push_back(bench::Field(store.out, "seconds"));
            in.growth.push_back(bench::Field(store.out, "growth"));
            auto load = bench::Checked(bench::Run({self, "load", oursDb, dir.string()}), "load");
            out.ours.push_back(bench::Field(load.out, "seconds"));
            out.growth.push_back(bench::Field(load.out, "growth"));
            if (!bench::SameBytes(file, transfer)) throw std::runtime_error("round trip differs at " + std::to_string(size.mib) + " MiB");

            bench::FreshDatabase(shellDb);
            auto shellIn = bench::Run({"sqlite3", shellDb},
                                      ".timer on\nINSERT INTO pic_list VALUES ('x', readfile('" + file + "'));\n");
            in.shell.push_back(ShellSeconds(shellIn));
            in.shellPeak.push_back(static_cast<double>(shellIn.maxRssKib));
            fs::remove(shellOut);
            auto shellOutRun = bench::Run({"sqlite3", shellDb}, ".timer on\nSELECT writefile('" + shellOut +
                                                                    "', pic) FROM pic_list WHERE pic_name='x';\n");
            out.shell.push_back(ShellSeconds(shellOutRun));
            out.shellPeak.push_back(static_cast<double>(shellOutRun.maxRssKib));
            if (!bench::SameBytes(file, shellOut)) throw std::runtime_error("shell round trip differs");
        }
        for (int d = 0; d < 2; ++d) {
            const Figures& f = d == 0 ? in : out;
            const double goal = d == 0 ? 1.1 : 1.0;
            const double ratio = bench::Median(f.ours) / bench::Median(f.shell);
            const double growth = *std::max_element(f.growth.begin(), f.growth.end());
            const bool met = ratio <= goal && (size.mib != 256 || growth <= 16 * 1024);
            allMet = allMet && met;
            std::printf("%4d MiB %-5s %10.1f %10.1f %7.2f %6s %9.1f MiB %9.1f MiB%s\n", size.mib, d == 0 ? "store" : "load",
                        bench::Median(f.ours) * 1000, bench::Median(f.shell) * 1000, ratio,
                        ratio <= goal ? "met" : "MISSED", growth / 1024, bench::Median(f.shellPeak) / 1024,
                        size.mib == 256 ? (growth <= 16 * 1024 ? "  (memory goal met)" : "  (memory goal MISSED)") : "");
        }
        std::fflush(stdout);
    }
    std::printf("\ngoals: store <= 1.1x shell, load <= 1.0x shell, growth at 256 MiB <= 16 MiB; "
                "shell base resident size %.1f MiB; round trips byte-for-byte equal\n%s\n",
                shellBase / 1024.0, allMet ? "all goals met" : "some goals MISSED");
    fs::remove_all(dir);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    return bench::Main("bench_transfer", [&] {
        std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "store" && argc == 4) return StoreChild(argv[2], argv[3]);
        if (mode == "load" && argc == 4) return LoadChild(argv[2], argv[3]);
        if (mode.empty() || mode == "--quick") return Driver(mode == "--quick");
        std::fprintf(stderr, "usage: %s [--quick]\n", argv[0]);
        return 2;
    });
}
