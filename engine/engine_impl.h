#pragma once
// Inside the engine layer: the objects behind the public handles of engine.h.
// A handle holds a shared_ptr to one of these; closing marks the object
// closed, and every later use of a handle to it raises err::ObjectClosed.
//
// ConnectionImpl and RecordsetImpl hold what every database behind the
// engine shares (the rows of a snapshot, the row being added, bookmarks);
// each kind of database (an SQLite file, a PostgreSQL server) derives from
// them and supplies the few operations that touch it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/chunk_stage.h"
#include "engine/engine.h"
#include "engine/snapshot_rows.h"
#include "os/temp_file.h"

class ConnectionImpl : public std::enable_shared_from_this<ConnectionImpl> {
public:
    virtual ~ConnectionImpl() = default;
    std::string path;
    std::vector<std::weak_ptr<RecordsetImpl>> recordsets;

    // Raises err::ObjectClosed once the connection is closed.
    virtual void CheckOpen() const = 0;
    virtual void Execute(const std::string& sql, const Params& params) = 0;
    // `params` are empty for a table (dbOpenTable).
    virtual std::shared_ptr<RecordsetImpl> Open(const std::string& source, int type, int options, const Params& params) = 0;
    virtual void Begin() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() = 0;
    virtual bool InTransaction() const = 0;
    virtual TableShape ShapeOf(const std::string& name) = 0;
    virtual void LockKey(const std::string& key) = 0;
    virtual std::vector<std::string> CheckIntegrity() = 0;
    virtual std::string Server() const { return {}; }

    // Closes the recordsets still open on it, then the connection.
    void Close();

protected:
    virtual void CloseConnection() = 0;
};

// A row of a table: its SQLite rowid, or its PostgreSQL address (ctid) with
// the transaction that wrote it, so that a reused address is never taken for
// the row, and the table it lies in (a table inheriting from the one read
// has addresses of its own).
struct RowKey {
    long long id = 0;
    std::uint32_t version = 0;
    std::uint32_t table = 0;
    bool operator==(const RowKey&) const = default;
};

class RecordsetImpl {
public:
    virtual ~RecordsetImpl() = default;
    int type = dbOpenSnapshot;
    bool closed = false;
    std::vector<std::string> names;
    std::string table;  // table recordsets, and lazy snapshot blobs
    // Why AddNew is refused (a table recordset opened on a view).
    std::string readOnlyReason;

    // Snapshot: the rows, and the long values that could not stay in the table.
    SnapshotRows rows;
    std::size_t pos = 0;
    std::optional<AnonymousFile> spill;
    std::uint64_t spillSize = 0;

    // Table: the current row; with `firstPending`, the first row, found when
    // it is first asked for (a recordset opened only to add a row never is).
    std::optional<RowKey> current;
    bool firstPending = false;

    // The row being added.
    bool adding = false;
    std::vector<std::optional<Variant>> edits;
    std::vector<std::unique_ptr<ChunkStage>> stages;
    std::optional<RowKey> lastModified;

    void CheckOpen() const;
    void Close();
    int IndexOf(std::string_view name) const;
    void CheckIndex(int i) const;
    bool AtEnd();
    void RequireRow();
    // The current row's cell for field i, read from the table when needed.
    Cell CurrentCell(int i);
    // Up to `count` bytes from `offset` of a cell kept outside.
    Bytes ReadOutside(int field, const Cell& cell, std::int64_t offset, std::int64_t count);
    // Keeps `bytes` in the spill file as the value of `cell`.
    void Spill(Cell& cell, std::span<const std::uint8_t> bytes);

    // What each kind of database supplies.
    virtual const ConnectionImpl& Connection() const = 0;
    // The cell of field i in the current row of a table recordset.
    virtual Cell TableCell(int i) = 0;
    // The table row after `after` (the first one without it), or none at the end.
    virtual std::optional<RowKey> NextRow(std::optional<RowKey> after) = 0;
    virtual long TableCount() = 0;
    virtual bool RowExists(const RowKey& key) = 0;
    // Up to `n` bytes from `from` of a lazy blob of field `field`.
    virtual Bytes ReadLazy(int field, const LazyBlob& blob, std::int64_t from, std::int64_t n) = 0;
    // Stores the row being added and returns its key.
    virtual RowKey Insert() = 0;

protected:
    // Releases what the kind of database holds for the recordset.
    virtual void Release() {}
};
