#pragma once
// Inside the PostgreSQL kind: the recordset that walks a server's table and
// stores its rows, and the helpers its files and the session share. Not for
// use outside engine/postgres/.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/postgres/pg_backend.h"

namespace pgkind {

// A picture is read from the server a window at a time, so that reading it
// in 32000-byte chunks costs one round trip per window, not per chunk.
inline constexpr std::int64_t kReadWindow = 1 << 20;

inline constexpr const char* kKeyColumns = "tableoid, ctid, xmin";
inline constexpr const char* kKeyMatch = " WHERE tableoid = $1::oid AND ctid = $2::tid AND xmin = $3::xid";

// Keys travel as the text of tableoid, ctid "(block,offset)" and xmin.
RowKey KeyFrom(const char* table, const char* ctid, const char* xmin);
RowKey KeyAt(const PGresult* r, int row);
std::vector<PgParam> KeyParams(const RowKey& key);
// The order the server lists a table's rows in: by table, then by address
// (both compared as numbers, as the server compares oid and tid).
bool Before(const RowKey& a, const RowKey& b);
// The right a statement needs, as a refusal names it: its first word, but
// for a trigger the table's TRIGGER right (which its owner has).
std::string RightOf(const std::string& sql);

class PgRecordset : public RecordsetImpl {
public:
    std::shared_ptr<PgConnection> conn;
    std::vector<Oid> types;           // each field's type on the server
    std::vector<std::string> origin;  // each field's column in `table` (lazy reads)
    bool holdsRead = false;           // a snapshot sharing the connection's read transaction
    std::string quotedTable;
    // Table recordsets walk each table (the one named, then those that
    // inherit from it, by oid) a range of pages at a time: `keys` and `rows`
    // hold the rows of pages [batchFrom, batchTo) of tables[batchTable], in
    // address order, their pictures left on the server.
    std::vector<std::uint32_t> tables;
    std::vector<RowKey> keys;
    SnapshotRows batchRows;  // their cells, a row for each key
    // Where in `keys` the row asked for last was: the walk asks for the row it
    // stands on, and then the next, so the search starts there.
    mutable std::size_t batchHint = 0;
    // The first kHeadBytes of each bytea value of the batch, row by row
    // (names.size() to a row), so that reading a picture's header, or all of
    // a small picture, costs no statement of its own.
    std::vector<Bytes> heads;
    std::size_t batchTable = 0;
    std::uint64_t batchFrom = 0, batchTo = 0;
    bool loaded = false;
    // A table row reached by bookmark rather than by moving, read on its own.
    std::optional<RowKey> loneKey;
    std::vector<Cell> loneRow;
    // The window of the value read last.
    int winField = -1;
    RowKey winKey;
    std::int64_t winStart = 0;
    Bytes window;

    explicit PgRecordset(std::shared_ptr<PgConnection> c) : conn(std::move(c)) {}
    ~PgRecordset() override {
        try {
            Release();
        } catch (...) {
            // Ending a read-only transaction loses nothing; the server ends it with the connection.
        }
    }
    const ConnectionImpl& Connection() const override { return *conn; }
    PGconn* pg() { return conn->Conn(); }

    // `oneMoment`: the walk reads in the connection's read transaction.
    void OpenTable(const std::string& source, bool oneMoment);
    void OpenSnapshot(const std::string& source, const std::vector<PgParam>& params = {});
    // Reads a snapshot's rows whole, a row at a time.
    void ReadWhole(const std::string& source, const std::vector<PgParam>& params, bool binary);
    // The select list that reads every field lazily: key, then each column
    // with bytea columns as their length.
    std::string LazyList() const;
    void ListTables();
    // Pages of table tables[t] as the server has them now.
    std::uint64_t PagesOf(std::size_t t);
    void LoadPages(std::size_t t, std::uint64_t from);
    // The first row after `after` (or the first of all) from table t, page `from` on.
    std::optional<RowKey> Scan(std::size_t t, std::uint64_t from, std::optional<RowKey> after);
    Cell CellOf(const PGresult* r, int row, int col, std::size_t field, const RowKey& key) const;
    // The place of `key` in the batch, if the batch holds it.
    std::optional<std::size_t> BatchIndex(const RowKey& key) const;

    Cell TableCell(int i) override;
    std::optional<RowKey> NextRow(std::optional<RowKey> after) override;
    long TableCount() override;
    bool RowExists(const RowKey& key) override;
    Bytes ReadLazy(int field, const LazyBlob& blob, std::int64_t from, std::int64_t n) override;
    // The batch's head of that value when it covers [from, from + n).
    const Bytes* HeadCovering(int field, const RowKey& key, std::int64_t from, std::int64_t n) const;
    RowKey Insert() override;

protected:
    void Release() override {
        if (std::exchange(holdsRead, false)) conn->LeaveRead();
    }

private:
    RowKey InsertRow(const std::vector<std::size_t>& used, const std::string& context);
    void StageByCopy(const std::vector<std::size_t>& staged, const std::string& context);
};

}  // namespace pgkind
