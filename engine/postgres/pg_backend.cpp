#include "engine/postgres/pg_backend.h"
#include "engine/postgres/pg_recordset.h"

#include <algorithm>

#include <cassert>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <utility>

#include "engine/sql_words.h"
#include "text/korean.h"

using pgkind::PgRecordset;
using pgkind::RightOf;

// A read outside a transaction is tried once more on a fresh connection when
// the old one turns out to have gone while idle (a restarted server, say):
// nothing was under way, so nothing is lost or done twice.
template <typename F>
auto PgConnection::Retrying(F&& work) -> decltype(work()) {
    const bool idle = !InTransaction();
    try {
        return work();
    } catch (const Error& e) {
        if (!idle || e.Number() != err::DiskOrNetwork || PQstatus(conn_.get()) == CONNECTION_OK) throw;
    }
    return work();
}

// Each statement the engine reads with is prepared once per connection, so a
// walk over many rows is planned once, not once per row.
PgResult PgConnection::Read(const std::string& sql, const std::vector<PgParam>& params, bool binary,
                            const std::string& context) {
    return Retrying([&] {
        PGconn* c = ReadConn();
        auto known = prepared_.find(sql);
        if (known == prepared_.end()) {
            const std::string name = "kaldoria_" + std::to_string(prepared_.size() + 1);
            PgResult made(PQprepare(c, name.c_str(), sql.c_str(), 0, nullptr));
            if (!made || PQresultStatus(made.get()) != PGRES_COMMAND_OK) throw PgError(c, made.get(), context, "SELECT");
            known = prepared_.emplace(sql, name).first;
        }
        const PgParamArrays a(params);
        PgResult r(PQexecPrepared(c, known->second.c_str(), a.Count(), a.values.data(), a.lengths.data(), a.formats.data(),
                                  binary ? 1 : 0));
        if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK) throw PgError(c, r.get(), context, "SELECT");
        return r;
    });
}

PgConnection::PgConnection(std::string name, const std::string& conninfo, bool readOnly) : readOnly_(readOnly) {
    path = std::move(name);
    // The link's own settings win over these defaults: they come after them.
    const char* keys[] = {"connect_timeout", "application_name", "dbname", "client_encoding", nullptr};
    const char* values[] = {"10", "kaldoria", conninfo.c_str(), "UTF8", nullptr};
    conn_.reset(PQconnectdbParams(keys, values, 1));
    const std::string service = ConninfoValue(conninfo, "service");
    if (!conn_ || PQstatus(conn_.get()) != CONNECTION_OK) {
        std::string message = conn_ ? PQerrorMessage(conn_.get()) : "메모리가 모자랍니다";
        while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
        // A service that could not be read names no real server: the service is what the user wrote.
        const std::string where = service.empty() ? ServerName(conn_.get()) : "(서비스 '" + service + "')";
        throw Error(err::DiskOrNetwork, "데이터베이스 " + WithParticle("'" + path + "'", Particle::IGa) + " 가리키는 서버 " + where + "에 연결할 수 "
                                            "없습니다. " + WhatToDo(message) + " (libpq: " + message + ")");
    }
    server_ = ServerName(conn_.get());
    Setup();
}

// A SQL_ASCII database keeps the bytes each program wrote, checked by no one,
// so a name in another encoding may sit among UTF-8 ones. Asked to send it as
// UTF-8 the server refuses the whole read; taken as the bytes they are, such
// names come through as a local book's do, and the rows around them read on.
bool PgConnection::RawTextServer() const {
    const char* encoding = conn_ ? PQparameterStatus(conn_.get(), "server_encoding") : nullptr;
    return encoding && std::strcmp(encoding, "SQL_ASCII") == 0;
}

