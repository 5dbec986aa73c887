// Drives the real save path (StorePicture, as the save command calls it) from
// a separate process, for the kill soak, the two-process load and the large
// database runs, and checks a database afterwards with SQLite directly.
//
//   reliability_driver seed  <db> <names>                  one save per name, generation 0
//   reliability_driver soak  <db> <work> <run> <log>        saves until killed, logging each
//   reliability_driver check <db> <names> <log>             integrity and one complete row per name
//   reliability_driver load  <db> <work> <id> <count>       <count> saves, some under shared names
//   reliability_driver load-test <folder> <count>           two `load` processes at once, then checks
//   reliability_driver load-test <folder> <db> <procs> <count>  the same on an existing (linked) db
//   reliability_driver large <folder> <rows> <mib>          start-up reads and a save, timed
#include <libpq-fe.h>
#include <sqlite3.h>
#ifdef _WIN32
#include <process.h>
// GetModuleFileNameA without <windows.h>, whose MessageBox macro meets the store's.
#include <windef.h>
#include <libloaderapi.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "reliability_support.h"
#include "engine/workspace/workspace.h"
#include "os/error.h"
#include "store/connection.h"
#include "store/save.h"
#include "store/transfer.h"

namespace fs = std::filesystem;

namespace {

// Hostile and ordinary names alike: the soak replaces pictures under these.
const std::vector<std::string> kSoakNames = {"도장", "a", "it's", " lead", "trail ", "x' OR '1'='1", "50%_off",
                                             "줄\n바꿈", "e\xcc\x81\xf0\x9f\x98\x80", "back\\slash"};

struct StderrMessageBox : MessageBox {
    int shown = 0;
    void MsgBox(const std::string& prompt, int style) override {
        ++shown;
        std::cerr << "message (" << style << "): " << prompt << "\n";
    }
};

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

#ifndef _WIN32  // the kill soak is driven by scripts/soak.sh, on Linux
void AppendLine(int fd, const std::string& line) {
    std::string text = line + "\n";
    if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) throw std::runtime_error("log write");
}
#endif

