// kaldoria-db against the sqlite3 shell, each as a whole process: `import`
// of a 64 MiB and a 256 MiB bitmap beside "INSERT ... readfile()", and
// `export` of it beside "SELECT writefile() ...", timed from fork to exit,
// the two sides interleaved run by run on fresh databases made the shell's
// way, each run from a clean page cache; the ratio is the median of the runs'
// ratios. Peak memory growth is each process's peak resident size less that of
// the same command on a bitmap of 1 KiB.
//
//   bench_tool [--quick]       both sizes (--quick: 64 MiB only, 3 runs)
#include <cstdio>
#include <filesystem>

#include "bench/bench_util.h"
#include "bench/picture_db.h"

namespace fs = std::filesystem;

namespace {

// A 24-bit bitmap of random pixels, `width` wide, of about `bytes` bytes.
std::size_t RandomBitmap(const std::string& path, int width, std::size_t bytes) {
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    const int height = static_cast<int>(bytes / stride);
    const Bytes header = bench::Bitmap(width, 1, [](int, int) { return 0u; });
    std::string head(header.begin(), header.begin() + 54);
    const std::size_t size = 54 + stride * static_cast<std::size_t>(height);
    auto put = [&head](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) head[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    };
    put(2, static_cast<std::uint32_t>(size));
    put(22, static_cast<std::uint32_t>(height));
    put(34, static_cast<std::uint32_t>(size - 54));
    bench::RandomFile(path, size, static_cast<unsigned>(bytes >> 20), head);
    return size;
}

struct Commands {
    std::string tool, db, shellDb, out, shellOut;
    std::vector<std::string> Import(const std::string& file) const { return {tool, "import", db, "x", file}; }
    std::vector<std::string> ShellImport(const std::string& file) const {
        return {"sqlite3", shellDb, "INSERT INTO pic_list VALUES ('x', readfile('" + file + "'))"};
    }
    std::vector<std::string> Export() const { return {tool, "export", db, "x", out}; }
    std::vector<std::string> ShellExport() const {
        return {"sqlite3", shellDb, "SELECT writefile('" + shellOut + "', pic) FROM pic_list WHERE pic_name = 'x'"};
    }
};

// Runs one side's command from a clean page cache: what an earlier process
// left to be written back would otherwise slow whichever runs next.
bench::ChildResult Timed(const std::vector<std::string>& argv, const char* what) {
    ::sync();
    return bench::Checked(bench::Run(argv), what);
}

// One import and one export by each side on fresh databases, ours first
// when `oursFirst`; each written file is checked byte for byte.
void Round(const Commands& c, const std::string& file, bool oursFirst, bench::Side sides[4]) {
    bench::FreshDatabase(c.db);
    bench::FreshDatabase(c.shellDb);
    fs::remove(c.out);
    fs::remove(c.shellOut);
    for (int pass = 0; pass < 2; ++pass) {
        if ((pass == 0) == oursFirst) {
            sides[0].Add(Timed(c.Import(file), "kaldoria-db import"));
            sides[2].Add(Timed(c.Export(), "kaldoria-db export"));
        } else {
            sides[1].Add(Timed(c.ShellImport(file), "sqlite3 readfile"));
            sides[3].Add(Timed(c.ShellExport(), "sqlite3 writefile"));
        }
    }
    if (!bench::SameBytes(file, c.out) || !bench::SameBytes(file, c.shellOut))
        throw std::runtime_error("an exported file differs from " + file);
}

int Driver(const std::string& tool, bool quick) {
    const fs::path dir = fs::temp_directory_path() / ("kaldoria-bench-tool-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const Commands c{tool, (dir / "ours.mdb").string(), (dir / "shell.mdb").string(), (dir / "ours-out.bmp").string(),
                     (dir / "shell-out.bmp").string()};
    std::printf("machine: %s\nsqlite %s; whole processes, fork to exit, medians; growth = peak resident size less "
                "that of the same command on a 1 KiB bitmap\n",
                bench::Machine(dir.string()).c_str(), sqlite3_libversion());

    // The resting figures: every command once on a tiny bitmap.
    const std::string tiny = (dir / "tiny.bmp").string();
    RandomBitmap(tiny, 16, 1024);
    bench::Side rest[4];
    Round(c, tiny, true, rest);

    struct Size {
        int mib, width, runs;
    };
    const std::vector<Size> sizes =
        quick ? std::vector<Size>{{64, 4096, 3}} : std::vector<Size>{{64, 4096, 11}, {256, 8192, 7}};
    bool allMet = true;
    std::printf("\n%-8s %-7s %9s %9s %6s %6s %13s %13s\n", "size", "command", "ours ms", "shell ms", "ratio", "goal",
                "ours growth", "shell growth");
    for (const Size& size : sizes) {
        const std::string file = (dir / "in.bmp").string();
        const std::size_t bytes = RandomBitmap(file, size.width, static_cast<std::size_t>(size.mib) << 20);
        bench::Side sides[4];
        for (int run = 0; run < size.runs; ++run) Round(c, file, run % 2 == 0, sides);
        for (int d = 0; d < 2; ++d) {
            const bench::Side& ours = sides[2 * d];
            const bench::Side& shell = sides[2 * d + 1];
            // Each run's two sides share the machine's state, so the ratio is
            // the median of the runs' own ratios.
            std::vector<double> ratios;
            for (std::size_t i = 0; i < ours.seconds.size(); ++i) ratios.push_back(ours.seconds[i] / shell.seconds[i]);
            const double ratio = bench::Median(ratios);
            const double growth = (ours.peakKib - rest[2 * d].peakKib) / 1024.0;
            const double shellGrowth = (shell.peakKib - rest[2 * d + 1].peakKib) / 1024.0;
            const bool memoryMet = size.mib != 256 || growth <= 16;
            allMet = allMet && ratio <= 1.0 && memoryMet;
            std::printf("%4d MiB %-7s %9.1f %9.1f %6.2f %6s %9.1f MiB %9.1f MiB%s\n", size.mib,
                        d == 0 ? "import" : "export", bench::Median(ours.seconds) * 1000,
                        bench::Median(shell.seconds) * 1000, ratio, ratio <= 1.0 ? "met" : "MISSED", growth,
                        shellGrowth,
                        size.mib == 256 ? (memoryMet ? "  (memory goal met)" : "  (memory goal MISSED)") : "");
        }
        std::printf("         (%zu bytes, %d runs each)\n", bytes, size.runs);
        std::fflush(stdout);
    }
    std::printf("\nresting peaks: import %.1f / %.1f MiB, export %.1f / %.1f MiB (ours / shell)\n"
                "goals: ratio <= 1.0 both ways, growth at 256 MiB <= 16 MiB; exported files byte-for-byte equal\n%s\n",
                rest[0].peakKib / 1024.0, rest[1].peakKib / 1024.0, rest[2].peakKib / 1024.0,
                rest[3].peakKib / 1024.0, allMet ? "all goals met" : "some goals MISSED");
    fs::remove_all(dir);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    return bench::Main("bench_tool", [&] {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (!mode.empty() && mode != "--quick") {
            std::fprintf(stderr, "usage: %s [--quick]\n", argv[0]);
            return 2;
        }
        return Driver(KALDORIA_DB, mode == "--quick");
    });
}
