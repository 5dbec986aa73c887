#include "platform/interrupted_write.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/sqlite_call.h"

namespace {

// True when a read-only connection cannot read the file because the engine
// would first have to write to it; false for every other outcome.
bool NeedsWriterToRead(const std::string& path) {
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_EXRESCODE, nullptr);
    Db db(raw);
    if (opened != SQLITE_OK) return false;
    const int rc = sqlite3_exec(raw, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
    return (rc & 0xff) == SQLITE_READONLY;
}

}  // namespace

bool RollBackInterruptedWrite(const std::string& path) {
    const std::string journal = path + "-journal";
    struct stat st {};
    if (path.empty() || ::stat(journal.c_str(), &st) != 0 || st.st_size == 0 || !NeedsWriterToRead(path)) return false;
    if (::access(path.c_str(), R_OK | W_OK) != 0 || ::access(FolderOf(path).c_str(), W_OK | X_OK) != 0)
        throw Error(err::CannotOpen,
                    "데이터베이스 파일 '" + path + "'에 끝나지 않은 저장이 남아 있습니다 (저장하던 프로그램이 중간에 "
                    "끝났습니다). 저널 '" + journal + "'로 저장 전 상태로 되돌려야 읽을 수 있는데, 이 파일이나 폴더에 "
                    "쓸 수 없습니다. 쓸 수 있는 사용자가 'kaldoria-db check \"" + path + "\"'를 한 번 실행하십시오. "
                    "저널 파일은 지우지 마십시오. 지우면 데이터베이스가 손상될 수 있습니다.");
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_EXRESCODE, nullptr);
    Db db(raw);
    if (rc != SQLITE_OK) Raise(raw, rc, "데이터베이스 " + path + " 되돌리기");
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    // The first read of a connection that may write plays the journal back.
    Exec(raw, "SELECT count(*) FROM sqlite_schema", "데이터베이스 " + path + " 되돌리기");
    return true;
}