// Opens the database the way the window does, saves, closes.
struct Session {
    Workspace wrk;
    Database dbs;
    LocalFileSystem files;
    StderrMessageBox messages;
    explicit Session(const std::string& db) {
        wrk = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
        dbs = wrk.OpenDatabase(db);
    }
    ~Session() {
        try {
            ClosePICDB(wrk, dbs);
        } catch (const Error&) {
        }
    }
    void Save(const std::string& name, const std::string& file) {
        if (!StorePicture(dbs, name, file, files, messages)) throw std::runtime_error("StorePicture returned false");
    }
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// What a database holds, read with SQLite or libpq directly rather than
// through the engine: the engine's integrity check (or "ok" for a server,
// which keeps its own pages), and every row in storage order.
struct StoredBook {
    std::string integrity;
    std::vector<std::pair<std::string, Bytes>> rows;
};

std::optional<std::string> LinkOf(sqlite3* db) {
    sqlite3_stmt* s = nullptr;
    std::optional<std::string> link;
    if (sqlite3_prepare_v2(db, "SELECT conninfo FROM kaldoria_link", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
        link = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    sqlite3_finalize(s);
    return link;
}

StoredBook ReadServer(const std::string& conninfo) {
    PGconn* c = PQconnectdb(conninfo.c_str());
    StoredBook book{"ok", {}};
    PGresult* r = PQstatus(c) == CONNECTION_OK
                      ? PQexecParams(c, "SELECT pic_name, pic FROM pic_list ORDER BY ctid", 0, nullptr, nullptr, nullptr,
                                     nullptr, 1)
                      : nullptr;
    if (!r || PQresultStatus(r) != PGRES_TUPLES_OK) {
        std::string why = PQerrorMessage(c);
        PQclear(r);
        PQfinish(c);
        throw std::runtime_error("cannot read the server: " + why);
    }
    for (int i = 0; i < PQntuples(r); ++i) {
        const auto* pic = reinterpret_cast<const std::uint8_t*>(PQgetvalue(r, i, 1));
        book.rows.emplace_back(PQgetisnull(r, i, 0) ? "<NULL>" : PQgetvalue(r, i, 0),
                               Bytes(pic, pic + PQgetlength(r, i, 1)));
    }
    PQclear(r);
    PQfinish(c);
    return book;
}

StoredBook ReadStored(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + path);
    }
    sqlite3_busy_timeout(db, 10000);
    if (auto link = LinkOf(db)) {
        sqlite3_close(db);
        return ReadServer(*link);
    }
    StoredBook book;
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr);
    while (sqlite3_step(s) == SQLITE_ROW) book.integrity += reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    sqlite3_finalize(s);
    if (sqlite3_prepare_v2(db, "SELECT pic_name, pic FROM pic_list ORDER BY rowid", -1, &s, nullptr) != SQLITE_OK) {
        std::string why = sqlite3_errmsg(db);
        sqlite3_close(db);
        throw std::runtime_error(why);
    }
    while (sqlite3_step(s) == SQLITE_ROW) {
        auto name = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        auto blob = static_cast<const std::uint8_t*>(sqlite3_column_blob(s, 1));
        book.rows.emplace_back(std::string(name ? name : "<NULL>", name ? sqlite3_column_bytes(s, 0) : 6),
                               Bytes(blob, blob + sqlite3_column_bytes(s, 1)));
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return book;
}

// Checks every name has exactly one complete row whose generation is one the
// log allows: the last finished save of the name, or a save begun after it
// whose process was killed before it could log the end.
int Check(const std::string& db, std::size_t names, const std::string& log) {
    std::map<std::string, std::set<long long>> allowed;
    for (std::size_t i = 0; i < names; ++i) allowed[kSoakNames[i]] = {0};
    std::ifstream in(log);
    std::string kind;
    long long generation;
    std::size_t index;
    while (in >> kind >> generation >> index) {
        auto& gens = allowed[kSoakNames.at(index)];
        if (kind == "done") gens = {generation};
        else gens.insert(generation);
    }
    const StoredBook book = ReadStored(db);
    int problems = 0;
    if (book.integrity != "ok") {
        std::cout << "integrity_check: " << book.integrity << "\n";
        ++problems;
    }
    std::map<std::string, int> seen;
    for (const auto& [name, pic] : book.rows) {
        ++seen[name];
        auto stamp = ReadStamp(pic);
        if (!stamp || stamp->name != name) {
            std::cout << "row '" << name << "': torn, mixed or foreign picture (" << pic.size() << " bytes)\n";
            ++problems;
        } else if (!allowed.count(name) || !allowed[name].count(stamp->generation)) {
            std::cout << "row '" << name << "': generation " << stamp->generation << " was never the latest\n";
            ++problems;
        }
    }
    for (const auto& [name, gens] : allowed)
        if (seen[name] != 1) {
            std::cout << "name '" << name << "': " << seen[name] << " rows\n";
            ++problems;
        }
    if (seen.size() != allowed.size()) {
        std::cout << "unexpected names in the table\n";
        ++problems;
    }
    return problems == 0 ? 0 : 1;
}

int Seed(const std::string& db, std::size_t names) {
    if (!fs::exists(db)) CreatePICDB(db);
    std::string file = db + ".seed.bmp";
    Session s(db);
    for (std::size_t i = 0; i < names; ++i) {
        WriteFile(file, StampedPicture(kSoakNames[i], 0, 1000 + 7000 * i));
        s.Save(kSoakNames[i], file);
    }
    fs::remove(file);
    return 0;
}

#ifndef _WIN32
[[noreturn]] void Soak(const std::string& db, const std::string& work, long long run, const std::string& log) {
    int fd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0) throw std::runtime_error("cannot open " + log);
    std::mt19937 rng(static_cast<unsigned>(run));
    std::string file = JoinPath(work, "temp.bmp");
    Session s(db);
    for (long long i = 0;; ++i) {
        long long generation = run * 1000000 + i + 1;
        std::size_t index = rng() % kSoakNames.size();
        // Sizes across one, several and many 32000-byte chunks.
        std::size_t size = rng() % 3 == 0 ? rng() % 200 : rng() % 150000;
        WriteFile(file, StampedPicture(kSoakNames[index], generation, size));
        AppendLine(fd, "begin " + std::to_string(generation) + " " + std::to_string(index));
        s.Save(kSoakNames[index], file);
        AppendLine(fd, "done " + std::to_string(generation) + " " + std::to_string(index));
    }
}
#endif

std::string LoadName(int id, int i) {
    // Every fourth save goes to one of ten names both processes use.
    if (i % 4 == 0) return "shared " + std::to_string((i / 4) % 10) + " it's";
    return "p" + std::to_string(id) + "-" + std::to_string(i);
}

int Load(const std::string& db, const std::string& work, int id, int count) {
    std::string file = JoinPath(work, "temp-" + std::to_string(id) + ".bmp");
    int failures = 0;
    auto start = std::chrono::steady_clock::now();
    Session s(db);
    for (int i = 0; i < count; ++i) {
        std::string name = LoadName(id, i);
        WriteFile(file, StampedPicture(name, id * 1000000LL + i, 500 + (i * 977) % 60000));
        try {
            s.Save(name, file);
        } catch (const Error& e) {
            ++failures;
            std::cout << "process " << id << " save " << i << ": error " << e.Number() << " " << e.Description() << "\n";
        }
    }
    std::cout << "process " << id << ": " << count << " saves, " << failures << " failed, " << Seconds(start) << " s\n";
    return failures == 0 ? 0 : 1;
}

