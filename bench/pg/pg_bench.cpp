// The shared stamp book on PostgreSQL, against the bare window and raw libpq,
// on a server this benchmark starts on this machine (Unix socket, fsync on):
//   start-up with 1,000 rows against the bare Qt window (bench_startup's own
//   children, so both load the same libraries);
//   a small save from the click on cmdSave to the commit, against a raw
//   BEGIN; DELETE; INSERT; COMMIT of the same bytes;
//   a 64 MiB picture stored and read back, against a raw binary COPY in and
//   a binary SELECT out; and the peak memory growth of moving 256 MiB each way.
//
//   bench_pg [--quick]
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <libpq-fe.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "bench/bench_util.h"
#include "bench/picture_db.h"
#include "os/files.h"
#include "engine/postgres/link.h"
#include "engine/workspace/link_maker.h"
#include "engine/workspace/workspace.h"
#include "store/connection.h"
#include "store/save.h"
#include "store/transfer.h"
#include "tests/pg/pg_server.h"
#include "window/frmpicture.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSaved = "   저장 되었습니다.  ";

struct Pg {
    PGconn* c;
    explicit Pg(const std::string& conninfo) : c(PQconnectdb(conninfo.c_str())) {
        if (PQstatus(c) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(c));
    }
    ~Pg() { PQfinish(c); }
    void Exec(const char* sql) {
        PGresult* r = PQexec(c, sql);
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
        PQclear(r);
        if (!ok) throw std::runtime_error(PQerrorMessage(c));
    }
};

// A raw libpq save: one transaction removing the name's rows and adding the new one.
void RawSave(Pg& pg, const std::string& name, const Bytes& pic) {
    pg.Exec("BEGIN");
    const char* del[] = {name.c_str()};
    PQclear(PQexecParams(pg.c, "DELETE FROM pic_list WHERE pic_name = $1", 1, nullptr, del, nullptr, nullptr, 0));
    const char* values[] = {name.c_str(), reinterpret_cast<const char*>(pic.data())};
    const int lengths[] = {0, static_cast<int>(pic.size())}, formats[] = {0, 1};
    PGresult* r = PQexecParams(pg.c, "INSERT INTO pic_list (pic_name, pic) VALUES ($1, $2)", 2, nullptr, values, lengths,
                               formats, 0);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    if (!ok) throw std::runtime_error(PQerrorMessage(pg.c));
    pg.Exec("COMMIT");
}

// The same as the store does for a large file, written directly: a binary
// COPY whose field is sent from the file in pieces.
void RawCopyIn(Pg& pg, const std::string& name, const std::string& file) {
    pg.Exec("BEGIN");
    pg.Exec(("DELETE FROM pic_list WHERE pic_name = '" + name + "'").c_str());
    PGresult* r = PQexec(pg.c, "COPY pic_list (pic_name, pic) FROM STDIN (FORMAT binary)");
    PQclear(r);
    auto big = [](std::string& s, std::uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) s += static_cast<char>((v >> (8 * i)) & 0xff);
    };
    const auto size = static_cast<std::uint32_t>(fs::file_size(file));
    std::string head("PGCOPY\n\377\r\n\0", 11);
    big(head, 0, 4), big(head, 0, 4), big(head, 2, 2), big(head, static_cast<std::uint32_t>(name.size()), 4);
    head += name;
    big(head, size, 4);
    PQputCopyData(pg.c, head.data(), static_cast<int>(head.size()));
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buf(1 << 20);
    while (in.read(buf.data(), static_cast<std::streamsize>(buf.size())) || in.gcount() > 0)
        PQputCopyData(pg.c, buf.data(), static_cast<int>(in.gcount()));
    const char trailer[] = {'\xff', '\xff'};
    PQputCopyData(pg.c, trailer, 2);
    PQputCopyEnd(pg.c, nullptr);
    r = PQgetResult(pg.c);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    while ((r = PQgetResult(pg.c))) PQclear(r);
    if (!ok) throw std::runtime_error(PQerrorMessage(pg.c));
    pg.Exec("COMMIT");
}

// Reads the picture back with one binary SELECT, writing its bytes to `out`.
void RawReadBack(Pg& pg, const std::string& name, const std::string& out) {
    const char* values[] = {name.c_str()};
    PGresult* r = PQexecParams(pg.c, "SELECT pic FROM pic_list WHERE pic_name = $1", 1, nullptr, values, nullptr, nullptr, 1);
    if (PQresultStatus(r) != PGRES_TUPLES_OK || PQntuples(r) != 1) {
        PQclear(r);
        throw std::runtime_error(PQerrorMessage(pg.c));
    }
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(PQgetvalue(r, 0, 0), PQgetlength(r, 0, 0));
    PQclear(r);
}

