// Workspaces and the engine object: opening and making database files.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/database_file.h"
#include "platform/engine_impl.h"
#include "platform/link.h"
#include "platform/link_file.h"
#include "platform/network_fs.h"
#include "platform/pg_backend.h"
#include "platform/sqlite_backend.h"
#include "platform/interrupted_write.h"
#include "platform/os_error.h"
#include "platform/unique_fd.h"

WorkspaceImpl& Workspace::ws() const {
    if (!ws_ || ws_->closed) throw Error(err::ObjectClosed, "작업 영역이 열려 있지 않습니다.");
    return *ws_;
}

const std::string& Workspace::Name() const { return ws().name; }
const std::string& Workspace::UserName() const { return ws().user; }

namespace {

// A local SQLite file, or the server a link file names.
std::shared_ptr<ConnectionImpl> OpenFile(const std::string& path, bool exclusive, bool readOnly) {
    // First, as a file cut off mid-write can look truncated until then, and
    // a read-only connection could not read it at all.
    RollBackInterruptedWrite(path);
    CheckDatabaseFile(path, true);
    sqlite3* raw = nullptr;
    // Each connection serves one thread, so SQLite need not lock on every call.
    int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE;
    int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    Db handle(raw);
    if (rc != SQLITE_OK) Raise(raw, rc, "데이터베이스 " + path + " 열기");
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, kOpenBusyTimeoutMs);
    try {
        // Reading the schema and checking the pages makes a locked, foreign or
        // damaged file fail here rather than at the first statement.
        Exec(raw, "SELECT count(*) FROM sqlite_schema", "데이터베이스 " + path + " 열기");
        if (auto link = LinkedConnection(raw)) {
            // A link file is only read; the server does the writing.
            handle.reset();
            CheckLinkConnection(*link);
            auto server = std::make_shared<PgConnection>(path, *link, readOnly);
            server->RequireTextColumn(kLinkedTable, kLinkedNameColumn);
            return server;
        }
        if (!readOnly) {
            CheckDatabaseFile(path, false);
            if (sqlite3_db_readonly(raw, "main") == 1)
                throw Error(err::CannotOpen, "데이터베이스 파일 '" + path + "'에 쓸 수 없습니다 (읽기 전용).");
            RefuseNetworkFileSystem(path);
        }
        CheckPages(raw, path);
        if (exclusive) Exec(raw, "PRAGMA locking_mode=EXCLUSIVE", "데이터베이스 " + path + " 열기");
    } catch (const Error& e) {
        if (e.Number() == err::Locked)
            throw Error(err::InUseExclusively,
                        "데이터베이스 파일 '" + path + "'을(를) 다른 프로그램이 독점적으로 사용하고 있습니다.");
        throw;
    }
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    return std::make_shared<SqliteConnection>(path, std::move(handle));
}

}  // namespace

Database Workspace::OpenDatabase(const std::string& path, bool exclusive, bool readOnly, const std::string& connect) {
    auto& w = ws();
    std::shared_ptr<ConnectionImpl> c;
    if (!connect.empty()) {
        CheckLinkConnection(connect);
        auto server = std::make_shared<PgConnection>(path, connect, readOnly);
        server->RequireTextColumn(kLinkedTable, kLinkedNameColumn);
        c = server;
    } else {
        c = OpenFile(path, exclusive, readOnly);
    }
    w.databases.push_back(c);
    std::erase_if(w.databases, [](const auto& d) { return d.expired(); });
    return Database(c);
}

Database Workspace::CreateDatabase(const std::string& path) {
    auto& w = ws();
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd) {
        if (errno == EEXIST) throw Error(err::CannotOpen, "'" + path + "'이(가) 이미 있습니다. 덮어쓰지 않습니다.");
        RaiseErrno(errno, "'" + path + "'을(를) 만들 수 없습니다");
    }
    fd.reset();
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE, nullptr);
    Db handle(raw);
    if (rc != SQLITE_OK) {
        handle.reset();
        ::unlink(path.c_str());
        Raise(nullptr, rc, "데이터베이스 " + path + " 만들기");
    }
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    auto c = std::make_shared<SqliteConnection>(path, std::move(handle));
    w.databases.push_back(c);
    return Database(c);
}

void Workspace::Close() {
    auto& w = ws();
    for (auto& weak : w.databases)
        if (auto c = weak.lock()) c->Close();
    w.databases.clear();
    w.closed = true;
}

DBEngine& DBEngine::Instance() {
    static DBEngine engine;
    return engine;
}

Workspace DBEngine::CreateWorkspace(const std::string& name, const std::string& user, const std::string& password,
                                    int type) {
    if (type != dbUseJet) throw Error(err::InvalidEngineArgument, "지원하지 않는 작업 영역 형식입니다: " + std::to_string(type));
    if (!password.empty() || user != "admin")
        throw Error(err::CannotOpen, "사용자 '" + user + "'(으)로 로그인할 수 없습니다.");
    auto w = std::make_shared<WorkspaceImpl>();
    w->name = name;
    w->user = user;
    return Workspace(w);
}
