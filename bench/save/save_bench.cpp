// One save of the picture box's image, from the click on cmdSave to the
// committed row, against a raw SQLite delete-plus-insert transaction of the
// same bytes, alternately in one process on the same database of 1,000 rows.
// The window is the real frmPicture on the offscreen platform; only the
// message box is a recording one, so "   저장 되었습니다.  " does not wait
// for a click.
//
//   bench_save [--quick]        --quick: 5 saves of each kind instead of 31
#include <QApplication>
#include <QComboBox>
#include <QPushButton>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "bench/bench_util.h"
#include "bench/picture_db.h"
#include "os/files.h"
#include "window/frmpicture.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSaved = "   저장 되었습니다.  ";
constexpr const char* kName = "stamp-000500";

Bytes FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void Exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db));
}

// What the save does, written directly against SQLite: one transaction that
// removes the rows of the name and adds the new one.
void RawSave(sqlite3* db, const Bytes& pic) {
    Exec(db, "BEGIN IMMEDIATE");
    sqlite3_stmt* del = nullptr;
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "DELETE FROM pic_list WHERE pic_name = ?", -1, &del, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO pic_list (pic_name, pic) VALUES (?, ?)", -1, &ins, nullptr);
    sqlite3_bind_text(del, 1, kName, -1, SQLITE_STATIC);
    sqlite3_bind_text(ins, 1, kName, -1, SQLITE_STATIC);
    sqlite3_bind_blob(ins, 2, pic.data(), static_cast<int>(pic.size()), SQLITE_STATIC);
    const bool ok = sqlite3_step(del) == SQLITE_DONE && sqlite3_step(ins) == SQLITE_DONE;
    sqlite3_finalize(del);
    sqlite3_finalize(ins);
    if (!ok) throw std::runtime_error(sqlite3_errmsg(db));
    Exec(db, "COMMIT");
}

// The rows stored under the name, read directly.
std::vector<Bytes> Stored(sqlite3* db) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT pic FROM pic_list WHERE pic_name = ?", -1, &s, nullptr);
    sqlite3_bind_text(s, 1, kName, -1, SQLITE_STATIC);
    std::vector<Bytes> rows;
    while (sqlite3_step(s) == SQLITE_ROW) {
        auto p = static_cast<const std::uint8_t*>(sqlite3_column_blob(s, 0));
        rows.emplace_back(p, p + sqlite3_column_bytes(s, 0));
    }
    sqlite3_finalize(s);
    return rows;
}

int Run(int argc, char* argv[], int runs) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const fs::path dir = fs::temp_directory_path() / ("kaldoria-bench-save-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string dbPath = DatabasePath(dir.string());
    bench::MakePictureDatabase(dbPath, 1000);

    bench::RecordingBox messages;
    LocalFileSystem files;
    QtPictureService pictures;
    bench::CancelDialog cdPic;
    {
        frmPicture w({messages, files, pictures, cdPic, dir.string()});
        if (!w.Loaded()) throw std::runtime_error("the window did not start");
        w.show();
        QApplication::processEvents();
        auto* cboName = w.findChild<QComboBox*>("cboName");
        auto* cmdSave = w.findChild<QPushButton*>("cmdSave");
        if (!cboName || !cmdSave) throw std::runtime_error("controls not found");

        sqlite3* raw = nullptr;
        if (sqlite3_open_v2(dbPath.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open " + dbPath);
        sqlite3_busy_timeout(raw, 5000);

        std::vector<double> window, direct;
        for (int run = -1; run < runs; ++run) {  // run -1 warms both paths up
            cboName->setEditText(QString::fromUtf8(kName));
            messages.shown.clear();
            const double t0 = bench::Now();
            cmdSave->click();
            const double t1 = bench::Now();
            if (messages.shown != std::vector<std::string>{kSaved})
                throw std::runtime_error("save reported: " + (messages.shown.empty() ? "nothing" : messages.shown[0]));
            const Bytes pic = FileBytes(TransferFilePath(dir.string()));
            if (Stored(raw) != std::vector<Bytes>{pic}) throw std::runtime_error("the window stored other bytes");

            const double t2 = bench::Now();
            RawSave(raw, pic);
            const double t3 = bench::Now();
            if (Stored(raw) != std::vector<Bytes>{pic}) throw std::runtime_error("the raw save stored other bytes");
            if (run >= 0) {
                window.push_back(t1 - t0);
                direct.push_back(t3 - t2);
            }
        }
        const Bytes pic = FileBytes(TransferFilePath(dir.string()));
        sqlite3_close(raw);

        const double ours = bench::Median(window), base = bench::Median(direct);
        std::printf("machine: %s\n", bench::Machine(dir.string()).c_str());
        std::printf("database of 1,000 rows; picture box image %zu bytes; medians of %d saves each, alternating\n\n",
                    pic.size(), runs);
        std::printf("%-34s %8.2f ms\n", "cmdSave click to committed", ours * 1000);
        std::printf("%-34s %8.2f ms\n", "raw SQLite DELETE + INSERT", base * 1000);
        std::printf("%-34s %8.2f   goal <= 1.5: %s\n", "ratio", ours / base, ours / base <= 1.5 ? "met" : "MISSED");
        w.close();
    }
    fs::remove_all(dir);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    return bench::Main("bench_save", [&] {
        std::string mode = argc > 1 ? argv[1] : "";
        if (!mode.empty() && mode != "--quick") {
            std::fprintf(stderr, "usage: %s [--quick]\n", argv[0]);
            return 2;
        }
        return Run(1, argv, mode == "--quick" ? 5 : 31);
    });
}