struct Silent : MessageBox {
    void MsgBox(const std::string& prompt, int) override { std::fprintf(stderr, "message: %s\n", prompt.c_str()); }
};

// Children: one direction of the transfer through the store, reporting the
// time and the growth of resident memory.
template <typename Work>
int TransferChild(const std::string& folder, Work&& work) {
    const long before = bench::StatusKib("VmRSS");
    bench::ResetPeak();
    const double t0 = bench::Now();
    Workspace ws;
    Database db;
    OpenPICDB(ws, db, folder);
    LocalFileSystem files;
    if (!work(db, files)) return 3;
    ClosePICDB(ws, db);
    std::printf("seconds=%.6f growth=%ld\n", bench::Now() - t0, bench::StatusKib("VmHWM") - before);
    return 0;
}

int StoreChild(const std::string& folder, const std::string& file) {
    return TransferChild(folder, [&](Database& db, FileSystem& files) {
        Silent messages;
        return StorePicture(db, "big", file, files, messages);
    });
}

int BackChild(const std::string& folder, const std::string& out) {
    return TransferChild(folder, [&](Database& db, FileSystem& files) {
        Recordset rs = db.OpenRecordset("SELECT * FROM pic_list WHERE  pic_name = 'big'", dbOpenSnapshot);
        PICFieldToFile(rs.Fields("pic"), out, files);
        rs.Close();
        return true;
    });
}

std::string Sibling(const char* name) { return (fs::path(bench::SelfPath()).parent_path() / name).string(); }

void StartUp(const std::string& folder, int runs) {
    const std::string startup = Sibling("bench_startup");
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen"};
    auto timed = [&](std::vector<std::string> args) {
        args.insert(args.begin(), startup);
        auto r = bench::Run(args, "", {env[0], "KALDORIA_BENCH_T0=" + bench::Format("%.9f", bench::Now())});
        if (r.status != 0) throw std::runtime_error("start-up child failed (" + std::to_string(r.status) + "): " + r.out);
        return bench::Field(r.out, "seconds");
    };
    std::vector<double> bare, linked;
    for (int run = 0; run < runs; ++run) {
        bare.push_back(timed({"bare"}));
        linked.push_back(timed({"window", folder, "1000"}));
    }
    const double b = bench::Median(bare), l = bench::Median(linked);
    std::printf("start-up, 1,000 rows on the server: %.1f ms, bare window %.1f ms, ratio %.2f  goal <= 1.5: %s\n", l * 1000,
                b * 1000, l / b, l / b <= 1.5 ? "met" : "MISSED");
}

void Save(const PgServer& server, const std::string& folder, int runs, int argc, char* argv[]) {
    QApplication app(argc, argv);
    bench::RecordingBox messages;
    LocalFileSystem files;
    QtPictureService pictures;
    bench::CancelDialog cdPic;
    frmPicture w({messages, files, pictures, cdPic, folder});
    if (!w.Loaded()) throw std::runtime_error("the window did not start: " + messages.shown.at(0));
    w.show();
    QApplication::processEvents();
    auto* cboName = w.findChild<QComboBox*>("cboName");
    auto* cmdSave = w.findChild<QPushButton*>("cmdSave");
    Pg raw(server.Conninfo());
    const std::string name = "stamp-000500";
    std::vector<double> window, direct;
    Bytes pic;
    for (int run = -1; run < runs; ++run) {
        cboName->setEditText(QString::fromStdString(name));
        messages.shown.clear();
        const double t0 = bench::Now();
        cmdSave->click();
        const double t1 = bench::Now();
        if (messages.shown != std::vector<std::string>{kSaved}) throw std::runtime_error("the save did not report success");
        std::ifstream in(TransferFilePath(folder), std::ios::binary);
        pic.assign(std::istreambuf_iterator<char>(in), {});
        const double t2 = bench::Now();
        RawSave(raw, name, pic);
        const double t3 = bench::Now();
        if (run >= 0) window.push_back(t1 - t0), direct.push_back(t3 - t2);
    }
    const double ours = bench::Median(window), base = bench::Median(direct);
    std::printf("small save (%zu bytes) click to commit: %.2f ms, raw libpq BEGIN/DELETE/INSERT/COMMIT %.2f ms, ratio %.2f  "
                "goal <= 1.5: %s\n",
                pic.size(), ours * 1000, base * 1000, ours / base, ours / base <= 1.5 ? "met" : "MISSED");
}

