#include "engine/sqlite/sqlite_backend.h"

#include <cstring>
#include <optional>

#include "engine/sqlite/lazy_select.h"
#include "engine/sqlite/table_shape.h"
#include "os/process.h"
#include "text/korean.h"

namespace {

std::string Joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : ", ") + p;
    return out;
}

class SqliteRecordset : public RecordsetImpl {
public:
    std::shared_ptr<SqliteConnection> conn;
    std::string rowid = "_rowid_";    // the name that reaches the table's rowid
    std::vector<std::string> origin;  // origin column of each field (lazy snapshot blobs)
    // Snapshot: its own read connection (null inside a write transaction of
    // the main connection, whose own view it then shares).
    Db snapshotDb;
    // What would see each column's value before it is filled in place; read
    // when a long value is first stored.
    std::vector<std::optional<std::vector<std::string>>> observers;
    // The blob handle of the value read last, kept so that consecutive
    // GetChunk calls cost one seek each and see one consistent value, and
    // moved to the next row's value rather than opened anew.
    BlobHandle blob;
    long long blobRow = 0;
    int blobField = -1;

    // Table reads, each prepared once and reset after every use, so that no
    // read holds the file between calls.
    Stmt firstStmt, nextStmt, existsStmt, countStmt;
    std::vector<Stmt> cellStmts;
    // The walk: one statement stepping from row to row in rowid order. While
    // it stands on the current row, that row's cells are read from it; a
    // change made through this connection since, or a journal in WAL mode
    // (where other writers do not wait for readers), sends every read back
    // to the statements above. It holds the file's read lock, so it is let go
    // at the end of the table, at Close, whenever the recordset moves
    // elsewhere, and at the first move after kWalkHoldMs.
    Stmt walkStmt;
    std::vector<bool> holdsBlobs;  // per field, as MayHoldBlobs judges its declared type
    std::vector<int> walkColumns;  // where each field's cell starts in the walk's columns
    bool walking = false;
    long long walkRow = 0;
    std::int64_t walkChanges = 0;
    std::uint64_t walkGeneration = 0;
    std::int64_t walkStart = 0;
    std::optional<bool> walkAllowed;
    static constexpr std::int64_t kWalkHoldMs = 50;

    explicit SqliteRecordset(std::shared_ptr<SqliteConnection> c) : conn(std::move(c)) {}
    sqlite3* db() const { return snapshotDb ? snapshotDb.get() : conn->handle(); }
    const ConnectionImpl& Connection() const override { return *conn; }

    void OpenTable(const std::string& source);
    void OpenSnapshot(const std::string& source, const Params& params = {});
    void ReadWhole(sqlite3_stmt* stmt, const std::string& context);
    static Cell MakeCell(sqlite3_stmt* s, int typeCol, long long rowid);

    Cell TableCell(int i) override;
    std::optional<RowKey> NextRow(std::optional<RowKey> after) override;
    long TableCount() override;
    bool RowExists(const RowKey& key) override;
    Bytes ReadLazy(int field, const LazyBlob& cell, std::int64_t from, std::int64_t n) override;
    RowKey Insert() override;

protected:
    void Release() override {
        blob.reset();
        for (Stmt* s : {&firstStmt, &nextStmt, &existsStmt, &countStmt, &walkStmt}) s->reset();
        cellStmts.clear();
        walking = false;
        snapshotDb.reset();
    }

private:
    // Prepares the statement `sql()` makes into `slot` on first use.
    template <class MakeSql>
    sqlite3_stmt* Reused(Stmt& slot, MakeSql sql) {
        if (!slot) slot = Prepare(db(), sql());
        return slot.get();
    }
    std::string CellColumns();
    bool OnWalkRow(long long id) const;
    void EndWalk();
    std::optional<RowKey> Step(sqlite3_stmt* s);
};

// Resets a statement on every way out of a scope, which also ends the read
// transaction it opened; an error is raised before the reset.
class ResetAtExit {
public:
    explicit ResetAtExit(sqlite3_stmt* s) : s_(s) {}
    ~ResetAtExit() {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
    }
    ResetAtExit(const ResetAtExit&) = delete;
    ResetAtExit& operator=(const ResetAtExit&) = delete;

private:
    sqlite3_stmt* s_;
};

