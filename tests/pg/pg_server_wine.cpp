// The throwaway PostgreSQL server of the Windows test build, which runs under
// Wine: the server is the Linux one (Wine starts a Linux program given to
// CreateProcess as a Linux process), and the Windows libpq reaches it over
// TCP on 127.0.0.1, since Wine's sockets have no Unix domain. On Windows
// itself there is no such server, and every server test skips.
#include "pg_server.h"

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Wine's own function giving the Linux path of a Windows one (Wine only).
using UnixFileName = char*(CDECL*)(LPCWSTR);

UnixFileName WineUnixFileName() {
    const HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
    return kernel32 ? reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(::GetProcAddress(kernel32, "wine_get_unix_file_name")))
                    : nullptr;
}

std::string UnixPath(const std::string& path) {
    const UnixFileName convert = WineUnixFileName();
    char* unix = convert ? convert(fs::path(path).wstring().c_str()) : nullptr;
    if (!unix) throw std::runtime_error("no Linux path for " + path);
    std::string result = unix;
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return result;
}

// Runs `script` with the Linux shell (its commands as nobody when we are
// root, as the Linux tests do). Wine does not hand back a Linux program's
// exit status, so the script writes it into a file, which is waited for: the
// file is written under another name and renamed, so it appears whole.
void RunLinux(const std::string& folder, const std::string& script) {
    static std::mt19937 names(std::random_device{}());
    const std::string base = folder + "/run-" + std::to_string(names());
    {
        std::ofstream out(base + ".sh", std::ios::binary);
        out << "PATH=/usr/sbin:/usr/bin:/sbin:/bin\n"  // not the Windows PATH Wine hands on
            << "as_server() { if [ \"$(id -u)\" = 0 ]; then runuser -u nobody -- \"$@\"; else \"$@\"; fi; }\n"
            << "( set -e\n" << script << "\n) >>'" << UnixPath(base) << ".log' 2>&1\n"
            << "echo $? >'" << UnixPath(base) << ".status.part'\n"
            << "mv '" << UnixPath(base) << ".status.part' '" << UnixPath(base) << ".status'\n";
    }
    std::string line = "/bin/sh \"" + UnixPath(base + ".sh") + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        throw std::runtime_error("cannot start the Linux shell: error " + std::to_string(::GetLastError()));
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!fs::exists(base + ".status")) {
        if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("no end of: " + script);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::ifstream status(base + ".status");
    int code = -1;
    status >> code;
    if (code != 0) throw std::runtime_error("failed (" + std::to_string(code) + "): " + script + "; see " + base + ".log");
}

// A free-looking TCP port; a start that finds it taken tries another.
int SomePort() {
    static std::mt19937 ports(std::random_device{}());
    return 20000 + static_cast<int>(ports() % 30000);
}

}  // namespace

std::string PgServer::NotFound() {
    return WineUnixFileName() ? "PostgreSQL (initdb, pg_ctl) not found under /usr/lib/postgresql"
                              : "no PostgreSQL server to start on Windows (the tests' servers are Linux programs under Wine)";
}

std::string PgServer::BinDir() {
    if (!WineUnixFileName() || !fs::exists("Z:/usr/lib/postgresql")) return {};
    std::string best;
    for (const auto& entry : fs::directory_iterator("Z:/usr/lib/postgresql"))
        if (fs::exists(entry.path() / "bin/initdb") && entry.path().filename().string() > best)
            best = entry.path().filename().string();
    return best.empty() ? best : "/usr/lib/postgresql/" + best + "/bin";
}

