// Recordsets: moving over rows, adding a row, bookmarks.
#include <cstring>

#include "platform/engine_impl.h"
#include "platform/table_shape.h"

namespace {

Bytes BookmarkOf(long long key) {
    Bytes b(8);
    for (int i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(static_cast<unsigned long long>(key) >> (8 * i));
    return b;
}

long long KeyOf(const Bytes& b) {
    if (b.size() != 8) throw Error(err::InvalidEngineArgument, "책갈피가 올바르지 않습니다.");
    unsigned long long key = 0;
    for (int i = 0; i < 8; ++i) key |= static_cast<unsigned long long>(b[i]) << (8 * i);
    return static_cast<long long>(key);
}

}  // namespace

void RecordsetImpl::CheckOpen() const {
    if (closed) throw Error(err::ObjectClosed, "레코드셋이 닫혀 있습니다.");
    conn->handle();
}

void RecordsetImpl::Close() {
    if (closed) return;
    blob.reset();
    snapshotDb.reset();
    rows.clear();
    spill.reset();
    stages.clear();
    closed = true;
}

int RecordsetImpl::IndexOf(std::string_view name) const {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (sqlite3_stricmp(names[i].c_str(), std::string(name).c_str()) == 0) return static_cast<int>(i);
    throw Error(err::ItemNotFound, "열 '" + std::string(name) + "'을(를) 찾을 수 없습니다" +
                                       (table.empty() ? "." : " (테이블 " + table + ")."));
}

void RecordsetImpl::CheckIndex(int i) const {
    if (i < 0 || i >= static_cast<int>(names.size()))
        throw Error(err::ItemNotFound, "열 번호 " + std::to_string(i) + "이(가) 범위를 벗어났습니다.");
}

void RecordsetImpl::RequireRow() const {
    CheckOpen();
    if (AtEnd()) throw Error(err::NoCurrentRecord, "현재 레코드가 없습니다.");
}

Cell RecordsetImpl::CurrentCell(int i) const {
    RequireRow();
    if (type != dbOpenTable) return rows[pos][static_cast<std::size_t>(i)];
    std::string c = QuoteId(names[static_cast<std::size_t>(i)]);
    Stmt s = Prepare(db(), "SELECT typeof(" + c + "), CASE WHEN typeof(" + c + ")='blob' THEN length(" + c +
                               ") ELSE " + c + " END FROM " + QuoteId(table) + " WHERE " + rowid + "=?");
    sqlite3_bind_int64(s.get(), 1, *current);
    int rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE) throw Error(err::RecordDeleted, "현재 레코드가 삭제되었습니다 (테이블 " + table + ").");
    Check(db(), rc, "테이블 " + table + " 읽기");
    return MakeCell(s.get(), 0, *current);
}

Cell RecordsetImpl::MakeCell(sqlite3_stmt* s, int typeCol, long long rowid) {
    Cell cell;
    if (std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(s, typeCol)), "blob") == 0) {
        cell.value = LazyBlob{rowid, sqlite3_column_int64(s, typeCol + 1)};
    } else {
        cell.Set(ColumnValue(s, typeCol + 1));
    }
    return cell;
}

sqlite3_blob* RecordsetImpl::OpenBlob(int field, const LazyBlob& cell) {
    if (blob && blobRow == cell.rowid && blobField == field) return blob.get();
    blob.reset();
    sqlite3_blob* raw = nullptr;
    const std::string& column = type == dbOpenTable ? names[static_cast<std::size_t>(field)]
                                                    : origin[static_cast<std::size_t>(field)];
    int rc = sqlite3_blob_open(db(), "main", table.c_str(), column.c_str(), cell.rowid, 0, &raw);
    BlobHandle handle(raw);
    if (rc != SQLITE_OK) Raise(db(), rc, "열 " + table + "." + column + " 읽기");
    if (sqlite3_blob_bytes(raw) != cell.size)
        throw Error(err::RecordDeleted, "레코드를 읽는 동안 값이 바뀌었습니다 (열 " + table + "." + column + ").");
    blob = std::move(handle);
    blobRow = cell.rowid;
    blobField = field;
    return blob.get();
}