void SqliteRecordset::OpenTable(const std::string& source) {
    sqlite3* h = conn->handle();
    const TableShape shape = ShapeOfTable(h, source);
    std::optional<std::string> alias = shape == TableShape::RowidTable ? RowidAlias(h, source) : "_rowid_";
    if (shape == TableShape::WithoutRowid || !alias)
        throw Error(err::InvalidOperation, "표 " + WithParticle("'" + source + "'", Particle::EunNeun) + " rowid가 없는 표" +
                                               (alias ? " (WITHOUT ROWID)" : " (열 이름이 rowid를 모두 가림)") +
                                               "라서 열 수 없습니다. rowid가 있는 보통 표만 다룰 수 있습니다.");
    if (shape == TableShape::View) {
        // A view's rows are read as they are; nothing can be added through it.
        RefuseAdding(WithParticle("'" + source + "'", Particle::EunNeun) + " 표가 아니라 뷰라서 행을 추가할 수 없습니다.");
        OpenSnapshot("SELECT * FROM " + QuoteId(source));
        return;
    }
    OpenAs(dbOpenTable);
    SetTable(source);
    rowid = *alias;
    Stmt s = Prepare(h, "SELECT * FROM " + QuoteId(source));
    for (int i = 0; i < sqlite3_column_count(s.get()); ++i) {
        AddField(sqlite3_column_name(s.get(), i));
        holdsBlobs.push_back(MayHoldBlobs(sqlite3_column_decltype(s.get(), i)));
    }
    StartWalk(false);
}

// Inside a write transaction the snapshot shares the main connection's view;
// otherwise it reads through its own connection, whose read transaction
// freezes the rows until Close.
void SqliteRecordset::OpenSnapshot(const std::string& source, const Params& params) {
    OpenAs(dbOpenSnapshot);
    sqlite3* h = conn->handle();
    if (sqlite3_get_autocommit(h)) {
        snapshotDb = OpenSqlite(conn->path, SQLITE_OPEN_READONLY, "데이터베이스 " + conn->path + " 읽기");
        h = snapshotDb.get();
        Exec(h, "BEGIN", "데이터베이스 " + conn->path + " 읽기");
    }
    Stmt original = Prepare(h, source);
    BindAll(h, original.get(), params, source);
    for (int i = 0; i < sqlite3_column_count(original.get()); ++i) AddField(sqlite3_column_name(original.get(), i));
    const std::string context = "SQL 문 [" + source + "] 읽기";
    std::string lazyTable;
    if (auto lazy = LazySelect(h, source, original.get(), lazyTable, origin)) {
        SetTable(lazyTable);
        Stmt s = Prepare(h, *lazy);
        BindAll(h, s.get(), params, source);
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
            long long id = sqlite3_column_int64(s.get(), 0);
            Cell* row = AddSnapshotRow();
            for (std::size_t i = 0; i < Names().size(); ++i) row[i] = MakeCell(s.get(), 1 + 2 * static_cast<int>(i), id);
        }
        Check(h, rc, context);
    } else {
        origin.clear();
        ReadWhole(original.get(), context);
    }
}

void SqliteRecordset::ReadWhole(sqlite3_stmt* stmt, const std::string& context) {
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        Cell* row = AddSnapshotRow();
        for (std::size_t i = 0; i < Names().size(); ++i) {
            const int col = static_cast<int>(i);
            const int bytes = sqlite3_column_bytes(stmt, col);
            if (sqlite3_column_type(stmt, col) == SQLITE_BLOB && static_cast<std::size_t>(bytes) > ChunkStage::kInlineLimit)
                Spill(row[i], std::span(static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, col)),
                                        static_cast<std::size_t>(bytes)));
            else
                row[i].Set(ColumnValue(stmt, col));
        }
    }
    Check(db(), rc, context);
}

Cell SqliteRecordset::MakeCell(sqlite3_stmt* s, int typeCol, long long id) {
    Cell cell;
    if (std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(s, typeCol)), "blob") == 0)
        cell.value = LazyBlob{id, sqlite3_column_int64(s, typeCol + 1)};
    else
        cell.Set(ColumnValue(s, typeCol + 1));
    return cell;
}

// A column that may hold pictures comes as its type and length, which
// SQLite finds without reading the value; any other column as its value.
std::string SqliteRecordset::CellColumns() {
    std::string list;
    walkColumns.clear();
    int at = 1;
    for (std::size_t i = 0; i < Names().size(); ++i) {
        const std::string c = QuoteId(Names()[i]);
        walkColumns.push_back(at);
        if (holdsBlobs[i]) {
            list += ", typeof(" + c + "), length(" + c + ")";
            at += 2;
        } else {
            list += ", " + c;
            at += 1;
        }
    }
    return list;
}