void Transfer(const PgServer& server, const std::string& folder, const std::string& work, int mib, int runs) {
    const std::string file = work + "/big.bin", back = work + "/back.bin";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        std::mt19937_64 random(42);
        std::vector<std::uint64_t> block(1 << 17);
        for (int i = 0; i < mib; ++i) {
            for (auto& v : block) v = random();
            out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
        }
    }
    Pg raw(server.Conninfo());
    std::vector<double> ours, base;
    long storeGrowth = 0, backGrowth = 0;
    for (int run = 0; run < runs; ++run) {
        auto store = bench::Run({bench::SelfPath(), "store", folder, file});
        auto read = bench::Run({bench::SelfPath(), "back", folder, back});
        if (store.status != 0 || read.status != 0) throw std::runtime_error("child failed: " + store.out + read.out);
        if (fs::file_size(back) != fs::file_size(file)) throw std::runtime_error("read back a different size");
        ours.push_back(bench::Field(store.out, "seconds") + bench::Field(read.out, "seconds"));
        storeGrowth = std::max(storeGrowth, static_cast<long>(bench::Field(store.out, "growth")));
        backGrowth = std::max(backGrowth, static_cast<long>(bench::Field(read.out, "growth")));
        const double t0 = bench::Now();
        RawCopyIn(raw, "big", file);
        RawReadBack(raw, "big", back);
        base.push_back(bench::Now() - t0);
        if (fs::file_size(back) != fs::file_size(file)) throw std::runtime_error("raw read back a different size");
    }
    const double o = bench::Median(ours), b = bench::Median(base);
    std::printf("%d MiB stored and read back: %.0f ms, raw libpq binary COPY in and binary SELECT out %.0f ms, ratio %.2f%s; "
                "peak memory growth %.1f MiB storing, %.1f MiB reading back\n",
                mib, o * 1000, b * 1000, o / b, mib == 64 ? (o / b <= 1.2 ? "  goal <= 1.2: met" : "  goal <= 1.2: MISSED") : "",
                storeGrowth / 1024.0, backGrowth / 1024.0);
    fs::remove(file);
    fs::remove(back);
}

int Driver(bool quick, int argc, char* argv[]) {
    if (PgServer::BinDir().empty()) throw std::runtime_error("PostgreSQL is not installed");
    const fs::path dir = fs::temp_directory_path() / ("kaldoria-bench-pg-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::all);
    int status = 0;
    {
        PgServer server((dir / "pg").string(), /*durable=*/true);
        const std::string folder = (dir / "pc").string();
        fs::create_directories(folder);
        // 1,000 rows made locally, then carried to the server as they are.
        const std::string local = (dir / "local.mdb").string();
        bench::MakePictureDatabase(local, 1000);
        Pg pg(server.Conninfo());
        pg.Exec("CREATE TABLE pic_list (pic_name text, pic bytea); ALTER TABLE pic_list ALTER COLUMN pic SET STORAGE EXTERNAL;"
                "CREATE INDEX pic_list_pic_name ON pic_list (pic_name)");
        {
            Workspace ws = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
            Database from = ws.OpenDatabase(local, true);
            Recordset rs = from.OpenRecordset("pic_list", dbOpenTable);
            pg.Exec("BEGIN");
            for (; !rs.EOF_(); rs.MoveNext()) {
                const std::string name = TextOf(rs.Fields("pic_name").Value());
                const Bytes pic = std::get<Bytes>(rs.Fields("pic").Value());
                const char* values[] = {name.c_str(), reinterpret_cast<const char*>(pic.data())};
                const int lengths[] = {0, static_cast<int>(pic.size())}, formats[] = {0, 1};
                PQclear(PQexecParams(pg.c, "INSERT INTO pic_list VALUES ($1, $2)", 2, nullptr, values, lengths, formats, 0));
            }
            pg.Exec("COMMIT");
            ws.Close();
        }
        CreateLinkFile(DatabasePath(folder), server.Conninfo());
        std::printf("machine: %s\n", bench::Machine(dir.string()).c_str());
        std::printf("server: PostgreSQL from %s, its own data folder, Unix socket, fsync on; medians\n\n",
                    PgServer::BinDir().c_str());
        StartUp(folder, quick ? 3 : 11);
        Save(server, folder, quick ? 5 : 31, argc, argv);
        Transfer(server, folder, dir.string(), 64, quick ? 1 : 5);
        if (!quick) Transfer(server, folder, dir.string(), 256, 1);
    }
    fs::remove_all(dir);
    return status;
}

}  // namespace

int main(int argc, char* argv[]) {
    return bench::Main("bench_pg", [&] {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "store" && argc == 4) return StoreChild(argv[2], argv[3]);
        if (mode == "back" && argc == 4) return BackChild(argv[2], argv[3]);
        if (mode.empty() || mode == "--quick") {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            return Driver(mode == "--quick", 1, argv);
        }
        std::fprintf(stderr, "usage: %s [--quick]\n", argv[0]);
        return 2;
    });
}
