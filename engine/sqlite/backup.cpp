#include "engine/sqlite/backup.h"


#include <cerrno>
#include <chrono>
#include <optional>
#include <vector>

#include "engine/sqlite/database_file.h"
#include "os/files.h"
#include "os/paths.h"
#include "engine/sqlite/interrupted_write.h"
#include "os/leftovers.h"
#include "os/os_error.h"
#include "engine/sqlite/sqlite_call.h"
#include "text/korean.h"

namespace {

// About 1 MiB at the default page size; other connections may write between steps.
constexpr int kPagesPerStep = 256;
// A write by another connection between steps starts the copy over; after
// this many restarts the copy keeps its read lock to the end, so that a
// steady stream of saves cannot keep it from finishing (they wait meanwhile).
constexpr int kRestartsBeforeHolding = 2;

struct BackupDeleter {
    void operator()(sqlite3_backup* b) const { sqlite3_backup_finish(b); }
};

// The copy under construction, made with O_EXCL beside `copy`; removed
// unless placed, with its journal, even when the process is killed.
class NewCopy {
public:
    explicit NewCopy(const std::string& copy) : fd_(CreateFreshBeside(copy, path_)) {
        // A journal already under the fresh name would be played into the copy.
        if (StatEntry(path_ + "-journal").Exists()) {
            RemoveQuietly(path_);
            throw Error(err::PathFileAccess, WithParticle("'" + path_ + "-journal'", Particle::IGa) + " 있어 백업을 만들 수 없습니다.");
        }
        try {
            leftovers_.emplace(std::vector<std::string>{path_, path_ + "-journal"});
        } catch (const Error&) {
            RemoveQuietly(path_);
            throw;
        }
    }
    NewCopy(const NewCopy&) = delete;
    NewCopy& operator=(const NewCopy&) = delete;
    const std::string& path() const { return path_; }

    // Flushes the finished copy to the disk and gives it the name `copy`; returns its size.
    long long PlaceAt(const std::string& copy) {
        PathFacts written;
        if (!FlushToDisk(fd_.get()) || (written = StatOpen(fd_.get())).error != 0)
            RaiseErrno(written.error ? written.error : errno, "백업 '" + copy + "' 쓰기 실패");
        if (fd_.Close() != 0) RaiseErrno(errno, "백업 '" + copy + "' 닫기 실패");
        PlaceWithoutReplacing(path_, copy);
        leftovers_->Keep();
        path_.clear();
        SyncFolder(FolderOf(copy));
        return written.size;
    }

private:
    std::string path_;
    UniqueFd fd_;
    std::optional<LeftoverFiles> leftovers_;
};

void Copy(sqlite3* source, sqlite3* target, const std::string& context, const BackupProgress& progress) {
    std::unique_ptr<sqlite3_backup, BackupDeleter> backup(sqlite3_backup_init(target, "main", source, "main"));
    if (!backup) Raise(target, sqlite3_errcode(target), context);
    using Clock = std::chrono::steady_clock;
    // Between steps a lock is waited for here, briefly and often, rather
    // than by the engine's busy handler, whose waits grow long.
    sqlite3_busy_timeout(source, 0);
    auto busySince = Clock::now();
    long long lastDone = 0;
    int restarts = 0;
    for (;;) {
        const int rc = sqlite3_backup_step(backup.get(), kPagesPerStep);
        if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) {
            if (Clock::now() - busySince > std::chrono::milliseconds(kBusyTimeoutMs)) Raise(nullptr, rc, context);
            sqlite3_sleep(10);
            continue;
        }
        if (rc != SQLITE_OK && rc != SQLITE_DONE) {
            backup.reset();  // the step's error now stands on the target connection
            Raise(target, rc, context);
        }
        busySince = Clock::now();
        const long long total = sqlite3_backup_pagecount(backup.get());
        const long long done = total - sqlite3_backup_remaining(backup.get());
        // Every step that is not the last copies pages, so no gain means a restart.
        if (done <= lastDone && ++restarts == kRestartsBeforeHolding) {
            sqlite3_busy_timeout(source, kBusyTimeoutMs);
            Exec(source, "BEGIN", context);
            Exec(source, "SELECT count(*) FROM sqlite_schema", context);
        }
        lastDone = done;
        if (progress) progress(done, total);
        if (rc == SQLITE_DONE) break;
    }
    const int rc = sqlite3_backup_finish(backup.release());
    if (rc != SQLITE_OK) Raise(target, rc, context);
}

void Verify(sqlite3* copy, const std::string& path, const std::string& context) {
    Stmt check = Prepare(copy, "PRAGMA integrity_check");
    int rc = sqlite3_step(check.get());
    Check(copy, rc, context);
    const char* verdict =
        rc == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0)) : nullptr;
    if (!verdict || std::string(verdict) != "ok")
        throw Error(err::NotADatabase, "백업본이 무결성 검사를 통과하지 못했습니다 (" + std::string(verdict ? verdict : "?") +
                                           "). 원본 " + WithParticle("'" + path + "'", Particle::IGa) + " 손상되었을 수 있으니 'kaldoria-db check'로 "
                                           "확인하십시오.");
}

}  // namespace

long long BackupDatabase(const std::string& path, const std::string& copy, const BackupProgress& progress) {
    const std::string context = "데이터베이스 " + path + " 백업";
    RollBackInterruptedWrite(path);
    CheckDatabaseFile(path, true);
    RefuseTakenName(copy);
    NewCopy made(copy);
    Db target = OpenSqlite(made.path(), SQLITE_OPEN_READWRITE, context);
    // A copy that fails is thrown away whole, so it needs no journal to roll
    // back with, and a full disk leaves none behind.
    Exec(target.get(), "PRAGMA journal_mode = OFF", context);
    {
        Db source = OpenSqlite(path, SQLITE_OPEN_READONLY, context);
        Copy(source.get(), target.get(), context, progress);
    }
    Verify(target.get(), path, context);
    const int rc = sqlite3_close(target.get());
    if (rc != SQLITE_OK) Raise(target.get(), rc, context);
    (void)target.release();
    return made.PlaceAt(copy);
}