bool SqliteRecordset::OnWalkRow(long long id) const {
    return walking && walkRow == id && sqlite3_total_changes64(db()) == walkChanges &&
           conn->Generation() == walkGeneration;
}

void SqliteRecordset::EndWalk() {
    if (!walking) return;
    walking = false;
    sqlite3_reset(walkStmt.get());
}

Cell SqliteRecordset::TableCell(int i) {
    if (OnWalkRow(CurrentKey().id)) {
        sqlite3_stmt* w = walkStmt.get();
        const int at = walkColumns[static_cast<std::size_t>(i)];
        Cell cell;
        if (!holdsBlobs[static_cast<std::size_t>(i)]) {
            cell.Set(ColumnValue(w, at));
            return cell;
        }
        // A blob or Null as the walk found it; a text or number in such a
        // column is read with the statement below.
        const auto* kind = reinterpret_cast<const char*>(sqlite3_column_text(w, at));
        if (std::strcmp(kind, "null") == 0) return cell;
        if (std::strcmp(kind, "blob") == 0) {
            cell.value = LazyBlob{walkRow, sqlite3_column_int64(w, at + 1)};
            return cell;
        }
    }
    if (cellStmts.size() != Names().size()) cellStmts.resize(Names().size());
    sqlite3_stmt* s = Reused(cellStmts[static_cast<std::size_t>(i)], [&] {
        const std::string c = QuoteId(Names()[static_cast<std::size_t>(i)]);
        return "SELECT typeof(" + c + "), CASE WHEN typeof(" + c + ")='blob' THEN length(" + c + ") ELSE " + c +
               " END FROM " + QuoteId(Table()) + " WHERE " + rowid + "=?";
    });
    ResetAtExit reset(s);
    sqlite3_bind_int64(s, 1, CurrentKey().id);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_DONE) throw Error(err::RecordDeleted, "현재 레코드가 삭제되었습니다 (테이블 " + Table() + ").");
    if (rc != SQLITE_ROW) Raise(db(), rc, "테이블 " + Table() + " 읽기");
    return MakeCell(s, 0, CurrentKey().id);
}

std::optional<RowKey> SqliteRecordset::Step(sqlite3_stmt* s) {
    ResetAtExit reset(s);
    const int rc = sqlite3_step(s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Raise(db(), rc, "테이블 " + Table() + " 이동");
    if (rc == SQLITE_DONE || sqlite3_column_type(s, 0) == SQLITE_NULL) return std::nullopt;
    return RowKey{sqlite3_column_int64(s, 0), 0};
}

std::optional<RowKey> SqliteRecordset::NextRow(std::optional<RowKey> after) {
    if (!after) {
        // Finding the first row starts no walk: a recordset opened only to
        // add a row, or to look at its first one, holds nothing.
        EndWalk();
        return Step(Reused(firstStmt, [&] { return "SELECT min(" + rowid + ") FROM " + QuoteId(Table()); }));
    }
    if (!walkAllowed) {
        Stmt mode = Prepare(db(), "PRAGMA main.journal_mode");
        Check(db(), sqlite3_step(mode.get()), "테이블 " + Table() + " 이동");
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0));
        walkAllowed = !(text && sqlite3_stricmp(text, "wal") == 0);
    }
    if (!*walkAllowed) {
        sqlite3_stmt* s = Reused(nextStmt, [&] {
            return "SELECT min(" + rowid + ") FROM " + QuoteId(Table()) + " WHERE " + rowid + " > ?";
        });
        sqlite3_bind_int64(s, 1, after->id);
        return Step(s);
    }
    sqlite3_stmt* s = Reused(walkStmt, [&] {
        return "SELECT " + rowid + CellColumns() + " FROM " + QuoteId(Table()) + " WHERE " + rowid + " > ? ORDER BY " + rowid;
    });
    if (!OnWalkRow(after->id) || CoarseMilliseconds() - walkStart > kWalkHoldMs) {
        EndWalk();
        sqlite3_bind_int64(s, 1, after->id);
        walkStart = CoarseMilliseconds();
    }
    walking = false;
    const int rc = sqlite3_step(s);
    if (rc != SQLITE_ROW) {
        ResetAtExit reset(s);
        if (rc != SQLITE_DONE) Raise(db(), rc, "테이블 " + Table() + " 이동");
        return std::nullopt;
    }
    walking = true;
    walkRow = sqlite3_column_int64(s, 0);
    walkChanges = sqlite3_total_changes64(db());
    walkGeneration = conn->Generation();
    return RowKey{walkRow, 0};
}