void RecordsetImpl::ReadWhole(sqlite3_stmt* stmt, const std::string& context) {
    sqlite3* handle = db();
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        Cell* row = rows.Add();
        for (std::size_t i = 0; i < names.size(); ++i) {
            const int col = static_cast<int>(i);
            const int bytes = sqlite3_column_bytes(stmt, col);
            if (sqlite3_column_type(stmt, col) != SQLITE_BLOB || static_cast<std::size_t>(bytes) <= ChunkStage::kInlineLimit) {
                row[i].Set(ColumnValue(stmt, col));
                continue;
            }
            if (!spill) spill.emplace();
            const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, col));
            spill->WriteAt(std::span(p, static_cast<std::size_t>(bytes)), spillSize);
            row[i].value = SpilledBlob{spillSize, bytes};
            spillSize += static_cast<std::uint64_t>(bytes);
        }
    }
    Check(handle, rc, context);
}

Bytes RecordsetImpl::ReadOutside(int field, const Cell& cell, std::int64_t offset, std::int64_t count) {
    const std::int64_t size = cell.OutsideSize();
    const std::int64_t from = std::min(offset, size);
    const std::int64_t n = std::min(count, size - from);
    Bytes out(static_cast<std::size_t>(n));
    if (n == 0) return out;
    if (const SpilledBlob* spilled = cell.Spilled()) {
        spill->ReadAt(out, spilled->offset + static_cast<std::uint64_t>(from));
        return out;
    }
    sqlite3_blob* handle = OpenBlob(field, *cell.Lazy());
    const int rc = sqlite3_blob_read(handle, out.data(), static_cast<int>(n), static_cast<int>(from));
    if (rc != SQLITE_OK) {
        ForgetBlob();
        Raise(db(), rc, "열 " + table + "." + names[static_cast<std::size_t>(field)] + " 읽기");
    }
    return out;
}

std::optional<long long> RecordsetImpl::NextRowid(std::optional<long long> after) const {
    std::string sql = "SELECT min(" + rowid + ") FROM " + QuoteId(table) + (after ? " WHERE " + rowid + " > ?" : "");
    Stmt s = Prepare(db(), sql);
    if (after) sqlite3_bind_int64(s.get(), 1, *after);
    Check(db(), sqlite3_step(s.get()), "테이블 " + table + " 이동");
    if (sqlite3_column_type(s.get(), 0) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_int64(s.get(), 0);
}

RecordsetImpl& Recordset::impl() const {
    if (!impl_) throw Error(err::ObjectClosed, "레코드셋이 열려 있지 않습니다.");
    return *impl_;
}

long Recordset::RecordCount() const {
    auto& r = impl();
    r.CheckOpen();
    if (r.type != dbOpenTable) return static_cast<long>(r.rows.size());
    Stmt s = Prepare(r.db(), "SELECT count(*) FROM " + QuoteId(r.table));
    Check(r.db(), sqlite3_step(s.get()), "테이블 " + r.table + " 세기");
    return static_cast<long>(sqlite3_column_int64(s.get(), 0));
}

bool Recordset::EOF_() const {
    auto& r = impl();
    r.CheckOpen();
    return r.AtEnd();
}


void Recordset::MoveFirst() {
    auto& r = impl();
    r.CheckOpen();
    r.adding = false;
    if (r.type == dbOpenTable) {
        r.current = r.NextRowid(std::nullopt);
        if (!r.current) throw Error(err::NoCurrentRecord, "레코드가 없습니다 (테이블 " + r.table + ").");
    } else {
        if (r.rows.empty()) throw Error(err::NoCurrentRecord, "레코드가 없습니다.");
        r.pos = 0;
    }
}

void Recordset::MoveNext() {
    auto& r = impl();
    r.RequireRow();
    r.adding = false;
    if (r.type == dbOpenTable) r.current = r.NextRowid(r.current);
    else ++r.pos;
}

int Recordset::FieldCount() const {
    auto& r = impl();
    r.CheckOpen();
    return static_cast<int>(r.names.size());
}

Field Recordset::Fields(int index) const {
    impl().CheckOpen();
    impl_->CheckIndex(index);
    return Field(impl_, index);
}

Field Recordset::Fields(std::string_view name) const {
    impl().CheckOpen();
    return Field(impl_, impl_->IndexOf(name));
}

void Recordset::AddNew() {
    auto& r = impl();
    r.CheckOpen();
    if (!r.readOnlyReason.empty()) throw Error(err::ReadOnly, r.readOnlyReason);
    if (r.type != dbOpenTable) throw Error(err::ReadOnly, "스냅숏 레코드셋에는 행을 추가할 수 없습니다.");
    r.adding = true;
    r.edits.assign(r.names.size(), std::nullopt);
    r.stages.clear();
    r.stages.resize(r.names.size());
}

void Recordset::CancelUpdate() {
    auto& r = impl();
    r.CheckOpen();
    if (!r.adding) throw Error(err::UpdateWithoutAddNew, "AddNew 없이 CancelUpdate를 할 수 없습니다.");
    r.adding = false;
    r.edits.clear();
    r.stages.clear();
}

namespace {
std::string Joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : ", ") + p;
    return out;
}
}  // namespace

