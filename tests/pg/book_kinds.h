#pragma once
// One stamp book of either kind (an SQLite file, or a throwaway PostgreSQL
// server's pic_list behind a link file), reached also around the engine, as
// another program would: so that one set of test bodies runs on both kinds
// and checks what the engine did with the kind's own client.
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pg_server.h"
#include "support.h"

class Book {
public:
    virtual ~Book() = default;
    const std::string& Path() const { return path_; }
    // Runs `sql` outside the engine, its $1, $2, … bound to `params` by the
    // kind's own client; false when it was refused (say, for a lock).
    virtual bool TrySql(const std::string& sql, const std::vector<std::string>& params = {}) = 0;
    // The same, failing the test when it is refused.
    void Sql(const std::string& sql, const std::vector<std::string>& params = {});
    // Every row of `sql`, its columns joined by tabs, Null as <NULL>.
    virtual std::vector<std::string> Rows(const std::string& sql, const std::vector<std::string>& params = {}) = 0;
    // The first row of `sql`, or <none>.
    std::string One(const std::string& sql);
    long Count(const std::string& table, const std::string& where = "");
    // The expression giving a column's bytes as upper-case hex.
    virtual std::string HexOf(const std::string& column) const = 0;
    // Adds rows to pic_list outside the engine, in one transaction.
    virtual void Insert(const std::vector<std::pair<std::string, Bytes>>& rows) = 0;
    // Every row of pic_list by name (Null as <NULL>) with its picture.
    virtual std::map<std::string, Bytes> Pictures() = 0;

protected:
    std::string path_;
};

// "sqlite": a new picture database in `dir`. "pg": a fresh pic_list (and no
// history) on the server the whole run shares, started in a folder that
// outlives the tests, `firstSql` run once when it starts; null when
// PostgreSQL is not installed (the caller skips).
std::unique_ptr<Book> MakeBook(const std::string& kind, const TempDir& dir, const std::string& firstSql = "");