long SqliteRecordset::TableCount() {
    sqlite3_stmt* s = Reused(countStmt, [&] { return "SELECT count(*) FROM " + QuoteId(Table()); });
    ResetAtExit reset(s);
    Check(db(), sqlite3_step(s), "테이블 " + Table() + " 세기");
    return static_cast<long>(sqlite3_column_int64(s, 0));
}

bool SqliteRecordset::RowExists(const RowKey& key) {
    // Called when the recordset moves to a bookmark: the walk is left.
    EndWalk();
    sqlite3_stmt* s = Reused(existsStmt, [&] { return "SELECT 1 FROM " + QuoteId(Table()) + " WHERE " + rowid + "=?"; });
    ResetAtExit reset(s);
    sqlite3_bind_int64(s, 1, key.id);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Raise(db(), rc, "테이블 " + Table() + " 이동");
    return rc == SQLITE_ROW;
}

Bytes SqliteRecordset::ReadLazy(int field, const LazyBlob& cell, std::int64_t from, std::int64_t n) {
    const std::string& column = IsTable() ? Names()[static_cast<std::size_t>(field)]
                                                    : origin[static_cast<std::size_t>(field)];
    // The message is taken before the handle goes, which would clear it.
    auto fail = [&](int rc) {
        const Error error(NumberFor(rc, sqlite3_errmsg(db())), "열 " + Table() + "." + column + " 읽기: " + sqlite3_errmsg(db()));
        blob.reset();
        throw error;
    };
    // A handle that a change to its row has expired can neither move nor
    // read; it is opened anew.
    auto seat = [&](bool fresh) {
        int rc = SQLITE_ABORT;
        if (!fresh && blob && blobField == field) rc = sqlite3_blob_reopen(blob.get(), cell.rowid);
        if (rc == SQLITE_ABORT) {
            blob.reset();
            sqlite3_blob* raw = nullptr;
            rc = sqlite3_blob_open(db(), "main", Table().c_str(), column.c_str(), cell.rowid, 0, &raw);
            blob.reset(raw);
        }
        if (rc != SQLITE_OK) fail(rc);
        if (sqlite3_blob_bytes(blob.get()) != cell.size) {
            blob.reset();
            throw Error(err::RecordDeleted, "레코드를 읽는 동안 값이 바뀌었습니다 (열 " + Table() + "." + column + ").");
        }
        blobRow = cell.rowid;
        blobField = field;
    };
    // The same column of another row: the handle moves there, one seek
    // instead of compiling a new one.
    if (!blob || blobRow != cell.rowid || blobField != field) seat(false);
    Bytes out(static_cast<std::size_t>(n));
    int rc = sqlite3_blob_read(blob.get(), out.data(), static_cast<int>(n), static_cast<int>(from));
    if (rc == SQLITE_ABORT) {
        seat(true);
        rc = sqlite3_blob_read(blob.get(), out.data(), static_cast<int>(n), static_cast<int>(from));
    }
    if (rc != SQLITE_OK) fail(rc);
    return out;
}

