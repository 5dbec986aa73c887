#include "book_kinds.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include "engine/workspace/link_maker.h"

void Book::Sql(const std::string& sql, const std::vector<std::string>& params) { EXPECT_TRUE(TrySql(sql, params)) << sql; }

std::string Book::One(const std::string& sql) {
    const auto rows = Rows(sql);
    return rows.empty() ? "<none>" : rows[0];
}

long Book::Count(const std::string& table, const std::string& where) {
    return std::stol(One("SELECT count(*) FROM " + table + " " + where));
}

namespace {

// A connection of its own for each call, so no lock or transaction of the
// book's outlives the call.
class SqliteBook : public Book {
public:
    explicit SqliteBook(const TempDir& dir) {
        path_ = dir.File("dojang.mdb");
        MakePictureDb(path_);
    }
    bool TrySql(const std::string& sql, const std::vector<std::string>& params) override {
        sqlite3* db = Open();
        bool ok;
        if (params.empty()) {
            char* message = nullptr;
            ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
            sqlite3_free(message);
        } else {
            sqlite3_stmt* s = Prepared(db, sql, params);
            int rc;
            while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            }
            ok = rc == SQLITE_DONE;
            sqlite3_finalize(s);
        }
        sqlite3_close(db);
        return ok;
    }
    std::vector<std::string> Rows(const std::string& sql, const std::vector<std::string>& params) override {
        sqlite3* db = Open();
        sqlite3_stmt* s = Prepared(db, sql, params);
        std::vector<std::string> rows;
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            std::string row;
            for (int c = 0; c < sqlite3_column_count(s); ++c) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
                row += (c ? "\t" : "") + std::string(text ? text : "<NULL>");
            }
            rows.push_back(row);
        }
        EXPECT_EQ(rc, SQLITE_DONE) << sql << ": " << sqlite3_errmsg(db);
        sqlite3_finalize(s);
        sqlite3_close(db);
        return rows;
    }
    std::string HexOf(const std::string& column) const override { return "hex(" + column + ")"; }
    void Insert(const std::vector<std::pair<std::string, Bytes>>& rows) override {
        sqlite3* db = Open();
        ASSERT_EQ(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_stmt* s = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO pic_list VALUES (?, ?)", -1, &s, nullptr), SQLITE_OK);
        for (const auto& [name, pic] : rows) {
            sqlite3_bind_text(s, 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
            sqlite3_bind_blob(s, 2, pic.data(), static_cast<int>(pic.size()), SQLITE_TRANSIENT);
            EXPECT_EQ(sqlite3_step(s), SQLITE_DONE) << name << ": " << sqlite3_errmsg(db);
            sqlite3_reset(s);
        }
        sqlite3_finalize(s);
        EXPECT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    std::map<std::string, Bytes> Pictures() override {
        std::map<std::string, Bytes> out;
        for (auto& [name, pic] : RawRows(path_)) out[name] = pic;
        return out;
    }

private:
    // `sql` prepared with `params` bound to its $1, $2, … by SQLite itself.
    static sqlite3_stmt* Prepared(sqlite3* db, const std::string& sql, const std::vector<std::string>& params) {
        sqlite3_stmt* s = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr), SQLITE_OK) << sql << ": " << sqlite3_errmsg(db);
        for (std::size_t i = 0; i < params.size(); ++i) {
            const int at = sqlite3_bind_parameter_index(s, ("$" + std::to_string(i + 1)).c_str());
            EXPECT_GT(at, 0) << sql << " has no $" << i + 1;
            sqlite3_bind_text(s, at, params[i].c_str(), static_cast<int>(params[i].size()), SQLITE_TRANSIENT);
        }
        return s;
    }
    sqlite3* Open() const {
        sqlite3* db = nullptr;
        sqlite3_open(path_.c_str(), &db);
        return db;
    }
};

