// Databases: statements, recordsets, transactions, whatever kind of database
// is behind them.
#include "engine/engine_impl.h"
#include "text/korean.h"

ConnectionImpl& Database::conn() const {
    if (!conn_) throw Error(err::ObjectClosed, "데이터베이스가 열려 있지 않습니다.");
    conn_->CheckOpen();
    return *conn_;
}

const std::string& Database::Name() const {
    if (!conn_) throw Error(err::ObjectClosed, "데이터베이스가 열려 있지 않습니다.");
    return conn_->path;
}

std::string Database::Server() const { return conn().Server(); }

void Database::Execute(const std::string& sql, int options) { Execute(sql, Params{}, options); }

void Database::Execute(const std::string& sql, const Params& params, int /*options: every error is raised*/) {
    conn().Execute(sql, params);
}

Recordset Database::OpenRecordset(const std::string& source, int type, int options) {
    return OpenRecordset(source, type, Params{}, options);
}

Recordset Database::OpenRecordset(const std::string& source, int type, const Params& params, int options) {
    auto& c = conn();
    if (type != dbOpenTable && type != dbOpenSnapshot)
        throw Error(err::InvalidEngineArgument, "지원하지 않는 레코드셋 형식입니다: " + std::to_string(type));
    if ((options & ~dbReadOnly) != 0)
        throw Error(err::InvalidEngineArgument, "지원하지 않는 레코드셋 옵션입니다: " + std::to_string(options));
    if (type == dbOpenTable && !params.empty())
        throw Error(err::InvalidEngineArgument, "표 " + WithParticle("'" + source + "'", Particle::EunNeun) +
                                                    " 이름으로 열기 때문에 매개변수를 받지 않습니다.");
    std::shared_ptr<RecordsetImpl> r = c.Open(source, type, options, params);
    if (options & dbReadOnly)
        r->RefuseAdding(WithParticle("'" + source + "'", Particle::EulReul) + " 읽기 전용으로 열어 행을 추가할 수 없습니다.");
    c.recordsets.push_back(r);
    std::erase_if(c.recordsets, [](const auto& w) { return w.expired(); });
    return Recordset(r);
}

TableShape Database::ShapeOf(const std::string& name) const { return conn().ShapeOf(name); }

void Database::LockKey(const std::string& key) { conn().LockKey(key); }

std::vector<std::string> Database::CheckIntegrity() { return conn().CheckIntegrity(); }

void Database::Close() {
    if (!conn_) throw Error(err::ObjectClosed, "데이터베이스가 열려 있지 않습니다.");
    conn_->Close();
}

void Database::BeginTrans() { conn().Begin(); }
void Database::CommitTrans() { conn().Commit(); }
void Database::Rollback() { conn().Rollback(); }
bool Database::InTransaction() const { return conn().InTransaction(); }

Transaction::Transaction(Database& db) : db_(db) { db_.BeginTrans(); }

Transaction::~Transaction() {
    if (!open_) return;
    try {
        if (db_.InTransaction()) db_.Rollback();
    } catch (...) {
        // A failed rollback leaves nothing committed; the engine undoes it at
        // the next open, the server when the connection goes.
    }
}

void Transaction::Commit() {
    db_.CommitTrans();
    open_ = false;
}
