#include "keeper/backup.h"

#include "engine/sqlite/backup.h"
#include "engine/sqlite/link_file.h"
#include "migration/jet_migrate.h"

BackupResult BackupBook(const std::string& path, const std::string& copy,
                        const std::function<void(long long, long long)>& progress) {
    BackupResult result;
    if (IsLinkFile(path)) {
        const MigrationResult r = CopyServerToFile(path, copy);
        result.linked = true;
        result.server = r.target;
        result.stamps = static_cast<long>(r.rows.size());
        result.bytes = r.bytes;
        result.historyVersions = r.historyVersions;
        result.historyUnreadable = r.historyUnreadable;
        result.ledgerRows = r.ledgerRows;
        return result;
    }
    result.bytes = BackupDatabase(path, copy, [&](long long done, long long total) {
        if (progress) progress(done, total);
    });
    return result;
}
