#include "support.h"

#include <sqlite3.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
    // A new folder under a name nobody has taken (create_directory says so).
    // The path is written with forward slashes, as Qt writes paths on Windows.
    std::random_device random;
    for (int attempt = 0; path_.empty(); ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "kaldoria-test-%08x", random());
        const fs::path candidate = fs::temp_directory_path() / name;
        if (fs::create_directory(candidate)) path_ = candidate.generic_string();
        else if (attempt == 100) throw std::runtime_error("cannot make a temporary folder");
    }
    fs::permissions(path_, fs::perms::all);
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::vector<std::string> TempDir::Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(PathOf(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes PatternBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = (rng() % 4 == 0) ? 0 : static_cast<std::uint8_t>(rng());
    return b;
}

namespace {
struct Raw {
    sqlite3* db = nullptr;
    explicit Raw(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
            throw std::runtime_error("raw open failed: " + path);
        sqlite3_busy_timeout(db, 5000);
    }
    ~Raw() { sqlite3_close(db); }
};
}  // namespace

void RawSql(const std::string& dbPath, const std::string& sql) {
    Raw raw(dbPath);
    char* msg = nullptr;
    if (sqlite3_exec(raw.db, sql.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
        std::string text = msg ? msg : "?";
        sqlite3_free(msg);
        throw std::runtime_error("raw sql failed: " + text);
    }
}

std::vector<std::pair<std::string, Bytes>> RawRows(const std::string& dbPath) {
    Raw raw(dbPath);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(raw.db, "SELECT pic_name, pic FROM pic_list ORDER BY rowid", -1, &s, nullptr);
    std::vector<std::pair<std::string, Bytes>> rows;
    while (sqlite3_step(s) == SQLITE_ROW) {
        std::string name = sqlite3_column_type(s, 0) == SQLITE_NULL
                               ? "<NULL>"
                               : std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)),
                                             static_cast<std::size_t>(sqlite3_column_bytes(s, 0)));
        auto p = static_cast<const std::uint8_t*>(sqlite3_column_blob(s, 1));
        rows.emplace_back(name, Bytes(p, p + sqlite3_column_bytes(s, 1)));
    }
    sqlite3_finalize(s);
    return rows;
}

void MakePictureDb(const std::string& dbPath) { RawSql(dbPath, "CREATE TABLE pic_list (pic_name TEXT, pic BLOB);"); }

void RawInsert(const std::string& dbPath, const std::string* name, const Bytes& pic) {
    Raw raw(dbPath);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(raw.db, "INSERT INTO pic_list (pic_name, pic) VALUES (?, ?)", -1, &s, nullptr);
    if (name) sqlite3_bind_text(s, 1, name->c_str(), static_cast<int>(name->size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(s, 2, pic.data(), static_cast<int>(pic.size()), SQLITE_TRANSIENT);
    int rc = sqlite3_step(s);
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) throw std::runtime_error("raw insert failed");
}

#ifdef _WIN32
// Windows has no user who passes every permission check the way root does
// on Linux: a read-only file binds its owner too, so `body` runs here.
int RunAsUnprivileged(const std::function<int()>& body) {
    try {
        return body();
    } catch (...) {
        return 98;
    }
}
#else
int RunAsUnprivileged(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
        int code = 98;
        try {
            code = body();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif
