#include "migration/server_migrate.h"

#include <algorithm>

#include "engine/workspace/workspace.h"
#include "os/file_kind.h"
#include "os/paths.h"
#include "store/picture_table.h"
#include "store/transfer.h"
#include "migration/row_carrier.h"
#include "text/korean.h"


MigrationResult MigrateToServer(const std::string& path, const std::string& linked, const JetLimits& limits) {
    if (!StatPath(path).Exists()) throw Error(err::FileNotFound, "파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " 찾을 수 없습니다.");
    const DatabaseKind kind = SniffDatabaseFile(path);
    if (kind == DatabaseKind::Other)
        throw Error(err::NotADatabase, WithParticle("'" + path + "'", Particle::EunNeun) + " 옮길 수 있는 데이터베이스가 아닙니다.");

    Workspace ws = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
    Database server = ws.OpenDatabase(linked);
    if (server.Server().empty())
        throw Error(err::InvalidOperation, WithParticle("'" + linked + "'", Particle::EunNeun) + " 연결 파일이 아닙니다 (kaldoria-db link로 만듭니다).");
    RequireWritablePictureTable(server);
    MigrationResult result;
    result.target = server.Server();
    {
        Transaction t(server);
        // The book is the migration's own from its first row to its commit:
        // saves from other PCs wait (and give up with a message) rather than
        // land among the carried rows; readers are not held up.
        server.Execute("LOCK TABLE pic_list IN SHARE ROW EXCLUSIVE MODE");
        Recordset rs = server.OpenRecordset("pic_list", dbOpenTable);
        if (const long already = rs.RecordCount(); already > 0)
            throw Error(err::InvalidOperation, "서버 " + result.target + "의 pic_list에 이미 행이 " + std::to_string(already) +
                                                   "개 있습니다. 빈 표로만 옮깁니다 (섞이지 않도록).");
        RowCarrier carrier(rs);
        if (kind == DatabaseKind::Jet) {
            result.jetVersion = ReadJetTable(path, JetSource{}, carrier, limits).jetVersion;
        } else {
            Database source = ws.OpenDatabase(path, true);
            CheckPictureTable(source);
            ReadPictureRows(source, carrier);
            source.Close();
        }
        rs.Close();
        VerifyCarriedRows(server, carrier.rows);
        t.Commit();
        result.rows = std::move(carrier.rows);
    }
    ws.Close();
    for (const auto& row : result.rows) result.bytes += row.bytes;
    return result;
}