// The session's own settings, whatever the server's or the database's
// defaults say: each statement of a save sees what others committed before
// it (READ COMMITTED, so the removal after the name's lock finds the row
// another PC just saved), a wait for another PC's lock gives up after a few
// seconds, and a PC that stops in the middle of a transaction lets go of the
// book after a minute.
void PgConnection::Setup() {
    shapes_.clear();
    columns_.clear();
    prepared_.clear();
    readOpen_ = false;  // a new connection: the read transaction went with the old one
    const std::string sql = std::string("SET standard_conforming_strings = on; SET client_min_messages = warning; "
                                        "SET default_transaction_isolation = 'read committed'; "
                                        "SET lock_timeout = '") +
                            std::to_string(kServerLockWaitSeconds) +
                            "s'; SET idle_in_transaction_session_timeout = '60s'" +
                            (readOnly_ ? "; SET default_transaction_read_only = on" : "") +
                            (RawTextServer() ? "; SET client_encoding = 'SQL_ASCII'" : "");
    PgResult r(PQexec(conn_.get(), sql.c_str()));
    if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) throw PgError(conn_.get(), r.get(), "서버 " + server_ + " 연결 설정");
}

void PgConnection::CheckOpen() const {
    if (closed_ || !conn_) throw Error(err::ObjectClosed, "데이터베이스가 닫혀 있습니다: " + path);
}

PGconn* PgConnection::Conn() {
    EndRead();
    return ReadConn();
}

PGconn* PgConnection::ReadConn() {
    if (beginPending_ || !queued_.empty()) Simple({"SELECT 1", {}}, "트랜잭션 시작 (서버 " + server_ + ")");
    return Live();
}

bool PgConnection::EnterRead() {
    if (InTransaction()) return false;  // the caller's transaction is the view
    if (!readOpen_) {
        PgExec(Live(), "BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY", {}, false, PGRES_COMMAND_OK,
               "읽기 트랜잭션 시작 (서버 " + server_ + ")");
        readOpen_ = true;
    }
    ++readers_;
    return true;
}

void PgConnection::LeaveRead() {
    if (readers_ > 0 && --readers_ == 0) EndRead();
}

// Anything but a snapshot's reads ends the read transaction first: a write
// must not run read-only, nor inside a view of the past.
void PgConnection::EndRead() {
    if (!std::exchange(readOpen_, false)) return;
    if (conn_ && PQstatus(conn_.get()) == CONNECTION_OK) PgResult(PQexec(conn_.get(), "COMMIT"));
}

namespace {

// Sends `statements` in one round trip, each as a message of its own (so each
// must be exactly one statement), and returns the result of the last one, or
// of the first one that failed; an empty result when the connection failed.
PgResult RunTogether(PGconn* c, const std::vector<PgStatement>& statements) {
    if (statements.size() == 1) {
        const PgParamArrays a(statements[0].params);
        return PgResult(PQexecParams(c, statements[0].sql.c_str(), a.Count(), nullptr, a.values.data(), a.lengths.data(),
                                     a.formats.data(), 0));
    }
    if (PQenterPipelineMode(c) != 1) return nullptr;
    for (const auto& s : statements) {
        const PgParamArrays a(s.params);
        if (PQsendQueryParams(c, s.sql.c_str(), a.Count(), nullptr, a.values.data(), a.lengths.data(), a.formats.data(), 0) != 1)
            break;
    }
    PQpipelineSync(c);
    PgResult kept;
    bool failed = false;
    std::size_t ended = 0;
    for (;;) {
        PGresult* raw = PQgetResult(c);
        if (!raw) {
            // Each statement's results end with a null; the sync comes after them all.
            if (PQstatus(c) != CONNECTION_OK || ++ended > statements.size()) break;
            continue;
        }
        PgResult r(raw);
        const ExecStatusType status = PQresultStatus(raw);
        if (status == PGRES_PIPELINE_SYNC) break;
        // libpq (before 17) keeps the single-row mode of the last query read
        // row by row (PgRecordset::ReadWhole) for the first query of the next
        // pipeline: its rows come one by one, then its end, which counts.
        if (failed || status == PGRES_PIPELINE_ABORTED || status == PGRES_SINGLE_TUPLE) continue;
        failed = status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK;
        kept = std::move(r);
    }
    if (PQstatus(c) == CONNECTION_OK) PQexitPipelineMode(c);
    return kept;
}

}  // namespace

