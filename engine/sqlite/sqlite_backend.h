#pragma once
// Inside the engine layer: a database that is an SQLite file.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine_impl.h"
#include "engine/sqlite/sqlite_call.h"

class SqliteConnection : public ConnectionImpl {
public:
    // Takes over an open connection to the file at `path`.
    SqliteConnection(std::string path, Db db);
    sqlite3* handle() const;

    void CheckOpen() const override { handle(); }
    void Execute(const std::string& sql, const Params& params) override;
    std::shared_ptr<RecordsetImpl> Open(const std::string& source, int type, int options, const Params& params) override;
    void Begin() override;
    void Commit() override;
    void Rollback() override;
    bool InTransaction() const override;
    TableShape ShapeOf(const std::string& name) override;
    void LockKey(const std::string&) override {}
    std::vector<std::string> CheckIntegrity() override;
    // Counts the statements and rollbacks run through Execute and Rollback,
    // which may change rows without counting as changes to SQLite.
    std::uint64_t Generation() const { return generation_; }

protected:
    void CloseConnection() override;

private:
    Db db_;
    std::uint64_t generation_ = 0;
};