void Recordset::Update() {
    auto& r = impl();
    r.CheckOpen();
    if (!r.adding) throw Error(err::UpdateWithoutAddNew, "AddNew 없이 Update를 할 수 없습니다.");
    sqlite3* db = r.db();
    const std::string context = "테이블 " + r.table + "에 행 추가";

    // A long staged value goes in as a zero-filled blob that is then filled
    // piece by piece, unless something on the table would see the zeros; it
    // is then read back whole, within a bound, and inserted as it is.
    std::string cols, marks;
    std::vector<std::size_t> used;
    std::vector<Bytes> whole(r.names.size());
    bool inPlace = false;
    for (std::size_t i = 0; i < r.names.size(); ++i) {
        if (!r.edits[i] && !r.stages[i]) continue;
        cols += (used.empty() ? "" : ", ") + QuoteId(r.names[i]);
        marks += used.empty() ? "?" : ", ?";
        used.push_back(i);
        const auto& stage = r.stages[i];
        if (!stage || stage->Inline()) continue;
        if (r.observers.size() != r.names.size()) r.observers.resize(r.names.size());
        if (!r.observers[i]) r.observers[i] = ValueObservers(db, r.table, r.names[i]);
        if (r.observers[i]->empty()) {
            inPlace = true;
        } else if (stage->Size() > kWholeValueLimit) {
            throw Error(err::ValueTooLarge,
                        "열 " + r.table + "." + r.names[i] + "의 값(" + std::to_string(stage->Size()) +
                            " 바이트)을 저장할 수 없습니다: 표의 " + Joined(*r.observers[i]) +
                            "이(가) 값을 보므로 값을 한 번에 넣어야 하는데, 한 번에 넣을 수 있는 값은 " +
                            std::to_string(kWholeValueLimit >> 20) + " MiB까지입니다.");
        } else {
            whole[i] = stage->Read(0, stage->Size());
        }
    }
    std::string sql = "INSERT INTO " + QuoteId(r.table) +
                      (used.empty() ? " DEFAULT VALUES" : " (" + cols + ") VALUES (" + marks + ")");

    // The insert and the filling land together or not at all.
    const bool ownTransaction = inPlace && sqlite3_get_autocommit(db);
    if (inPlace) Exec(db, ownTransaction ? "BEGIN IMMEDIATE" : "SAVEPOINT kaldoria_update", context);
    try {
        Stmt s = Prepare(db, sql);
        for (std::size_t k = 0; k < used.size(); ++k) {
            std::size_t i = used[k];
            int slot = static_cast<int>(k) + 1;
            if (auto& stage = r.stages[i]) {
                const Bytes& bytes = stage->Inline() ? stage->Memory() : whole[i];
                // Zero bytes appended stay an empty value, not Null.
                int rc = !bytes.empty() ? sqlite3_bind_blob64(s.get(), slot, bytes.data(), bytes.size(), SQLITE_STATIC)
                                        : sqlite3_bind_zeroblob64(s.get(), slot, stage->Size());
                Check(db, rc, context + " (열 " + r.names[i] + ")");
            } else {
                Bind(db, s.get(), slot, *r.edits[i]);
            }
        }
        Check(db, sqlite3_step(s.get()), context);
        long long rowid = sqlite3_last_insert_rowid(db);
        for (std::size_t i : used) {
            auto& stage = r.stages[i];
            if (!stage || stage->Inline() || !whole[i].empty()) continue;
            sqlite3_blob* raw = nullptr;
            int rc = sqlite3_blob_open(db, "main", r.table.c_str(), r.names[i].c_str(), rowid, 1, &raw);
            BlobHandle handle(raw);
            if (rc != SQLITE_OK) Raise(db, rc, context + " (열 " + r.names[i] + ")");
            stage->ForEachPiece([&](std::span<const std::uint8_t> piece, std::uint64_t at) {
                int wrc = sqlite3_blob_write(raw, piece.data(), static_cast<int>(piece.size()), static_cast<int>(at));
                if (wrc != SQLITE_OK) Raise(db, wrc, context + " (열 " + r.names[i] + ")");
            });
            rc = sqlite3_blob_close(handle.release());
            if (rc != SQLITE_OK) Raise(db, rc, context + " (열 " + r.names[i] + ")");
        }
        if (inPlace) Exec(db, ownTransaction ? "COMMIT" : "RELEASE kaldoria_update", context);
        r.lastModified = rowid;
    } catch (...) {
        if (inPlace) {
            if (ownTransaction) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            else sqlite3_exec(db, "ROLLBACK TO kaldoria_update; RELEASE kaldoria_update", nullptr, nullptr, nullptr);
        }
        throw;
    }
    r.adding = false;
    r.edits.clear();
    r.stages.clear();
}

