#pragma once
// Inside the engine layer: a database that is a PostgreSQL server, reached
// through libpq with a connection string.
//
// A table's rows are known by their table (tableoid), address (ctid) and the
// transaction that wrote them (xmin), so a picture is read piece by piece
// with substring() from exactly the row version that was listed. A new row's
// long value beyond memory goes to the server in one binary COPY into a
// temporary table of the session, sent in pieces from the staged bytes, and
// from there into the row by the INSERT that returns the row's key; so
// neither direction holds a picture in memory whole.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_impl.h"
#include "engine/postgres/pg_call.h"

class PgConnection : public ConnectionImpl {
public:
    // Connects; raises an Error naming the server when it cannot. A
    // read-only connection refuses every write on the server's side.
    PgConnection(std::string name, const std::string& conninfo, bool readOnly);

    // The live connection. One that was lost is made again first, unless a
    // transaction was open on it (the server has undone that one, and the
    // caller must hear of it).
    PGconn* Conn();
    // The live connection for a read, which may run in the snapshots' read transaction.
    PGconn* ReadConn();

    // The read-only REPEATABLE READ transaction that lazily read snapshots
    // share while any is open, so each reads the book as of its opening. It
    // ends when the last one closes, or first when anything else (a write, a
    // transaction) is asked of the connection. EnterRead returns false when
    // the caller's own transaction serves instead.
    bool EnterRead();
    void LeaveRead();

    // Whether the database's text is bytes no one checked (SQL_ASCII): the
    // session then takes it as it is.
    bool RawTextServer() const;

    void CheckOpen() const override;
    void Execute(const std::string& sql, const Params& params) override;
    std::shared_ptr<RecordsetImpl> Open(const std::string& source, int type, int options, const Params& params) override;
    void Begin() override;
    void Commit() override;
    void Rollback() override;
    bool InTransaction() const override;
    TableShape ShapeOf(const std::string& name) override;
    void LockKey(const std::string& key) override;
    std::vector<std::string> CheckIntegrity() override;
    std::string Server() const override { return server_; }

    // Refuses a `table` whose `column` is there but not of a text type (a
    // bytea name would match the text of its escape form).
    void RequireTextColumn(const std::string& table, const std::string& column);

    // Runs a read (results in text, or binary), tried again on a fresh
    // connection when an idle one turns out to have gone.
    PgResult Read(const std::string& sql, const std::vector<PgParam>& params, bool binary, const std::string& context);

    // A table's columns and their types, read once per connection (as is
    // each table's shape): the save asks for both every time.
    struct Columns {
        std::vector<std::string> names;
        std::vector<Oid> types;
    };
    const Columns& ColumnsOf(const std::string& table);

protected:
    void CloseConnection() override {
        conn_.reset();
        closed_ = true;
        beginPending_ = false;
        queued_.clear();
        prepared_.clear();
        readOpen_ = false;
        readers_ = 0;
    }

private:
    // The live connection, made again when lost, without a pending BEGIN.
    PGconn* Live();
    // Runs `sql` with `params`, a pending BEGIN and queued statements
    // travelling with it in one round trip.
    PgResult Simple(const PgStatement& statement, const std::string& context, const std::string& right = {});
    template <typename F>
    auto Retrying(F&& work) -> decltype(work());
    void Setup();
    void EndRead();
    bool readOpen_ = false;
    int readers_ = 0;
    PgConn conn_;
    std::map<std::string, TableShape> shapes_;
    std::map<std::string, Columns> columns_;
    std::map<std::string, std::string> prepared_;  // statement text -> its name on the server
    bool readOnly_;
    // A BEGIN and statements not sent yet: they go with the next one.
    bool beginPending_ = false;
    std::vector<PgStatement> queued_;
    bool closed_ = false;
    std::string server_;
};

// How long a statement waits for a lock another PC holds before giving up.
inline constexpr int kServerLockWaitSeconds = 5;

// The largest value the server stores in one column (just under 1 GiB).
inline constexpr std::uint64_t kServerValueLimit = (std::uint64_t{1} << 30) - 1;