PgResult PgConnection::Simple(const PgStatement& statement, const std::string& context, const std::string& right) {
    EndRead();
    const bool opening = beginPending_;
    const bool ownCommit = !opening && PQstatus(conn_.get()) == CONNECTION_OK &&
                           PQtransactionStatus(conn_.get()) == PQTRANS_IDLE;
    std::vector<PgStatement> statements;
    if (opening) statements.push_back({"BEGIN", {}});
    statements.insert(statements.end(), queued_.begin(), queued_.end());
    statements.push_back(statement);
    for (int attempt = 0;; ++attempt) {
        PGconn* c = Live();
        PgResult r = RunTogether(c, statements);
        const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            beginPending_ = false;
            queued_.clear();
            return r;
        }
        Error e = PgError(c, r.get(), context, right);
        const bool lost = e.Number() == err::DiskOrNetwork && PQstatus(c) != CONNECTION_OK;
        // A connection that went while idle is made again once: the
        // transaction this opens had not begun, so nothing is lost.
        if (opening && attempt == 0 && lost) continue;
        beginPending_ = false;
        queued_.clear();
        // A write outside a transaction commits by itself: its fate is unknown.
        if (ownCommit && lost && right != "SELECT") throw PgInDoubt(c, context);
        throw e;
    }
}

PGconn* PgConnection::Live() {
    CheckOpen();
    if (PQstatus(conn_.get()) != CONNECTION_OK) {
        PQreset(conn_.get());
        if (PQstatus(conn_.get()) != CONNECTION_OK) {
            std::string message = PQerrorMessage(conn_.get());
            while (!message.empty() && message.back() == '\n') message.pop_back();
            throw Error(err::DiskOrNetwork, "서버 " + server_ + "에 다시 연결할 수 없습니다. " + WhatToDo(message) +
                                                " (libpq: " + message + ")");
        }
        Setup();
    }
    return conn_.get();
}

void PgConnection::Execute(const std::string& sql, const Params& params) {
    Simple({sql, PgParams(params)}, "SQL 문 [" + sql + "] 실행", RightOf(sql));
}

std::shared_ptr<RecordsetImpl> PgConnection::Open(const std::string& source, int type, int options, const Params& params) {
    return Retrying([&] {
        auto r = std::make_shared<PgRecordset>(std::static_pointer_cast<PgConnection>(shared_from_this()));
        if (type == dbOpenTable) r->OpenTable(source, (options & dbReadOnly) != 0);
        else r->OpenSnapshot(source, PgParams(params));
        return std::static_pointer_cast<RecordsetImpl>(r);
    });
}

// BEGIN travels with the transaction's first statement, saving a round trip.
void PgConnection::Begin() {
    EndRead();
    if (InTransaction()) throw Error(err::Engine, "트랜잭션 시작 (서버 " + server_ + "): 이미 트랜잭션 중입니다.");
    beginPending_ = true;
}

void PgConnection::Commit() {
    if (beginPending_) {
        beginPending_ = false;  // nothing was done in it
        queued_.clear();
        return;
    }
    const std::string context = "트랜잭션 완료 (서버 " + server_ + ")";
    PGconn* c = Conn();
    PgResult r(PQexecParams(c, "COMMIT", 0, nullptr, nullptr, nullptr, nullptr, 0));
    if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
        // The answer was lost with the connection: the COMMIT may have been done.
        if (PQstatus(c) != CONNECTION_OK) throw PgInDoubt(c, context);
        throw PgError(c, r.get(), context);
    }
    // A transaction that failed part way ends in a rollback, reported as a success.
    if (std::strcmp(PQcmdStatus(r.get()), "ROLLBACK") == 0)
        throw Error(err::Engine, context + ": 앞선 오류로 트랜잭션이 취소되었습니다.");
}

