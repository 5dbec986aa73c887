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

// A recordset as a kind of database opened it. Its state is its own: the
// handles (Recordset, Field) call its public methods, which keep these
// invariants, and a kind fills it only through the protected ones while it
// opens, and reads the row being added back when asked to insert it.
//  - A table walk or a snapshot, fixed before any row is read.
//  - Fields are named while opening, never after; a row being added has one
//    value slot and one stage slot for each.
//  - A snapshot stands on a row number from 0 to its count (the end); a
//    table walk on a row's key, or on none at the end.
//  - Once closed it holds nothing, and every call but Close raises.
class RecordsetImpl {
public:
    virtual ~RecordsetImpl() = default;

    void CheckOpen() const;
    void Close();
    bool IsTable() const { return type_ == dbOpenTable; }
    // The table read (a table walk, or a snapshot whose long values stay
    // in their table), or empty.
    const std::string& Table() const { return table_; }
    // Refuses AddNew from now on, for `why`; the first reason given is kept.
    void RefuseAdding(std::string why);
    bool RefusesAdding() const { return !readOnlyReason_.empty(); }

    const std::string& FieldName(int i) const;
    int IndexOf(std::string_view name) const;
    void CheckIndex(int i) const;

    long RecordCount();
    bool AtEnd();
    void MoveFirst();
    void MoveNext();
    Bytes Bookmark();
    void SetBookmark(const Bytes& bookmark);
    Bytes LastModified() const;

    void AddNew();
    void CancelUpdate();
    void Update();

    // Field i of the current row, or of the row being added.
    Variant Value(int i);
    std::int64_t Size(int i);
    Bytes Chunk(int i, std::int64_t offset, std::int64_t count);
    // Field i of the row being added.
    void SetValue(int i, const Variant& value);
    void Append(int i, std::span<const std::uint8_t> bytes);

    virtual const ConnectionImpl& Connection() const = 0;

protected:
    // While opening: what the recordset is, its fields, and a snapshot's rows.
    void OpenAs(int type);
    void AddField(std::string name);
    void SetTable(std::string table) { table_ = std::move(table); }
    const std::vector<std::string>& Names() const { return names_; }
    // Appends a snapshot row of empty cells and returns its first cell.
    Cell* AddSnapshotRow();
    // Keeps `bytes` in the spill file as the value of `cell`.
    void Spill(Cell& cell, std::span<const std::uint8_t> bytes);
    // A table walk starts on its first row: found now, or when first asked for
    // (a recordset opened only to add a row never is).
    void StartWalk(bool lazily);

    // The key of the row a table walk stands on (TableCell is asked only there).
    const RowKey& CurrentKey() const;
    // The row being added, field by field: a value set, or staged chunks.
    const std::optional<Variant>& Edit(std::size_t i) const { return edits_[i]; }
    const ChunkStage* Stage(std::size_t i) const { return stages_[i].get(); }

    // What each kind of database supplies.
    // The cell of field i in the current row of a table walk.
    virtual Cell TableCell(int i) = 0;
    // The table row after `after` (the first one without it), or none at the end.
    virtual std::optional<RowKey> NextRow(std::optional<RowKey> after) = 0;
    virtual long TableCount() = 0;
    virtual bool RowExists(const RowKey& key) = 0;
    // Up to `n` bytes from `from` of a lazy blob of field `field`.
    virtual Bytes ReadLazy(int field, const LazyBlob& blob, std::int64_t from, std::int64_t n) = 0;
    // Stores the row being added and returns its key.
    virtual RowKey Insert() = 0;
    // Releases what the kind of database holds for the recordset.
    virtual void Release() {}

private:
    void RequireRow();
    void RequireAdding(int i, const char* what) const;
    // The current row's cell for field i, read from the table when needed.
    Cell CurrentCell(int i);
    // Up to `count` bytes from `offset` of a cell kept outside.
    Bytes ReadOutside(int field, const Cell& cell, std::int64_t offset, std::int64_t count);
    void EndAdding();

    int type_ = dbOpenSnapshot;
    bool closed_ = false;
    std::vector<std::string> names_;
    std::string table_;
    std::string readOnlyReason_;  // why AddNew is refused, if it is

    // A snapshot: its rows, where it stands, and the long values that could
    // not stay in their table.
    SnapshotRows rows_;
    std::size_t pos_ = 0;
    std::optional<AnonymousFile> spill_;
    std::uint64_t spillSize_ = 0;

    // A table walk: the row it stands on, or its first row still to be found.
    std::optional<RowKey> current_;
    bool firstPending_ = false;

    // The row being added.
    bool adding_ = false;
    std::vector<std::optional<Variant>> edits_;
    std::vector<std::unique_ptr<ChunkStage>> stages_;
    std::optional<RowKey> lastModified_;
};
