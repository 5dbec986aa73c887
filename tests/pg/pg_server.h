#pragma once
// A throwaway PostgreSQL server for the tests: its own data folder and Unix
// socket in a temporary folder, no TCP port, started and stopped by the test
// itself. PostgreSQL refuses to run as root, so under root (as on CI) the
// server runs as the unprivileged user "nobody".
//
// The first server of a run makes a template data folder with initdb, which
// later servers copy, so each test pays a copy and a start, not an initdb.
//
// The Windows test build runs under Wine (tests/pg/pg_server_wine.cpp): the
// server is the same Linux one, reached over TCP on 127.0.0.1 instead.
#include <string>

class PgServer {
public:
    // The folder of initdb and pg_ctl, or empty when PostgreSQL is not installed.
    static std::string BinDir();
    // Why BinDir() is empty, for the tests' skip messages.
    static std::string NotFound();

    // Makes and starts a server under `folder`; throws std::runtime_error.
    // A durable one syncs its writes to disk, as a real one does; the tests'
    // servers skip that.
    explicit PgServer(const std::string& folder, bool durable = false);
    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // A libpq connection string for `user` on database `db`.
    std::string Conninfo(const std::string& user = "postgres", const std::string& db = "postgres") const;
    const std::string& SocketDir() const { return folder_; }

    // Runs SQL as the superuser; throws on failure. Query returns the first value.
    void Sql(const std::string& sql) const;
    std::string Query(const std::string& sql) const;

    // pg_ctl stop with a mode ("fast", "immediate"), start, and reload of pg_hba.conf.
    void Stop(const char* mode = "fast");
    void Start();
    void Reload();
    // Replaces pg_hba.conf with `rules` and reloads; returns once a new
    // session meets the new rules.
    void Authentication(const std::string& rules);
    // Waits until a new session sees the configuration loaded later than
    // `loaded` (what pg_conf_load_time() said before a reload): the
    // postmaster rereads its files on the signal, after pg_ctl has returned.
    void WaitForReload(const std::string& loaded) const;

    // The TCP port (the Windows build's server only; the Linux one has none).
    int Port() const { return port_; }
    // The Windows build's server only (TLS needs TCP): makes a throwaway
    // certificate authority and a server certificate it signed for
    // `hostName`, and turns TLS on. Leaves in SocketDir() the authority's
    // certificate "ca.crt" and "stranger-ca.crt", an unrelated authority's
    // of the same name.
    void EnableTls(const std::string& hostName);

private:
    void Ctl(const std::string& args) const;
    std::string folder_, data_;
    bool durable_;
    bool running_ = false;
    int port_ = 5432;
};