RowKey SqliteRecordset::Insert() {
    sqlite3* h = db();
    const std::string context = "테이블 " + Table() + "에 행 추가";

    // A long staged value goes in as a zero-filled blob that is then filled
    // piece by piece, unless something on the table would see the zeros; it
    // is then read back whole, within a bound, and inserted as it is.
    std::string cols, marks;
    std::vector<std::size_t> used;
    std::vector<Bytes> whole(Names().size());
    bool inPlace = false;
    for (std::size_t i = 0; i < Names().size(); ++i) {
        if (!Edit(i) && !Stage(i)) continue;
        cols += (used.empty() ? "" : ", ") + QuoteId(Names()[i]);
        marks += used.empty() ? "?" : ", ?";
        used.push_back(i);
        const ChunkStage* stage = Stage(i);
        if (!stage || stage->Inline()) continue;
        if (observers.size() != Names().size()) observers.resize(Names().size());
        if (!observers[i]) observers[i] = ValueObservers(h, Table(), Names()[i]);
        if (observers[i]->empty()) {
            inPlace = true;
        } else if (stage->Size() > kWholeValueLimit) {
            throw Error(err::ValueTooLarge,
                        "열 " + Table() + "." + Names()[i] + "의 값(" + std::to_string(stage->Size()) +
                            " 바이트)을 저장할 수 없습니다: 표의 " + WithParticle(Joined(*observers[i]), Particle::IGa) +
                            " 값을 보므로 값을 한 번에 넣어야 하는데, 한 번에 넣을 수 있는 값은 " +
                            std::to_string(kWholeValueLimit >> 20) + " MiB까지입니다.");
        } else {
            whole[i] = stage->Read(0, stage->Size());
        }
    }
    std::string sql = "INSERT INTO " + QuoteId(Table()) +
                      (used.empty() ? " DEFAULT VALUES" : " (" + cols + ") VALUES (" + marks + ")");

    // The insert and the filling land together or not at all.
    std::optional<AllOrNothing> together;
    if (inPlace) together.emplace(h, context);
    {
        Stmt s = Prepare(h, sql);
        for (std::size_t k = 0; k < used.size(); ++k) {
            std::size_t i = used[k];
            int slot = static_cast<int>(k) + 1;
            if (const ChunkStage* stage = Stage(i)) {
                const Bytes& bytes = stage->Inline() ? stage->Memory() : whole[i];
                // Zero bytes appended stay an empty value, not Null.
                int rc = !bytes.empty() ? sqlite3_bind_blob64(s.get(), slot, bytes.data(), bytes.size(), SQLITE_STATIC)
                                        : sqlite3_bind_zeroblob64(s.get(), slot, stage->Size());
                Check(h, rc, context + " (열 " + Names()[i] + ")");
            } else {
                Bind(h, s.get(), slot, *Edit(i));
            }
        }
        Check(h, sqlite3_step(s.get()), context);
        const long long id = sqlite3_last_insert_rowid(h);
        for (std::size_t i : used) {
            const ChunkStage* stage = Stage(i);
            if (!stage || stage->Inline() || !whole[i].empty()) continue;
            sqlite3_blob* raw = nullptr;
            int rc = sqlite3_blob_open(h, "main", Table().c_str(), Names()[i].c_str(), id, 1, &raw);
            BlobHandle handle(raw);
            if (rc != SQLITE_OK) Raise(h, rc, context + " (열 " + Names()[i] + ")");
            stage->ForEachPiece([&](std::span<const std::uint8_t> piece, std::uint64_t at) {
                int wrc = sqlite3_blob_write(raw, piece.data(), static_cast<int>(piece.size()), static_cast<int>(at));
                if (wrc != SQLITE_OK) Raise(h, wrc, context + " (열 " + Names()[i] + ")");
            });
            rc = sqlite3_blob_close(handle.release());
            if (rc != SQLITE_OK) Raise(h, rc, context + " (열 " + Names()[i] + ")");
        }
        if (together) together->Commit();
        return RowKey{id, 0};
    }
}

}  // namespace

SqliteConnection::SqliteConnection(std::string p, Db db) : db_(std::move(db)) { path = std::move(p); }

sqlite3* SqliteConnection::handle() const {
    if (!db_) throw Error(err::ObjectClosed, "데이터베이스가 닫혀 있습니다: " + path);
    return db_.get();
}

void SqliteConnection::Execute(const std::string& sql, const Params& params) {
    ++generation_;
    Exec(handle(), sql, "SQL 문 [" + sql + "] 실행", params);
}

std::shared_ptr<RecordsetImpl> SqliteConnection::Open(const std::string& source, int type,
                                                      int /*options: a file's walk is always live*/, const Params& params) {
    auto r = std::make_shared<SqliteRecordset>(std::static_pointer_cast<SqliteConnection>(shared_from_this()));
    if (type == dbOpenTable) r->OpenTable(source);
    else r->OpenSnapshot(source, params);
    return r;
}

void SqliteConnection::Begin() { Exec(handle(), "BEGIN IMMEDIATE", "트랜잭션 시작 " + path); }
void SqliteConnection::Commit() { Exec(handle(), "COMMIT", "트랜잭션 완료 " + path); }
void SqliteConnection::Rollback() {
    ++generation_;
    Exec(handle(), "ROLLBACK", "트랜잭션 취소 " + path);
}
bool SqliteConnection::InTransaction() const { return !sqlite3_get_autocommit(handle()); }

TableShape SqliteConnection::ShapeOf(const std::string& name) { return ShapeOfTable(handle(), name); }

std::vector<std::string> SqliteConnection::CheckIntegrity() {
    std::vector<std::string> problems;
    Stmt s = Prepare(handle(), "PRAGMA integrity_check");
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
        problems.emplace_back(text ? text : "");
    }
    Check(handle(), rc, "데이터베이스 " + path + " 검사");
    return problems;
}

void SqliteConnection::CloseConnection() {
    if (!db_) return;
    int rc = sqlite3_close(db_.get());
    if (rc != SQLITE_OK) Raise(db_.get(), rc, "데이터베이스 닫기 " + path);
    (void)db_.release();
}
