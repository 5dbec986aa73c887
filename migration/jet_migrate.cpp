#include "migration/jet_migrate.h"

#include "migration/row_carrier.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/workspace/workspace.h"
#include "os/file_kind.h"
#include "os/files.h"
#include "os/leftovers.h"
#include "os/os_error.h"
#include "os/paths.h"
#include "os/process.h"
#include "os/unique_fd.h"
#include "store/connection.h"
#include "store/history.h"
#include "store/ledger.h"
#include "store/transfer.h"
#include "text/korean.h"

namespace {

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

bool LinkUnsupported(int e) { return e == EPERM || e == EOPNOTSUPP || e == EMLINK || e == ENOSYS; }

// The new database under construction: removed unless handed over.
class TemporaryDatabase {
public:
    explicit TemporaryDatabase(const std::string& folder, const std::string& base) {
        for (int n = 0;; ++n) {
            path_ = JoinPath(folder, "." + base + ".migrate-" + std::to_string(ProcessId()) + "-" + std::to_string(n));
            if (!PathTaken(path_) && !PathTaken(path_ + "-journal")) break;
        }
        // The name was free a moment ago: whatever is there, journal included, is ours.
        leftovers_.emplace(std::vector<std::string>{path_, path_ + "-journal"});
        CreatePICDB(path_);
    }
    TemporaryDatabase(const TemporaryDatabase&) = delete;
    TemporaryDatabase& operator=(const TemporaryDatabase&) = delete;
    const std::string& path() const { return path_; }
    void Release() { leftovers_->Keep(); }

private:
    std::string path_;
    std::optional<LeftoverFiles> leftovers_;  // removes the file and its journal unless released, even when killed
};

std::vector<CarriedRow> WriteRows(const std::string& jetPath, const std::string& dbPath, const JetLimits& limits,
                                  int& jetVersion) {
    Workspace ws = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
    Database db = ws.OpenDatabase(dbPath);
    std::vector<CarriedRow> rows;
    {
        Transaction t(db);
        Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
        RowCarrier writer(rs);
        jetVersion = ReadJetTable(jetPath, JetSource{}, writer, limits).jetVersion;
        rs.Close();
        t.Commit();
        rows = std::move(writer.rows);
    }
    db.Close();
    ws.Close();
    return rows;
}

// Gives the original a second, free name beside it; returns that name and
// whether the original was moved (only where hard links are unsupported).
std::string KeepOriginal(const std::string& path, bool& moved) {
    for (int n = 0; n < 10000; ++n) {
        std::string kept = KeptOriginalName(path, n);
        if (HardLink(path, kept)) {
            moved = false;
            return kept;
        }
        int e = errno;
        if (e == EEXIST) continue;
        if (!LinkUnsupported(e)) RaiseErrno(e, "원본을 " + WithParticle(Quoted(kept), Particle::EuroRo) + " 남겨 둘 수 없습니다");
        if (RenameWithoutReplacing(path, kept)) {
            moved = true;
            return kept;
        }
        if (errno == EEXIST) continue;
        RaiseErrno(errno, "원본을 " + WithParticle(Quoted(kept), Particle::EuroRo) + " 남겨 둘 수 없습니다");
    }
    throw Error(err::PathFileAccess, "원본을 남겨 둘 빈 이름을 찾지 못했습니다: " + Quoted(path));
}

void PlaceInstead(const std::string& path, TemporaryDatabase& temp, const PathFacts& before, std::string& kept) {
    const PathFacts now = StatPath(path);
    if (!now.Exists() || !now.SameUnchanged(before))
        throw Error(err::PathFileAccess, WithParticle(Quoted(path), Particle::IGa) + " 변환하는 동안 바뀌었습니다. 변환을 취소했습니다; 다시 실행하십시오.");
    // The new database is no more open to others than the original was.
    CopyPermissions(before, temp.path());
    bool moved = false;
    kept = KeepOriginal(path, moved);
    if (moved) {
        if (!RenameWithoutReplacing(temp.path(), path)) {
            int e = errno;
            if (!RenameWithoutReplacing(kept, path))
                RaiseErrno(e, "새 데이터베이스를 " + WithParticle(Quoted(path), Particle::EuroRo) + " 옮길 수 없습니다. 원본은 " + Quoted(kept) +
                                  "에 있습니다");
            kept.clear();
            RaiseErrno(e, "새 데이터베이스를 " + WithParticle(Quoted(path), Particle::EuroRo) + " 옮길 수 없습니다. 원본은 그대로입니다");
        }
    } else if (!RenameReplacing(temp.path(), path)) {
        int e = errno;
        RemoveQuietly(kept);  // only the second name: the original keeps its own
        kept.clear();
        RaiseErrno(e, "새 데이터베이스를 " + WithParticle(Quoted(path), Particle::EuroRo) + " 옮길 수 없습니다. 원본은 그대로입니다");
    }
    temp.Release();
}

// Gives the new database the name `to` unless something took it meanwhile.
void PlaceAt(const std::string& to, TemporaryDatabase& temp) {
    PlaceWithoutReplacing(temp.path(), to);
    temp.Release();
}

}  // namespace

