#include "engine/sqlite/interrupted_write.h"


#include "os/files.h"
#include "os/paths.h"
#include "engine/sqlite/sqlite_call.h"
#include "os/unique_fd.h"
#include "text/korean.h"

namespace {

// The primary result of a read-only connection's first read of the file:
// SQLITE_OK, or why it cannot read it.
int FirstRead(const std::string& path) {
    try {
        // No wait for a lock: a writer holding one is not a reason to refuse.
        const Db db = OpenSqlite(path, SQLITE_OPEN_READONLY, path, 0);
        Exec(db.get(), "SELECT count(*) FROM sqlite_schema", path);
        return SQLITE_OK;
    } catch (const Error& e) {
        return e.Cause().sqliteCode & 0xff;
    }
}

// True when the file's header says it is kept in WAL mode (another program
// set it): every reader then needs the shared-memory file "-shm" beside it.
bool WalMode(const std::string& path) {
    UniqueFd fd = OpenForReading(path);
    unsigned char header[20] = {};
    return fd && ReadSomeAt(fd.get(), header, sizeof header, 0) == sizeof header && header[18] == 2 && header[19] == 2;
}

// A WAL-mode file in a folder the user may not write cannot be read by him
// at all; the engine says only "unable to open database file".
void ExplainUnreadableWal(const std::string& path) {
    const std::string folder = FolderOf(path);
    if (MayWriteIn(folder) || !WalMode(path) || FirstRead(path) != SQLITE_CANTOPEN) return;
    const std::string wal = path + "-wal";
    const bool pending = StatPath(wal).size > 0;
    throw Error(err::CannotOpen,
                "데이터베이스 파일 " + WithParticle("'" + path + "'", Particle::EunNeun) + " WAL 모드라서, 읽기만 하려 해도 공유 메모리 파일 '" + path +
                    "-shm'이 있어야 하는데 폴더 '" + folder + "'에 쓸 수 없어 그 파일을 만들 수 없습니다" +
                    (pending ? " (데이터베이스 파일에 아직 옮겨 적지 않은 저장이 로그 '" + wal +
                                   "'에 남아 있습니다. 이 로그는 지우지 마십시오. 지우면 그 저장이 사라집니다)"
                             : std::string()) +
                    ". 이 폴더에 쓸 수 있는 사용자로 실행하거나, 그런 사용자가 sqlite3 \"" + path +
                    "\" \"PRAGMA journal_mode=DELETE\"로 WAL 모드를 끄십시오 (남은 저장은 그때 파일에 옮겨 적힙니다).");
}

}  // namespace

bool RollBackInterruptedWrite(const std::string& path) {
    if (path.empty()) return false;
    ExplainUnreadableWal(path);
    const std::string journal = path + "-journal";
    if (StatPath(journal).size == 0 || FirstRead(path) != SQLITE_READONLY) return false;
    if (!MayReadAndWrite(path) || !MayWriteIn(FolderOf(path)))
        throw Error(err::CannotOpen,
                    "데이터베이스 파일 '" + path + "'에 끝나지 않은 저장이 남아 있습니다 (저장하던 프로그램이 중간에 "
                    "끝났습니다). 저널 '" + journal + "'로 저장 전 상태로 되돌려야 읽을 수 있는데, 이 파일이나 폴더에 "
                    "쓸 수 없습니다. 쓸 수 있는 사용자가 'kaldoria-db check \"" + path + "\"'를 한 번 실행하십시오. "
                    "저널 파일은 지우지 마십시오. 지우면 데이터베이스가 손상될 수 있습니다.");
    const std::string context = "데이터베이스 " + path + " 되돌리기";
    const Db db = OpenSqlite(path, SQLITE_OPEN_READWRITE, context);
    // The first read of a connection that may write plays the journal back.
    Exec(db.get(), "SELECT count(*) FROM sqlite_schema", context);
    return true;
}