Bytes Recordset::LastModified() const {
    auto& r = impl();
    r.CheckOpen();
    if (!r.lastModified) throw Error(err::NoCurrentRecord, "마지막으로 바뀐 레코드가 없습니다.");
    return BookmarkOf(*r.lastModified);
}

Bytes Recordset::Bookmark() const {
    auto& r = impl();
    r.RequireRow();
    return BookmarkOf(r.type == dbOpenTable ? *r.current : static_cast<long long>(r.pos));
}

void Recordset::SetBookmark(const Bytes& bookmark) {
    auto& r = impl();
    r.CheckOpen();
    long long key = KeyOf(bookmark);
    r.adding = false;
    if (r.type != dbOpenTable) {
        if (key < 0 || static_cast<std::size_t>(key) >= r.rows.size())
            throw Error(err::InvalidEngineArgument, "책갈피가 올바르지 않습니다.");
        r.pos = static_cast<std::size_t>(key);
        return;
    }
    Stmt s = Prepare(r.db(), "SELECT 1 FROM " + QuoteId(r.table) + " WHERE " + r.rowid + "=?");
    sqlite3_bind_int64(s.get(), 1, key);
    int rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE) throw Error(err::RecordDeleted, "책갈피의 레코드가 삭제되었습니다 (테이블 " + r.table + ").");
    Check(r.db(), rc, "테이블 " + r.table + " 이동");
    r.current = key;
}

void Recordset::Close() {
    if (impl_) impl_->Close();
}

