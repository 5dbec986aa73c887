// Databases: statements, recordsets, transactions.
#include "platform/engine_impl.h"
#include "platform/lazy_select.h"
#include "platform/table_shape.h"

void ConnectionImpl::Close() {
    for (auto& weak : recordsets)
        if (auto rs = weak.lock()) rs->Close();
    recordsets.clear();
    if (db) {
        int rc = sqlite3_close(db.get());
        if (rc != SQLITE_OK) Raise(db.get(), rc, "데이터베이스 닫기 " + path);
        (void)db.release();
    }
}

ConnectionImpl& Database::conn() const {
    if (!conn_) throw Error(err::ObjectClosed, "데이터베이스가 열려 있지 않습니다.");
    return *conn_;
}

const std::string& Database::Name() const { return conn().path; }

void Database::Execute(const std::string& sql, int /*options: every error is raised*/) {
    auto& c = conn();
    Exec(c.handle(), sql, "SQL 문 [" + sql + "] 실행");
}

namespace {

// Opens `r` as a snapshot of `source`. Inside a write transaction it shares
// the main connection's view; otherwise it reads through its own connection,
// whose read transaction freezes the rows until Close.
void OpenSnapshot(RecordsetImpl& r, ConnectionImpl& c, const std::string& source) {
    sqlite3* db = c.handle();
    if (sqlite3_get_autocommit(db)) {
        sqlite3* raw = nullptr;
        int rc = sqlite3_open_v2(c.path.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE, nullptr);
        r.snapshotDb.reset(raw);
        if (rc != SQLITE_OK) Raise(raw, rc, "데이터베이스 " + c.path + " 읽기");
        sqlite3_busy_timeout(raw, kBusyTimeoutMs);
        Exec(raw, "BEGIN", "데이터베이스 " + c.path + " 읽기");
        db = raw;
    }
    Stmt original = Prepare(db, source);
    for (int i = 0; i < sqlite3_column_count(original.get()); ++i)
        r.names.emplace_back(sqlite3_column_name(original.get(), i));
    const std::string context = "SQL 문 [" + source + "] 읽기";
    r.rows.SetWidth(r.names.size());
    if (auto lazy = LazySelect(db, source, original.get(), r.table, r.origin)) {
        Stmt s = Prepare(db, *lazy);
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
            long long rowid = sqlite3_column_int64(s.get(), 0);
            Cell* row = r.rows.Add();
            for (std::size_t i = 0; i < r.names.size(); ++i)
                row[i] = RecordsetImpl::MakeCell(s.get(), 1 + 2 * static_cast<int>(i), rowid);
        }
        Check(db, rc, context);
    } else {
        r.table.clear();
        r.origin.clear();
        r.ReadWhole(original.get(), context);
    }
}

}  // namespace

Recordset Database::OpenRecordset(const std::string& source, int type) {
    auto& c = conn();
    auto r = std::make_shared<RecordsetImpl>();
    r->conn = conn_;
    r->type = type;
    if (type == dbOpenTable) {
        const TableShape shape = ShapeOfTable(c.handle(), source);
        std::optional<std::string> rowid = shape == TableShape::RowidTable ? RowidAlias(c.handle(), source) : "_rowid_";
        if (shape == TableShape::WithoutRowid || !rowid)
            throw Error(err::InvalidOperation, "표 '" + source + "'은(는) rowid가 없는 표" +
                                                   (rowid ? " (WITHOUT ROWID)" : " (열 이름이 rowid를 모두 가림)") +
                                                   "라서 열 수 없습니다. rowid가 있는 보통 표만 다룰 수 있습니다.");
        if (shape == TableShape::View) {
            // A view's rows are read as they are; nothing can be added through it.
            r->type = dbOpenSnapshot;
            r->readOnlyReason = "'" + source + "'은(는) 표가 아니라 뷰라서 행을 추가할 수 없습니다.";
            OpenSnapshot(*r, c, "SELECT * FROM " + QuoteId(source));
        } else {
            r->table = source;
            r->rowid = *rowid;
            Stmt s = Prepare(c.handle(), "SELECT * FROM " + QuoteId(source));
            for (int i = 0; i < sqlite3_column_count(s.get()); ++i) r->names.emplace_back(sqlite3_column_name(s.get(), i));
            r->current = r->NextRowid(std::nullopt);
        }
    } else if (type == dbOpenSnapshot) {
        OpenSnapshot(*r, c, source);
    } else {
        throw Error(err::InvalidEngineArgument, "지원하지 않는 레코드셋 형식입니다: " + std::to_string(type));
    }
    c.recordsets.push_back(r);
    std::erase_if(c.recordsets, [](const auto& w) { return w.expired(); });
    return Recordset(r);
}

TableShape Database::ShapeOf(const std::string& name) const { return ShapeOfTable(conn().handle(), name); }

void Database::Close() { conn().Close(); }

void Database::BeginTrans() { Exec(conn().handle(), "BEGIN IMMEDIATE", "트랜잭션 시작 " + conn().path); }
void Database::CommitTrans() { Exec(conn().handle(), "COMMIT", "트랜잭션 완료 " + conn().path); }
void Database::Rollback() { Exec(conn().handle(), "ROLLBACK", "트랜잭션 취소 " + conn().path); }
bool Database::InTransaction() const { return !sqlite3_get_autocommit(conn().handle()); }

Transaction::Transaction(Database& db) : db_(db) { db_.BeginTrans(); }

Transaction::~Transaction() {
    if (!open_) return;
    try {
        if (db_.InTransaction()) db_.Rollback();
    } catch (...) {
        // A failed rollback leaves nothing committed; the engine undoes it at the next open.
    }
}

void Transaction::Commit() {
    db_.CommitTrans();
    open_ = false;
}