void PgConnection::Rollback() {
    queued_.clear();
    if (std::exchange(beginPending_, false)) return;
    if (PQstatus(conn_.get()) != CONNECTION_OK) return;  // the server has undone it already
    PgExec(conn_.get(), "ROLLBACK", {}, false, PGRES_COMMAND_OK, "트랜잭션 취소 (서버 " + server_ + ")");
}

bool PgConnection::InTransaction() const {
    CheckOpen();
    if (beginPending_) return true;
    if (readOpen_) return false;  // the snapshots' own read transaction is no caller's
    if (PQstatus(conn_.get()) != CONNECTION_OK) return false;
    const PGTransactionStatusType s = PQtransactionStatus(conn_.get());
    return s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_ACTIVE;
}

const PgConnection::Columns& PgConnection::ColumnsOf(const std::string& table) {
    if (auto known = columns_.find(table); known != columns_.end()) return known->second;
    PgResult r = Read("SELECT * FROM " + QuoteId(table) + " LIMIT 0", {}, false, "서버의 표 " + table + " 열기");
    Columns c;
    for (int i = 0; i < PQnfields(r.get()); ++i) {
        c.names.emplace_back(PQfname(r.get(), i));
        c.types.push_back(PQftype(r.get(), i));
    }
    return columns_[table] = std::move(c);
}

TableShape PgConnection::ShapeOf(const std::string& name) {
    if (auto known = shapes_.find(name); known != shapes_.end()) return known->second;
    PgResult r = Read("SELECT relkind::text FROM pg_class WHERE oid = to_regclass($1)", {{PgParam::Text, QuoteId(name)}},
                      false, "서버의 표 " + name + " 찾기");
    if (PQntuples(r.get()) == 0) return TableShape::Missing;  // not kept: it may be made in a moment
    return shapes_[name] = std::strcmp(PQgetvalue(r.get(), 0, 0), "r") == 0 ? TableShape::RowidTable : TableShape::View;
}

void PgConnection::RequireTextColumn(const std::string& table, const std::string& column) {
    PgResult r = Read("SELECT format_type(a.atttypid, a.atttypmod), t.typcategory::text FROM pg_attribute a "
                      "JOIN pg_type t ON t.oid = a.atttypid WHERE a.attrelid = to_regclass($1) AND a.attname = $2 "
                      "AND NOT a.attisdropped",
                      {{PgParam::Text, QuoteId(table)}, {PgParam::Text, column}}, false, "서버의 표 " + table + " 열기");
    if (PQntuples(r.get()) != 1 || std::strcmp(PQgetvalue(r.get(), 0, 1), "S") == 0) return;
    throw Error(err::InvalidOperation,
                "서버 " + server_ + "의 표 " + table + "의 열 " + WithParticle(column, Particle::IGa) + " 글자 형식(text)이 아니라 " +
                    PQgetvalue(r.get(), 0, 0) + " 형식입니다. 이름을 글자로 찾고 지울 수 없어 이 표는 쓰지 않습니다. "
                    "관리자가 열을 text 형식으로 바꾸어야 합니다.");
}

void PgConnection::LockKey(const std::string& key) {
    PgStatement lock{"SELECT pg_advisory_xact_lock(hashtextextended($1, 0))", {{PgParam::Text, key}}};
    // Inside a transaction the lock travels with the next statement, which
    // it comes before; nothing of the transaction runs without it.
    if (InTransaction()) queued_.push_back(std::move(lock));
    else Simple(lock, "서버 " + server_ + "에서 잠금");
}

std::vector<std::string> PgConnection::CheckIntegrity() {
    // The server keeps its own pages sound; what is checked here is that it answers.
    Read("SELECT 1", {}, false, "서버 " + server_ + " 검사");
    return {"ok"};
}
