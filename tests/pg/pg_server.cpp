#include "pg_server.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// Runs `command` through the shell, as nobody when we are root.
void Run(const std::string& command) {
    std::string line = command;
    if (::geteuid() == 0) line = "runuser -u nobody -- " + command;
    if (std::system((line + " >/dev/null 2>&1").c_str()) != 0) throw std::runtime_error("failed: " + line);
}

void GiveToServerUser(const std::string& path) {
    if (::geteuid() != 0) return;
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody) throw std::runtime_error("no user nobody");
    for (const auto& entry : fs::recursive_directory_iterator(path))
        if (::lchown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0) throw std::runtime_error("chown");
    if (::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) throw std::runtime_error("chown");
}

std::string Template() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/kaldoria-pg-template-" + std::to_string(::geteuid());
    const std::string lock = base + ".lock";
    int fd = ::open(lock.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) throw std::runtime_error("cannot lock " + lock);
    try {
        if (!fs::exists(base + "/PG_VERSION")) {
            fs::remove_all(base);
            fs::create_directories(base);
            ::chmod(base.c_str(), 0700);
            GiveToServerUser(base);
            Run(PgServer::BinDir() + "/initdb -D " + base + " -A trust -U postgres --no-sync -E UTF8 --locale=C.UTF-8");
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    return base;
}

}  // namespace

std::string PgServer::NotFound() { return "PostgreSQL (initdb, pg_ctl) not found under /usr/lib/postgresql"; }

std::string PgServer::BinDir() {
    if (!fs::exists("/usr/lib/postgresql")) return {};
    std::string best;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql"))
        if (fs::exists(entry.path() / "bin/initdb") && entry.path().string() > best) best = entry.path().string();
    return best.empty() ? best : best + "/bin";
}

PgServer::PgServer(const std::string& folder, bool durable)
    : folder_(folder), data_(folder + "/data"), durable_(durable) {
    const std::string source = Template();
    fs::create_directories(folder_);
    fs::copy(source, data_, fs::copy_options::recursive);
    ::chmod(data_.c_str(), 0700);
    GiveToServerUser(folder_);
    Start();
}

PgServer::~PgServer() {
    try {
        if (running_) Stop("immediate");
    } catch (...) {
    }
}

void PgServer::Ctl(const std::string& args) const { Run(BinDir() + "/pg_ctl -D " + data_ + " " + args); }

void PgServer::Start() {
    Ctl("-w -l " + folder_ + "/server.log -o \"-k " + folder_ +
        " -c listen_addresses='' -c max_connections=40" + (durable_ ? "" : " -c fsync=off") + "\" start");
    running_ = true;
}

void PgServer::Stop(const char* mode) {
    Ctl(std::string("-w -m ") + mode + " stop");
    running_ = false;
}

void PgServer::Reload() { Ctl("reload"); }

void PgServer::Authentication(const std::string& rules) {
    {
        std::ofstream out(data_ + "/pg_hba.conf", std::ios::trunc);
        out << rules;
    }
    GiveToServerUser(folder_);
    const std::string loaded = Query("SELECT pg_conf_load_time()");
    Reload();
    WaitForReload(loaded);
}

std::string PgServer::Conninfo(const std::string& user, const std::string& db) const {
    return "host=" + folder_ + " port=" + std::to_string(port_) + " user=" + user + " dbname=" + db;
}