// `processes` savers at once on `db`, made afresh in `folder` when `db` is
// empty, then checks that every name holds exactly one row, the last save of
// one of the processes.
int LoadTest(const std::string& self, const std::string& folder, std::string db, int processes, int count) {
    if (db.empty()) {
        db = JoinPath(folder, kDatabaseFileName);
        // A journal left by an earlier run that was cut off would be played
        // into the new book.
        for (const char* suffix : {"", "-journal", "-wal", "-shm"}) fs::remove(db + suffix);
        CreatePICDB(db);
    }
    auto start = std::chrono::steady_clock::now();
#ifdef _WIN32
    // _spawnv joins the arguments into one command line without quoting them.
    const auto quoted = [](const std::string& s) { return "\"" + s + "\""; };
    std::vector<intptr_t> children;
    for (int id = 0; id < processes; ++id) {
        const std::vector<std::string> args = {quoted(self), "load", quoted(db), quoted(folder), std::to_string(id),
                                               std::to_string(count)};
        std::vector<const char*> argv;
        for (const std::string& a : args) argv.push_back(a.c_str());
        argv.push_back(nullptr);
        children.push_back(::_spawnv(_P_NOWAIT, self.c_str(), argv.data()));
    }
    int problems = 0;
    for (intptr_t child : children) {
        int status = 0;
        if (child == -1 || ::_cwait(&status, child, 0) == -1 || status != 0) ++problems;
    }
#else
    std::vector<pid_t> children;
    for (int id = 0; id < processes; ++id) {
        pid_t pid = ::fork();
        if (pid == 0) {
            std::string ids = std::to_string(id), counts = std::to_string(count);
            ::execl(self.c_str(), self.c_str(), "load", db.c_str(), folder.c_str(), ids.c_str(), counts.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        children.push_back(pid);
    }
    int problems = 0;
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++problems;
    }
#endif
    double elapsed = Seconds(start);

    // The last save of a shared name by each process; the survivor must be one of them.
    std::map<std::string, std::set<long long>> allowed;
    for (int id = 0; id < processes; ++id) {
        std::map<std::string, long long> last;
        for (int i = 0; i < count; ++i) last[LoadName(id, i)] = id * 1000000LL + i;
        for (const auto& [name, gen] : last) allowed[name].insert(gen);
    }
    const StoredBook book = ReadStored(db);
    if (book.integrity != "ok") {
        std::cout << "integrity_check failed\n";
        ++problems;
    }
    std::map<std::string, int> rows;
    for (const auto& [name, pic] : book.rows) {
        ++rows[name];
        auto stamp = ReadStamp(pic);
        if (!stamp || stamp->name != name || !allowed[name].count(stamp->generation)) {
            std::cout << "row '" << name << "': not the last save of either process\n";
            ++problems;
        }
    }
    for (const auto& [name, gens] : allowed)
        if (rows[name] != 1) {
            std::cout << "name '" << name << "': " << rows[name] << " rows\n";
            ++problems;
        }
    std::cout << "load: " << processes << " processes x " << count << " saves, " << allowed.size() << " names, " << book.rows.size()
              << " rows, " << problems << " problems, " << elapsed << " s\n";
    return problems == 0 ? 0 : 1;
}

void StartUp(const std::string& folder) {
    std::cout << "  start-up read " << StartUpReads(folder) << " names;";
}

// The same replace done by the sqlite3 shell, as the baseline the benchmarks measure against.
double ShellReplace(const std::string& db, const std::string& name, const std::string& picture) {
    auto start = std::chrono::steady_clock::now();
    std::string sql = "BEGIN IMMEDIATE; DELETE FROM pic_list WHERE pic_name = '" + name +
                      "'; INSERT INTO pic_list (pic_name, pic) VALUES ('" + name + "', readfile('" + picture +
                      "')); COMMIT;";
    std::string command = "sqlite3 '" + db + "' \"" + sql + "\"";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("sqlite3 shell failed");
    return Seconds(start);
}

int Large(const std::string& folder, long rows, long mib) {
    std::string db = JoinPath(folder, kDatabaseFileName);
    std::string picture = JoinPath(folder, "picture.bmp");
    int problems = 0;
    auto timed = [&](const char* what, auto&& body) {
        auto start = std::chrono::steady_clock::now();
        body();
        double s = Seconds(start);
        std::cout << "  " << what << ": " << s << " s\n";
        return s;
    };

    fs::remove(db);
    CreatePICDB(db);
    {
        sqlite3* raw = nullptr;
        sqlite3_open(db.c_str(), &raw);
        sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(raw, "INSERT INTO pic_list VALUES (?, ?)", -1, &s, nullptr);
        Bytes small = StampedPicture("row", 0, 3000);
        for (long i = 0; i < rows; ++i) {
            std::string name = i == rows / 2 ? "도장" : "name " + std::to_string(i);
            sqlite3_bind_text(s, 1, name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_blob(s, 2, small.data(), static_cast<int>(small.size()), SQLITE_STATIC);
            sqlite3_step(s);
            sqlite3_reset(s);
        }
        sqlite3_finalize(s);
        sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(raw);
    }
    std::cout << rows << " rows (" << fs::file_size(db) / (1024 * 1024) << " MiB file):\n";
    timed("start-up (open, name list, 도장 to temp.bmp)", [&] { StartUp(folder); });
    WriteFile(picture, StampedPicture("name 7", 1, 70000));
    double ours = timed("save of a 70 kB picture over an existing name", [&] {
        Session s(db);
        s.Save("name 7", picture);
    });
    double shell = ShellReplace(db, "name 8", picture);
    std::cout << "  sqlite3 shell doing the same replace: " << shell << " s (ratio " << ours / shell << ")\n";
    WriteFile(picture, StampedPicture("name 8", 1, 70000));
    ours = timed("save again, under another name", [&] {
        Session s(db);
        s.Save("name 8", picture);
    });
    std::cout << "  ratio against the shell: " << ours / shell << "\n";
    {
        const auto all = ReadStored(db).rows;
        long named = 0;
        for (const auto& [name, pic] : all) named += name == "name 7";
        if (static_cast<long>(all.size()) != rows || named != 1) ++problems;
    }

    fs::remove(db);
    CreatePICDB(db);
    std::size_t size = static_cast<std::size_t>(mib) * 1024 * 1024;
    WriteFile(picture, StampedPicture("도장", 2, size));
    std::cout << "one picture of " << mib << " MiB:\n";
    timed("save (StorePicture)", [&] {
        Session s(db);
        s.Save("도장", picture);
    });
    timed("start-up (open, name list, 도장 to temp.bmp)", [&] { StartUp(folder); });
    ours = timed("save again over it", [&] {
        Session s(db);
        s.Save("도장", picture);
    });
    // The shell's replace, then ours once more, so the two alternate on a warm cache.
    shell = ShellReplace(db, "도장", picture);
    std::cout << "  sqlite3 shell doing the same replace: " << shell << " s (ratio " << ours / shell << ")\n";
    ours = timed("save over it a third time", [&] {
        Session s(db);
        s.Save("도장", picture);
    });
    std::cout << "  ratio against the shell: " << ours / shell << "\n";
    {
        std::ifstream in(TransferFilePath(folder), std::ios::binary);
        Bytes back((std::istreambuf_iterator<char>(in)), {});
        auto stamp = ReadStamp(back);
        if (!stamp || stamp->generation != 2) ++problems;
        const StoredBook book = ReadStored(db);
        if (book.integrity != "ok" || book.rows.size() != 1) ++problems;
    }
    fs::remove(picture);
    std::cout << (problems == 0 ? "all checks passed\n" : "CHECKS FAILED\n");
    return problems == 0 ? 0 : 1;
}

// This program's own file, to start more of it.
std::string SelfPath() {
#ifdef _WIN32
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length == MAX_PATH) throw std::runtime_error("no program path");
    return std::string(path, length);
#else
    return fs::canonical("/proc/self/exe");
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> a(argv, argv + argc);
    try {
        if (a.size() == 4 && a[1] == "seed") return Seed(a[2], std::stoul(a[3]));
#ifndef _WIN32
        if (a.size() == 6 && a[1] == "soak") Soak(a[2], a[3], std::stoll(a[4]), a[5]);
#endif
        if (a.size() == 5 && a[1] == "check") return Check(a[2], std::stoul(a[3]), a[4]);
        if (a.size() == 6 && a[1] == "load") return Load(a[2], a[3], std::stoi(a[4]), std::stoi(a[5]));
        if (a.size() == 4 && a[1] == "load-test") return LoadTest(SelfPath(), a[2], "", 2, std::stoi(a[3]));
        if (a.size() == 6 && a[1] == "load-test")
            return LoadTest(SelfPath(), a[2], a[3], std::stoi(a[4]), std::stoi(a[5]));
        if (a.size() == 5 && a[1] == "large") return Large(a[2], std::stol(a[3]), std::stol(a[4]));
    } catch (const Error& e) {
        std::cerr << "error " << e.Number() << ": " << e.Description() << "\n";
        return 3;
    } catch (const std::exception& e) {
        std::cerr << "failed: " << e.what() << "\n";
        return 3;
    }
    std::cerr << "usage: see the top of save_driver.cpp\n";
    return 2;
}