// The template data folder is made once per run under the Linux TMPDIR, as
// by the Linux tests. The server's own files live beside it, not in the
// test's folder: Wine keeps drive C: under /root, which nobody may not enter.
PgServer::PgServer(const std::string& folder, bool durable) : folder_(folder), durable_(durable) {
    fs::create_directories(folder_);
    const std::string named = folder_ + "/data-folder";
    RunLinux(folder_, "base=\"${TMPDIR:-/tmp}/kaldoria-pg-template-$(id -u)\"\n"
                      "exec 9>\"$base.lock\"; flock 9\n"
                      "if [ ! -f \"$base/PG_VERSION\" ]; then\n"
                      "  rm -rf \"$base\"; mkdir -p \"$base\"; chmod 700 \"$base\"\n"
                      "  [ \"$(id -u)\" != 0 ] || chown nobody: \"$base\"\n"
                      "  as_server " + BinDir() + "/initdb -D \"$base\" -A trust -U postgres --no-sync -E UTF8 --locale=C.UTF-8\n"
                      "fi\n"
                      "own=$(mktemp -d \"${TMPDIR:-/tmp}/kaldoria-pg-wine-XXXXXX\")\n"
                      "cp -a \"$base\" \"$own/data\"; chmod 700 \"$own/data\"\n"
                      "[ \"$(id -u)\" != 0 ] || chown -R nobody: \"$own\"\n"
                      "echo \"$own/data\" >'" + UnixPath(named) + "'");
    std::ifstream in(named);
    std::string data;
    std::getline(in, data);
    data_ = "Z:" + data;
    Start();
}

PgServer::~PgServer() {
    try {
        if (running_) Stop("immediate");
        RunLinux(folder_, "rm -rf \"$(dirname '" + UnixPath(data_) + "')\"");
    } catch (...) {
    }
}

void PgServer::Ctl(const std::string& args) const {
    RunLinux(folder_, "as_server " + BinDir() + "/pg_ctl -D '" + UnixPath(data_) + "' " + args);
}

void PgServer::Start() {
    for (int attempt = 0;; ++attempt) {
        port_ = SomePort();
        try {
            Ctl("-w -l '" + UnixPath(data_) + "/../server.log' -o \"-c unix_socket_directories='' -c listen_addresses=127.0.0.1 -p " +
                std::to_string(port_) + " -c max_connections=40" + (durable_ ? "" : " -c fsync=off") + "\" start");
            break;
        } catch (const std::runtime_error&) {
            if (attempt == 4) throw;
        }
    }
    running_ = true;
}

void PgServer::Stop(const char* mode) {
    Ctl(std::string("-w -m ") + mode + " stop");
    running_ = false;
}

void PgServer::Reload() { Ctl("reload"); }

void PgServer::Authentication(const std::string& rules) {
    {
        std::ofstream out(data_ + "/pg_hba.conf", std::ios::trunc | std::ios::binary);
        out << rules;
    }
    RunLinux(folder_, "[ \"$(id -u)\" != 0 ] || chown nobody: '" + UnixPath(data_) + "/pg_hba.conf'");
    const std::string loaded = Query("SELECT pg_conf_load_time()");
    Reload();
    WaitForReload(loaded);
}

void PgServer::EnableTls(const std::string& hostName) {
    const std::string data = UnixPath(data_);
    RunLinux(folder_, "cd '" + UnixPath(folder_) + "'\n"
                      "for ca in ca stranger-ca; do\n"
                      "  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Kaldoria test CA' "
                      "-keyout $ca.key -out $ca.crt\n"
                      "done\n"
                      "openssl req -newkey rsa:2048 -nodes -subj '/CN=" + hostName + "' -keyout server.key -out server.csr\n"
                      "printf 'subjectAltName=DNS:%s\\n' '" + hostName + "' >server.ext\n"
                      "openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 "
                      "-extfile server.ext -out server.crt\n"
                      "cp server.crt server.key '" + data + "/'\n"
                      "chmod 600 '" + data + "/server.key'\n"
                      "[ \"$(id -u)\" != 0 ] || chown nobody: '" + data + "/server.crt' '" + data + "/server.key'");
    Sql("ALTER SYSTEM SET ssl = on");
    Reload();
    for (int i = 0; i < 50 && Query("SHOW ssl") != "on"; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (Query("SHOW ssl") != "on") throw std::runtime_error("the server did not turn TLS on; see its server.log");
}

std::string PgServer::Conninfo(const std::string& user, const std::string& db) const {
    return "host=127.0.0.1 port=" + std::to_string(port_) + " user=" + user + " dbname=" + db;
}
