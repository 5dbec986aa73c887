#pragma once
// Inside the engine layer: the objects behind the public handles of engine.h.
// A handle holds a shared_ptr to one of these; closing marks the object
// closed, and every later use of a handle to it raises err::ObjectClosed.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/chunk_stage.h"
#include "platform/engine.h"
#include "platform/snapshot_rows.h"
#include "platform/sqlite_call.h"
#include "platform/temp_file.h"

class ConnectionImpl {
public:
    std::string path;
    Db db;
    std::vector<std::weak_ptr<RecordsetImpl>> recordsets;

    sqlite3* handle() const {
        if (!db) throw Error(err::ObjectClosed, "데이터베이스가 닫혀 있습니다: " + path);
        return db.get();
    }
    // Closes the recordsets still open on it, then the connection.
    void Close();
};

class WorkspaceImpl {
public:
    std::string name, user;
    bool closed = false;
    std::vector<std::weak_ptr<ConnectionImpl>> databases;
};

class RecordsetImpl {
public:
    std::shared_ptr<ConnectionImpl> conn;
    int type = dbOpenSnapshot;
    bool closed = false;
    std::vector<std::string> names;
    std::string table;                // table recordsets, and lazy snapshot blobs
    std::string rowid = "_rowid_";    // the name that reaches the table's rowid
    std::vector<std::string> origin;  // origin column of each field (lazy snapshot blobs)
    // Why AddNew is refused (a table recordset opened on a view).
    std::string readOnlyReason;

    // Snapshot: its own read connection (null inside a write transaction of
    // the main connection, whose own view it then shares) and the rows.
    Db snapshotDb;
    SnapshotRows rows;
    std::size_t pos = 0;
    // Long values of a snapshot that could not leave them in the table.
    std::optional<AnonymousFile> spill;
    std::uint64_t spillSize = 0;

    // Table: the current row by rowid.
    std::optional<long long> current;

    // The row being added.
    bool adding = false;
    std::vector<std::optional<Variant>> edits;
    std::vector<std::unique_ptr<ChunkStage>> stages;
    std::optional<long long> lastModified;
    // What would see each column's value before it is filled in place; read
    // when a long value is first stored.
    std::vector<std::optional<std::vector<std::string>>> observers;

    // The blob handle of the value read last, kept so that consecutive
    // GetChunk calls cost one seek each and see one consistent value.
    BlobHandle blob;
    long long blobRow = 0;
    int blobField = -1;

    sqlite3* db() const { return snapshotDb ? snapshotDb.get() : conn->handle(); }

    void CheckOpen() const;
    void Close();
    int IndexOf(std::string_view name) const;
    void CheckIndex(int i) const;
    bool AtEnd() const { return type == dbOpenTable ? !current.has_value() : pos >= rows.size(); }
    void RequireRow() const;

    // The current row's cell for field i, read from the table when needed.
    Cell CurrentCell(int i) const;
    // A cell from a (type, value-or-length) pair of columns of a lazy read.
    static Cell MakeCell(sqlite3_stmt* s, int typeCol, long long rowid);
    // Reads rows from `stmt` into `rows`, keeping long blobs in the spill file.
    void ReadWhole(sqlite3_stmt* stmt, const std::string& context);
    // Up to `count` bytes from `offset` of a cell kept outside.
    Bytes ReadOutside(int field, const Cell& cell, std::int64_t offset, std::int64_t count);
    // The blob handle for a lazy cell of field `field`, opened or reused.
    sqlite3_blob* OpenBlob(int field, const LazyBlob& cell);
    void ForgetBlob() { blob.reset(); }
    // The rowid after `after` (the first one without it), or none at the end.
    std::optional<long long> NextRowid(std::optional<long long> after) const;
};