class PgBook : public Book {
public:
    PgBook(const TempDir& dir, PgServer& server) {
        server.Sql("DROP TABLE IF EXISTS pic_list, pic_history, pic_ledger CASCADE; DROP FUNCTION IF EXISTS pic_history_keep(), pic_history_keep_all(), pic_ledger_witness(), pic_ledger_refuse() CASCADE");
        server.Sql("CREATE TABLE pic_list (pic_name text, pic bytea)");
        path_ = dir.File("dojang.mdb");
        CreateLinkFile(path_, server.Conninfo());
        conn_ = PQconnectdb(server.Conninfo().c_str());
    }
    ~PgBook() override { PQfinish(conn_); }
    bool TrySql(const std::string& sql, const std::vector<std::string>& params) override {
        PGresult* r = Run(sql, params);
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
        PQclear(r);
        return ok;
    }
    std::vector<std::string> Rows(const std::string& sql, const std::vector<std::string>& params) override {
        PGresult* r = Run(sql, params);
        EXPECT_EQ(PQresultStatus(r), PGRES_TUPLES_OK) << sql << ": " << PQerrorMessage(conn_);
        std::vector<std::string> rows;
        for (int i = 0; i < PQntuples(r); ++i) {
            std::string row;
            for (int c = 0; c < PQnfields(r); ++c)
                row += (c ? "\t" : "") + std::string(PQgetisnull(r, i, c) ? "<NULL>" : PQgetvalue(r, i, c));
            rows.push_back(row);
        }
        PQclear(r);
        return rows;
    }
    std::string HexOf(const std::string& column) const override { return "upper(encode(" + column + ", 'hex'))"; }
    void Insert(const std::vector<std::pair<std::string, Bytes>>& rows) override {
        Sql("BEGIN");
        for (const auto& [name, pic] : rows) {
            const char* values[] = {name.c_str(), reinterpret_cast<const char*>(pic.data())};
            const int lengths[] = {0, static_cast<int>(pic.size())}, formats[] = {0, 1};
            PGresult* r = PQexecParams(conn_, "INSERT INTO pic_list VALUES ($1, $2::bytea)", 2, nullptr, values, lengths, formats, 0);
            EXPECT_EQ(PQresultStatus(r), PGRES_COMMAND_OK) << name << ": " << PQerrorMessage(conn_);
            PQclear(r);
        }
        Sql("COMMIT");
    }
    std::map<std::string, Bytes> Pictures() override {
        std::map<std::string, Bytes> out;
        PGresult* r = PQexecParams(conn_, "SELECT coalesce(pic_name, '<NULL>'), pic FROM pic_list", 0, nullptr, nullptr,
                                   nullptr, nullptr, 1);
        EXPECT_EQ(PQresultStatus(r), PGRES_TUPLES_OK) << PQerrorMessage(conn_);
        for (int i = 0; i < PQntuples(r); ++i) {
            const auto* p = reinterpret_cast<const std::uint8_t*>(PQgetvalue(r, i, 1));
            out[PQgetvalue(r, i, 0)] = Bytes(p, p + PQgetlength(r, i, 1));
        }
        PQclear(r);
        return out;
    }

private:
    // `sql` run with `params` as libpq's own text parameters (one statement),
    // or as a simple query of maybe several statements without them.
    PGresult* Run(const std::string& sql, const std::vector<std::string>& params) {
        if (params.empty()) return PQexec(conn_, sql.c_str());
        std::vector<const char*> values;
        for (const auto& p : params) values.push_back(p.c_str());
        return PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr, 0);
    }
    PGconn* conn_ = nullptr;
};

}  // namespace

std::unique_ptr<Book> MakeBook(const std::string& kind, const TempDir& dir, const std::string& firstSql) {
    if (kind == "sqlite") return std::make_unique<SqliteBook>(dir);
    if (PgServer::BinDir().empty()) return nullptr;
    // One server for the whole run; each book gets a fresh pic_list.
    static TempDir serverDir;
    static std::unique_ptr<PgServer> server;
    if (!server) {
        server = std::make_unique<PgServer>(serverDir.File("pg"));
        if (!firstSql.empty()) server->Sql(firstSql);
    }
    return std::make_unique<PgBook>(dir, *server);
}