std::string KeptOriginalName(const std::string& path, int n) {
    std::string base = BaseNameOf(path);
    std::string folder = base == path ? "" : FolderOf(path);
    auto dot = base.find_last_of('.');
    std::string stem = dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
    std::string ext = dot == std::string::npos || dot == 0 ? "" : base.substr(dot);
    std::string name = stem + ".jet";
    if (n != 0) name.append(1, '-').append(std::to_string(n));
    name += ext;
    return folder.empty() ? name : JoinPath(folder, name);
}

MigrationResult MigrateJetDatabase(const std::string& path, const std::optional<std::string>& to,
                                   const JetLimits& limits) {
    const PathFacts before = StatPath(path);
    if (!before.Exists())
        throw Error(err::FileNotFound, "파일 " + WithParticle(Quoted(path), Particle::EulReul) + " 찾을 수 없습니다.");
    if (const DatabaseKind kind = SniffDatabaseFile(path); kind != DatabaseKind::Jet) {
        if (kind == DatabaseKind::SQLite)
            throw Error(err::NotADatabase, WithParticle(Quoted(path), Particle::EunNeun) + " 이미 Kaldoria 데이터베이스입니다. 변환할 것이 없습니다.");
        throw Error(err::NotADatabase, WithParticle(Quoted(path), Particle::EunNeun) + " Jet 형식의 데이터베이스가 아닙니다.");
    }
    const std::string target = to ? *to : path;
    if (to) RefuseTakenName(*to);
    // Asked before anything is made: the original's second name, made at
    // the end, could not be removed again either.
    else if (!MayBeReplaced(path))
        RaiseErrno(errno, WithParticle(Quoted(path), Particle::EulReul) + " 변환한 데이터베이스로 바꿀 수 없습니다. 원본은 그대로입니다");
    // A leftover journal beside the target would be played into the new database.
    for (const char* suffix : {"-journal", "-wal"})
        if (PathTaken(target + suffix))
            throw Error(err::PathFileAccess, WithParticle(Quoted(target + suffix), Particle::IGa) + " 있습니다. 이 파일을 치운 뒤 다시 실행하십시오.");

    MigrationResult result;
    TemporaryDatabase temp(FolderOf(target), BaseNameOf(target));
    result.rows = WriteRows(path, temp.path(), limits, result.jetVersion);
    {
        Workspace ws = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
        Database db = ws.OpenDatabase(temp.path(), true);
        VerifyCarriedRows(db, result.rows);
        ws.Close();
    }
    SyncFile(temp.path());
    if (to) PlaceAt(*to, temp);
    else PlaceInstead(path, temp, before, result.keptOriginal);
    SyncFolder(FolderOf(target));
    result.target = target;
    for (const auto& row : result.rows) result.bytes += row.bytes;
    return result;
}

MigrationResult CopyServerToFile(const std::string& linked, const std::string& to) {
    RefuseTakenName(to);
    for (const char* suffix : {"-journal", "-wal"})
        if (PathTaken(to + suffix))
            throw Error(err::PathFileAccess, WithParticle(Quoted(to + suffix), Particle::IGa) + " 있습니다. 이 파일을 치운 뒤 다시 실행하십시오.");
    MigrationResult result;
    TemporaryDatabase temp(FolderOf(to), BaseNameOf(to));
    Workspace ws = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
    {
        Database server = ws.OpenDatabase(linked, true);
        Database db = ws.OpenDatabase(temp.path());
        // One snapshot of the server for the whole copy, however others save meanwhile.
        Transaction reading(server);
        server.Execute("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ");
        Transaction writing(db);
        Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
        RowCarrier carrier(rs);
        ReadPictureRows(server, carrier);
        rs.Close();
        if (CanReadHistory(server)) {
            EnableHistory(db);
            result.historyVersions = CopyHistory(server, db);
        } else {
            result.historyUnreadable = HasHistory(server);
        }
        if (CanReadLedger(server)) {
            EnableLedger(db);
            result.ledgerRows = CopyLedger(server, db);
        }
        writing.Commit();
        result.rows = std::move(carrier.rows);
        result.target = server.Server();
    }
    {
        Database copy = ws.OpenDatabase(temp.path(), true);
        VerifyCarriedRows(copy, result.rows);
        if (copy.CheckIntegrity() != std::vector<std::string>{"ok"})
            throw Error(err::NotADatabase, "사본 " + WithParticle(Quoted(temp.path()), Particle::IGa) + " 무결성 검사를 통과하지 못했습니다.");
    }
    ws.Close();
    SyncFile(temp.path());
    PlaceAt(to, temp);
    SyncFolder(FolderOf(to));
    for (const auto& row : result.rows) result.bytes += row.bytes;
    return result;
}
