#pragma once
// The database engine layer: workspaces, databases, recordsets and fields,
// the same over a local SQLite file and a PostgreSQL server. Object handles are cheap to copy and refer to one shared object, the
// way the rest of the system passes them around; an empty (default) handle or
// one whose object was closed raises err::ObjectClosed when used.
//
// Long binary values are kept out of memory: GetChunk reads a stored value
// piece by piece, and AppendChunk stages the pieces of a new row (in memory up
// to a small limit, then in an unnamed temporary file) until Update writes
// them into the database. A snapshot of a plain read of one rowid table leaves
// its long values in the table; a snapshot of anything else (a view, a join,
// a subquery) reads each value once and keeps the long ones in an unnamed
// temporary file. Only Value() hands out a value whole.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "os/error.h"

constexpr int dbUseJet = 2;
constexpr int dbOpenTable = 1;
constexpr int dbOpenSnapshot = 4;
constexpr int dbFailOnError = 128;
// An option of OpenRecordset: the recordset only reads (AddNew is refused).
constexpr int dbReadOnly = 4;

using Bytes = std::vector<std::uint8_t>;

// The largest value Update will hold in memory whole, for tables whose
// triggers, constraints or indexes must see the real value as it is inserted.
inline constexpr std::size_t kWholeValueLimit = std::size_t{16} << 20;
// Null, integer, real, text (UTF-8) or bytes.
using Variant = std::variant<std::monostate, long long, double, std::string, Bytes>;

bool IsNull(const Variant& v);

// The values of a statement's parameters, written $1, $2, … in its text on
// either kind of database. Each is handed to the engine's own binding as its
// type (Null, integer, real, text, bytes), never written into the text; a
// statement must use every one of them and no other.
using Params = std::vector<Variant>;
// The value joined to the empty text: Null becomes "", numbers their digits.
std::string TextOf(const Variant& v);

// What the chunked transfer needs of a long binary field; fakes implement it in tests.
class LongBinaryField {
public:
    virtual ~LongBinaryField() = default;
    virtual std::int32_t FieldSize() const = 0;
    // Up to `count` bytes from `offset` (fewer only at the end of the value).
    virtual Bytes GetChunk(std::int32_t offset, std::int32_t count) const = 0;
    // Appends to the column of the row being added.
    virtual void AppendChunk(std::span<const std::uint8_t> bytes) = 0;
};

// What a name refers to: nothing, a table with rowids (the kind rows can be
// added to and read piece by piece), a table WITHOUT ROWID, or a view.
enum class TableShape { Missing, RowidTable, WithoutRowid, View };

class RecordsetImpl;
class ConnectionImpl;

class Field : public LongBinaryField {
public:
    const std::string& Name() const;
    // The stored value, or while a row is being added, the value set for it.
    Variant Value() const;
    // Assignment to the column of the row being added.
    void SetValue(const Variant& value);
    std::int32_t FieldSize() const override;
    Bytes GetChunk(std::int32_t offset, std::int32_t count) const override;
    void AppendChunk(std::span<const std::uint8_t> bytes) override;

private:
    friend class Recordset;
    Field(std::shared_ptr<RecordsetImpl> rs, int index) : rs_(std::move(rs)), index_(index) {}
    std::shared_ptr<RecordsetImpl> rs_;
    int index_;
};

// A table recordset (dbOpenTable) reads the table live and adds rows to it;
// opened on a view it holds the view's rows like a snapshot and refuses
// AddNew, and a table without rowid is refused (err::InvalidOperation).
// Moving row after row, it keeps the file's read lock from one move to the
// next for up to 50 ms at a time (writers of other processes wait that
// long), and lets it go at the end of the table and at Close.
// A snapshot (dbOpenSnapshot) holds the rows as they were when it was opened,
// read-only; on a file it keeps a read lock until it is closed, so close it
// before committing writes through another connection.
//
// Where the two kinds of database differ, and why no caller can tell: on a
// server, a snapshot holds no lock, and others may write meanwhile without
// changing what it reads: a plain read of one table is listed and its long
// values read later in one read-only REPEATABLE READ transaction that lasts
// while such snapshots are open (it ends early, keeping the rows listed,
// when the connection is asked to write), anything else is read whole by its
// one statement (long values into the temporary file). A table recordset reads
// the table live on both: on a server it reads a range of pages at a time
// (key, short values, long values' sizes) as the walk reaches it, and long
// values by row key when asked, so memory stays flat however long the table.
// On either kind, a row another program adds or removes during a walk may or
// may not be seen by it; every row there from start to end is seen once.
class Recordset {
public:
    Recordset() = default;
    long RecordCount() const;
    bool EOF_() const;
    void MoveFirst();
    void MoveNext();
    Field Fields(int index) const;
    Field Fields(std::string_view name) const;

    void AddNew();
    // Stores the row being added. A long value goes in as zeros filled in
    // place, unless a trigger, CHECK constraint, index or generated column of
    // the table could see it before it is filled: it is then inserted whole,
    // up to kWholeValueLimit bytes, and refused beyond that with an Error
    // naming what looks at the value. The row lands whole or not at all.
    void Update();
    void CancelUpdate();
    Bytes LastModified() const;
    Bytes Bookmark() const;
    void SetBookmark(const Bytes& bookmark);

    void Close();

private:
    friend class Database;
    explicit Recordset(std::shared_ptr<RecordsetImpl> impl) : impl_(std::move(impl)) {}
    RecordsetImpl& impl() const;
    std::shared_ptr<RecordsetImpl> impl_;
};

class Database {
public:
    Database() = default;
    const std::string& Name() const;
    // Runs exactly one statement (a text of several is refused, none of them
    // run); every engine error is raised.
    void Execute(const std::string& sql, int options = 0);
    void Execute(const std::string& sql, const Params& params, int options = 0);
    // `options` may be dbReadOnly: nothing is written through the
    // recordset, and on a server a table walk then reads the whole table as
    // of one moment (its reads share the connection's read-only REPEATABLE
    // READ transaction, as a snapshot's do), so another PC's saves during the
    // walk neither show in it nor stop it. A local file's walk is as always.
    Recordset OpenRecordset(const std::string& source, int type, int options = 0);
    // A statement with parameters; a table recordset (dbOpenTable) takes none.
    Recordset OpenRecordset(const std::string& source, int type, const Params& params, int options = 0);
    // Closes the recordsets still open on it first.
    void Close();

    // What `name` is in the database.
    TableShape ShapeOf(const std::string& name) const;

    // Holds a lock on `key` until the transaction ends, so that writers of
    // the same key in other processes take turns. An SQLite write
    // transaction holds the whole file already.
    void LockKey(const std::string& key);

    // The engine's own check of the stored data: {"ok"} when it finds
    // nothing wrong, otherwise one line per problem.
    std::vector<std::string> CheckIntegrity();

    // The server a linked database works against ("host:port/dbname"), or
    // empty for a local file.
    std::string Server() const;

    // Transactions: writes between BeginTrans and CommitTrans land together or
    // not at all. A write transaction takes the file's write lock at once,
    // waiting a few seconds for another process to finish before it fails.
    void BeginTrans();
    void CommitTrans();
    void Rollback();
    bool InTransaction() const;

private:
    friend class Workspace;
    explicit Database(std::shared_ptr<ConnectionImpl> c) : conn_(std::move(c)) {}
    ConnectionImpl& conn() const;
    std::shared_ptr<ConnectionImpl> conn_;
};

// Rolls back on destruction unless committed.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit();

private:
    Database& db_;
    bool open_ = true;
};
