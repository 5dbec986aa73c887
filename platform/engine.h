#pragma once
// The database engine layer: workspaces, databases, recordsets and fields over
// SQLite. Object handles are cheap to copy and refer to one shared object, the
// way the rest of the system passes them around; an empty (default) handle or
// one whose object was closed raises err::ObjectClosed when used.
//
// Long binary values never pass through memory whole: GetChunk reads a stored
// value piece by piece, and AppendChunk stages the pieces of a new row (in
// memory up to a small limit, then in an anonymous temporary file) until
// Update writes them into the database.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/error.h"

constexpr int dbUseJet = 2;
constexpr int dbOpenTable = 1;
constexpr int dbOpenSnapshot = 4;
constexpr int dbFailOnError = 128;

using Bytes = std::vector<std::uint8_t>;
// Null, integer, real, text (UTF-8) or bytes.
using Variant = std::variant<std::monostate, long long, double, std::string, Bytes>;

bool IsNull(const Variant& v);
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

class RecordsetImpl;
class ConnectionImpl;
class WorkspaceImpl;

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

// A table recordset (dbOpenTable) reads the table live and adds rows to it.
// A snapshot (dbOpenSnapshot) holds the rows as they were when it was opened,
// read-only; it keeps a read lock on the file until it is closed, so close it
// before committing writes through another connection.
class Recordset {
public:
    Recordset() = default;
    long RecordCount() const;
    bool EOF_() const;
    void MoveFirst();
    void MoveNext();
    int FieldCount() const;
    Field Fields(int index) const;
    Field Fields(std::string_view name) const;

    void AddNew();
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
    // Runs exactly one statement; every engine error is raised.
    void Execute(const std::string& sql, int options = 0);
    Recordset OpenRecordset(const std::string& source, int type);
    // Closing with recordsets still open is refused (err::Engine).
    void Close();

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

class Workspace {
public:
    Workspace() = default;
    const std::string& Name() const;
    const std::string& UserName() const;
    // Opens an existing SQLite database; never creates a file. Refused with
    // an Error when the file is missing, not a database (empty, text,
    // truncated, corrupt, an older Jet-format file), cannot be both read and
    // written (unless readOnly), or is held exclusively by another process.
    // The file is not changed by a refused open; an interrupted write left
    // in it is rolled back first (RollBackInterruptedWrite), read-only or not.
    Database OpenDatabase(const std::string& path, bool exclusive = false, bool readOnly = false,
                          const std::string& connect = "");
    // Makes a new, empty database file; refuses a path where anything exists.
    Database CreateDatabase(const std::string& path);
    // Closes the workspace and every database still open through it.
    void Close();

private:
    friend class DBEngine;
    explicit Workspace(std::shared_ptr<WorkspaceImpl> w) : ws_(std::move(w)) {}
    WorkspaceImpl& ws() const;
    std::shared_ptr<WorkspaceImpl> ws_;
};

// The one engine object of the process, created on first use.
class DBEngine {
public:
    static DBEngine& Instance();
    Workspace CreateWorkspace(const std::string& name, const std::string& user,
                              const std::string& password, int type = dbUseJet);

private:
    DBEngine() = default;
};
