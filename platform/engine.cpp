#include "platform/engine.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {

struct StmtDeleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

struct DbDeleter {
    void operator()(sqlite3* d) const { sqlite3_close_v2(d); }
};
using Db = std::unique_ptr<sqlite3, DbDeleter>;

struct BlobDeleter {
    void operator()(sqlite3_blob* b) const { sqlite3_blob_close(b); }
};
using BlobHandle = std::unique_ptr<sqlite3_blob, BlobDeleter>;

struct FileDeleter {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using CFile = std::unique_ptr<std::FILE, FileDeleter>;

constexpr int kBusyTimeoutMs = 5000;
constexpr int kOpenBusyTimeoutMs = 2000;

int NumberFor(int rc, const std::string& message) {
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return err::Locked;
    case SQLITE_FULL: return err::DiskFullEngine;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return err::NotADatabase;
    case SQLITE_READONLY: return err::ReadOnly;
    case SQLITE_CANTOPEN: return err::CannotOpen;
    case SQLITE_IOERR: return err::DiskOrNetwork;
    case SQLITE_CONSTRAINT: return err::DuplicateKey;
    case SQLITE_PERM:
    case SQLITE_AUTH: return err::CannotOpen;
    default: break;
    }
    if (message.starts_with("no such table")) return err::TableNotFound;
    if (message.starts_with("no such column")) return err::ItemNotFound;
    return err::Engine;
}

[[noreturn]] void Raise(sqlite3* db, int rc, const std::string& context) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw Error(NumberFor(rc, message), context + ": " + message);
}

void Check(sqlite3* db, int rc, const std::string& context) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) Raise(db, rc, context);
}

bool OnlySpaceOrComments(const char* tail) {
    for (const char* p = tail; *p;) {
        if (std::isspace(static_cast<unsigned char>(*p)) || *p == ';') {
            ++p;
        } else if (p[0] == '-' && p[1] == '-') {
            while (*p && *p != '\n') ++p;
        } else if (p[0] == '/' && p[1] == '*') {
            const char* end = std::strstr(p + 2, "*/");
            if (!end) return true;
            p = end + 2;
        } else {
            return false;
        }
    }
    return true;
}

// Prepares exactly one statement: trailing statements are refused, so text
// pasted into a statement can never run a second command.
Stmt Prepare(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()) + 1, &raw, &tail);
    Stmt stmt(raw);
    if (rc != SQLITE_OK) Raise(db, rc, "SQL 문 [" + sql + "]");
    if (!stmt) throw Error(err::InvalidEngineArgument, "SQL 문이 비어 있습니다: [" + sql + "]");
    if (tail && !OnlySpaceOrComments(tail))
        throw Error(err::InvalidEngineArgument, "한 번에 한 SQL 문만 실행할 수 있습니다: [" + sql + "]");
    return stmt;
}

void Exec(sqlite3* db, const std::string& sql, const std::string& context) {
    Stmt stmt = Prepare(db, sql);
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    }
    Check(db, rc, context);
}

std::string QuoteId(std::string_view id) {
    std::string out = "\"";
    for (char c : id) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

// A blob left in its table, read by rowid when asked for.
struct LazyBlob {
    long long rowid;
    std::int64_t size;
};
// A value as read, or a LazyBlob: kept per cell of a snapshot, so it stays small.
using CellValue = std::variant<std::monostate, long long, double, std::string, Bytes, LazyBlob>;

CellValue ColumnValue(sqlite3_stmt* s, int i) {
    switch (sqlite3_column_type(s, i)) {
    case SQLITE_INTEGER: return static_cast<long long>(sqlite3_column_int64(s, i));
    case SQLITE_FLOAT: return sqlite3_column_double(s, i);
    case SQLITE_TEXT: {
        auto p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
        return std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s, i)));
    }
    case SQLITE_BLOB: {
        auto p = static_cast<const std::uint8_t*>(sqlite3_column_blob(s, i));
        return Bytes(p, p + sqlite3_column_bytes(s, i));
    }
    default: return std::monostate{};
    }
}

void Bind(sqlite3* db, sqlite3_stmt* s, int i, const Variant& v) {
    int rc = SQLITE_OK;
    if (auto p = std::get_if<long long>(&v)) rc = sqlite3_bind_int64(s, i, *p);
    else if (auto d = std::get_if<double>(&v)) rc = sqlite3_bind_double(s, i, *d);
    else if (auto t = std::get_if<std::string>(&v))
        rc = sqlite3_bind_text64(s, i, t->data(), t->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    else if (auto b = std::get_if<Bytes>(&v))
        // An empty vector's data() may be null, which SQLite would bind as Null.
        rc = b->empty() ? sqlite3_bind_zeroblob(s, i, 0) : sqlite3_bind_blob64(s, i, b->data(), b->size(), SQLITE_TRANSIENT);
    else rc = sqlite3_bind_null(s, i);
    Check(db, rc, "값 연결");
}

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

// Bytes appended to a column of a new row, held until Update: in memory up
// to a small limit, beyond it in an anonymous temporary file, so a large
// picture never sits in memory whole.
class ChunkStage {
public:
    static constexpr std::size_t kMemoryLimit = 1 << 20;
    // Values up to this size go into the INSERT itself; larger ones are
    // written into a zeroblob, which spares SQLite a record copy of the value.
    static constexpr std::size_t kInlineLimit = 64 * 1024;

    void Append(std::span<const std::uint8_t> bytes) {
        if (!spill_ && memory_.size() + bytes.size() <= kMemoryLimit) {
            // Reserving once spares the page faults of repeated regrowth,
            // which cost more than the copies here.
            if (memory_.capacity() == 0) memory_.reserve(kMemoryLimit);
            memory_.insert(memory_.end(), bytes.begin(), bytes.end());
        } else {
            if (!spill_) {
                spill_.reset(std::tmpfile());
                if (!spill_) throw Error(err::DeviceIO, std::string("임시 파일을 만들 수 없습니다: ") + std::strerror(errno));
                Write(memory_);
                Bytes().swap(memory_);
            }
            Write(bytes);
        }
        size_ += bytes.size();
    }
    std::uint64_t Size() const { return size_; }
    bool InMemory() const { return !spill_; }
    bool Inline() const { return !spill_ && size_ <= kInlineLimit; }
    const Bytes& Memory() const { return memory_; }

    // Reads the staged bytes back from `offset`; used for the blob write and
    // for GetChunk on the row being added.
    template <typename Sink>
    void ForEachPiece(Sink&& sink) {
        if (!spill_) {
            sink(std::span<const std::uint8_t>(memory_), 0);
            return;
        }
        if (std::fflush(spill_.get()) != 0 || std::fseek(spill_.get(), 0, SEEK_SET) != 0)
            throw Error(err::DeviceIO, std::string("임시 파일을 읽을 수 없습니다: ") + std::strerror(errno));
        Bytes buf(256 * 1024);
        std::uint64_t done = 0;
        while (done < size_) {
            std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), size_ - done));
            if (std::fread(buf.data(), 1, want, spill_.get()) != want)
                throw Error(err::DeviceIO, "임시 파일을 읽을 수 없습니다.");
            sink(std::span<const std::uint8_t>(buf.data(), want), done);
            done += want;
        }
        std::fseek(spill_.get(), 0, SEEK_END);
    }

private:
    void Write(std::span<const std::uint8_t> bytes) {
        if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), spill_.get()) != bytes.size()) {
            int e = errno;
            throw Error(e == ENOSPC ? err::DiskFull : err::DeviceIO,
                        std::string("임시 파일에 쓸 수 없습니다: ") + std::strerror(e));
        }
    }
    Bytes memory_;
    CFile spill_;
    std::uint64_t size_ = 0;
};

// Finds the top-level words of a statement, skipping quotes, comments and
// parentheses; enough to see the shape of a SELECT.
struct Word {
    std::string upper;
    std::size_t pos;
};

std::vector<Word> TopLevelWords(const std::string& sql) {
    std::vector<Word> words;
    int depth = 0;
    for (std::size_t i = 0; i < sql.size();) {
        char c = sql[i];
        if (c == '\'' || c == '"' || c == '`' || c == '[') {
            char close = c == '[' ? ']' : c;
            i = sql.find(close, i + 1);
            if (i == std::string::npos) break;
            ++i;
        } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
            i = sql.find('\n', i);
            if (i == std::string::npos) break;
        } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
            i = sql.find("*/", i + 2);
            if (i == std::string::npos) break;
            i += 2;
        } else if (c == '(') {
            ++depth, ++i;
        } else if (c == ')') {
            --depth, ++i;
        } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || (c & 0x80)) {
            std::size_t start = i;
            while (i < sql.size() &&
                   (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '_' || (sql[i] & 0x80)))
                ++i;
            if (depth == 0) {
                std::string w = sql.substr(start, i - start);
                for (auto& ch : w) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
                words.push_back({w, start});
            }
        } else {
            ++i;
        }
    }
    return words;
}

}  // namespace

bool IsNull(const Variant& v) { return std::holds_alternative<std::monostate>(v); }

std::string TextOf(const Variant& v) {
    if (auto p = std::get_if<long long>(&v)) return std::to_string(*p);
    if (auto d = std::get_if<double>(&v)) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15g", *d);
        return buf;
    }
    if (auto t = std::get_if<std::string>(&v)) return *t;
    if (auto b = std::get_if<Bytes>(&v)) return std::string(b->begin(), b->end());
    return {};
}

// ---------------------------------------------------------------------------

class ConnectionImpl {
public:
    std::string path;
    Db db;
    std::vector<std::weak_ptr<RecordsetImpl>> recordsets;

    sqlite3* handle() const {
        if (!db) throw Error(err::ObjectClosed, "데이터베이스가 닫혀 있습니다: " + path);
        return db.get();
    }
    void Close();
};

class WorkspaceImpl {
public:
    std::string name, user;
    bool closed = false;
    std::vector<std::weak_ptr<ConnectionImpl>> databases;
};

struct Cell {
    CellValue value;
    const LazyBlob* Lazy() const { return std::get_if<LazyBlob>(&value); }
    // The value as the field shows it; a lazy blob must be read instead.
    Variant Take() {
        return std::visit(
            [](auto&& v) -> Variant {
                if constexpr (std::is_same_v<std::decay_t<decltype(v)>, LazyBlob>) return {};
                else return std::move(v);
            },
            value);
    }
};

// A snapshot's rows, their cells kept in blocks of a fixed number of rows:
// a long result grows without moving what it holds, so each cell's memory is
// touched once (fresh pages cost more than the copying here).
class SnapshotRows {
public:
    void SetWidth(std::size_t width) { width_ = std::max<std::size_t>(width, 1); }
    // Appends a row of empty cells and returns its first cell.
    Cell* Add() {
        if (count_ % kBlockRows == 0) blocks_.push_back(std::make_unique<Cell[]>(kBlockRows * width_));
        Cell* row = blocks_.back().get() + (count_ % kBlockRows) * width_;
        ++count_;
        return row;
    }
    const Cell* operator[](std::size_t row) const {
        return blocks_[row / kBlockRows].get() + (row % kBlockRows) * width_;
    }
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    void clear() {
        blocks_.clear();
        count_ = 0;
    }

private:
    static constexpr std::size_t kBlockRows = 256;
    std::vector<std::unique_ptr<Cell[]>> blocks_;
    std::size_t width_ = 1;
    std::size_t count_ = 0;
};

class RecordsetImpl {
public:
    std::shared_ptr<ConnectionImpl> conn;
    int type = dbOpenSnapshot;
    bool closed = false;
    std::vector<std::string> names;
    std::string table;                   // table recordsets, and lazy snapshot blobs
    std::vector<std::string> origin;     // origin column of each field (lazy snapshot blobs)

    // Snapshot: its own read connection (null inside a write transaction of
    // the main connection, whose own view it then shares) and the rows.
    Db snapshotDb;
    SnapshotRows rows;
    std::size_t pos = 0;

    // Table: the current row by rowid.
    std::optional<long long> current;

    // The row being added.
    bool adding = false;
    std::vector<std::optional<Variant>> edits;
    std::vector<std::unique_ptr<ChunkStage>> stages;
    std::optional<long long> lastModified;

    // The blob handle of the value read last, kept so that consecutive
    // GetChunk calls cost one seek each and see one consistent value.
    BlobHandle blob;
    long long blobRow = 0;
    int blobField = -1;

    sqlite3* db() const { return snapshotDb ? snapshotDb.get() : conn->handle(); }

    void CheckOpen() const {
        if (closed) throw Error(err::ObjectClosed, "레코드셋이 닫혀 있습니다.");
        conn->handle();
    }

    void Close() {
        if (closed) return;
        blob.reset();
        snapshotDb.reset();
        rows.clear();
        stages.clear();
        closed = true;
    }

    int IndexOf(std::string_view name) const {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (sqlite3_stricmp(names[i].c_str(), std::string(name).c_str()) == 0) return static_cast<int>(i);
        throw Error(err::ItemNotFound, "열 '" + std::string(name) + "'을(를) 찾을 수 없습니다" +
                                           (table.empty() ? "." : " (테이블 " + table + ")."));
    }

    void CheckIndex(int i) const {
        if (i < 0 || i >= static_cast<int>(names.size()))
            throw Error(err::ItemNotFound, "열 번호 " + std::to_string(i) + "이(가) 범위를 벗어났습니다.");
    }

    bool AtEnd() const { return type == dbOpenTable ? !current.has_value() : pos >= rows.size(); }

    void RequireRow() const {
        CheckOpen();
        if (AtEnd()) throw Error(err::NoCurrentRecord, "현재 레코드가 없습니다.");
    }

    // The current row's cell for field i, read from the table when needed.
    Cell CurrentCell(int i) const {
        RequireRow();
        if (type != dbOpenTable) return rows[pos][static_cast<std::size_t>(i)];
        std::string c = QuoteId(names[static_cast<std::size_t>(i)]);
        Stmt s = Prepare(db(), "SELECT typeof(" + c + "), CASE WHEN typeof(" + c + ")='blob' THEN length(" + c +
                                   ") ELSE " + c + " END FROM " + QuoteId(table) + " WHERE _rowid_=?");
        sqlite3_bind_int64(s.get(), 1, *current);
        int rc = sqlite3_step(s.get());
        if (rc == SQLITE_DONE) throw Error(err::RecordDeleted, "현재 레코드가 삭제되었습니다 (테이블 " + table + ").");
        Check(db(), rc, "테이블 " + table + " 읽기");
        return MakeCell(s.get(), 0, *current);
    }

    static Cell MakeCell(sqlite3_stmt* s, int typeCol, long long rowid) {
        Cell cell;
        if (std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(s, typeCol)), "blob") == 0) {
            cell.value = LazyBlob{rowid, sqlite3_column_int64(s, typeCol + 1)};
        } else {
            cell.value = ColumnValue(s, typeCol + 1);
        }
        return cell;
    }

    sqlite3_blob* OpenBlob(int field, const LazyBlob& cell) {
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

    void ForgetBlob() { blob.reset(); }
};

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

// ---------------------------------------------------------------------------
// Field

const std::string& Field::Name() const {
    rs_->CheckIndex(index_);
    return rs_->names[static_cast<std::size_t>(index_)];
}

Variant Field::Value() const {
    rs_->CheckOpen();
    rs_->CheckIndex(index_);
    if (rs_->adding) {
        auto& edit = rs_->edits[static_cast<std::size_t>(index_)];
        auto& stage = rs_->stages[static_cast<std::size_t>(index_)];
        if (stage && stage->InMemory()) return stage->Memory();
        return edit ? *edit : Variant{};
    }
    Cell cell = rs_->CurrentCell(index_);
    if (const LazyBlob* lazy = cell.Lazy())
        return GetChunk(0, static_cast<std::int32_t>(std::min<std::int64_t>(lazy->size, INT32_MAX)));
    return cell.Take();
}

void Field::SetValue(const Variant& value) {
    rs_->CheckOpen();
    rs_->CheckIndex(index_);
    if (!rs_->adding) throw Error(err::UpdateWithoutAddNew, "AddNew 없이 열 " + Name() + "에 값을 넣을 수 없습니다.");
    rs_->edits[static_cast<std::size_t>(index_)] = value;
    rs_->stages[static_cast<std::size_t>(index_)].reset();
}

std::int32_t Field::FieldSize() const {
    rs_->CheckOpen();
    rs_->CheckIndex(index_);
    std::int64_t size = 0;
    if (rs_->adding) {
        auto& stage = rs_->stages[static_cast<std::size_t>(index_)];
        size = stage ? static_cast<std::int64_t>(stage->Size()) : static_cast<std::int64_t>(TextOf(Value()).size());
    } else {
        Cell cell = rs_->CurrentCell(index_);
        const LazyBlob* lazy = cell.Lazy();
        size = lazy ? lazy->size : static_cast<std::int64_t>(TextOf(cell.Take()).size());
    }
    if (size > INT32_MAX) throw Error(err::InvalidEngineArgument, "열 " + Name() + "의 값이 너무 큽니다.");
    return static_cast<std::int32_t>(size);
}

Bytes Field::GetChunk(std::int32_t offset, std::int32_t count) const {
    rs_->CheckOpen();
    rs_->CheckIndex(index_);
    if (offset < 0 || count < 0)
        throw Error(err::InvalidEngineArgument, "GetChunk의 위치나 길이가 음수입니다 (열 " + Name() + ").");
    Cell cell;
    if (!rs_->adding) cell = rs_->CurrentCell(index_);
    const LazyBlob* lazy = cell.Lazy();
    if (!lazy) {
        // A value held in memory: its bytes, or its text's.
        const std::string all = TextOf(rs_->adding ? Value() : cell.Take());
        const std::size_t from = std::min<std::size_t>(static_cast<std::size_t>(offset), all.size());
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), all.size() - from);
        return Bytes(all.begin() + static_cast<std::ptrdiff_t>(from), all.begin() + static_cast<std::ptrdiff_t>(from + n));
    }
    sqlite3_blob* blob = rs_->OpenBlob(index_, *lazy);
    std::int64_t from = std::min<std::int64_t>(offset, lazy->size);
    std::int64_t n = std::min<std::int64_t>(count, lazy->size - from);
    Bytes out(static_cast<std::size_t>(n));
    if (n > 0) {
        int rc = sqlite3_blob_read(blob, out.data(), static_cast<int>(n), static_cast<int>(from));
        if (rc != SQLITE_OK) {
            rs_->ForgetBlob();
            Raise(rs_->db(), rc, "열 " + rs_->table + "." + Name() + " 읽기");
        }
    }
    return out;
}

void Field::AppendChunk(std::span<const std::uint8_t> bytes) {
    rs_->CheckOpen();
    rs_->CheckIndex(index_);
    if (!rs_->adding)
        throw Error(err::UpdateWithoutAddNew, "AddNew 없이 열 " + Name() + "에 AppendChunk를 할 수 없습니다.");
    auto& stage = rs_->stages[static_cast<std::size_t>(index_)];
    if (!stage) {
        stage = std::make_unique<ChunkStage>();
        auto& edit = rs_->edits[static_cast<std::size_t>(index_)];
        if (edit && !IsNull(*edit)) {
            std::string before = TextOf(*edit);
            stage->Append(std::span(reinterpret_cast<const std::uint8_t*>(before.data()), before.size()));
        }
        edit.reset();
    }
    stage->Append(bytes);
}

// ---------------------------------------------------------------------------
// Recordset

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

namespace {
std::optional<long long> NextRowid(RecordsetImpl& r, std::optional<long long> after) {
    std::string sql = "SELECT min(_rowid_) FROM " + QuoteId(r.table) + (after ? " WHERE _rowid_ > ?" : "");
    Stmt s = Prepare(r.db(), sql);
    if (after) sqlite3_bind_int64(s.get(), 1, *after);
    Check(r.db(), sqlite3_step(s.get()), "테이블 " + r.table + " 이동");
    if (sqlite3_column_type(s.get(), 0) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_int64(s.get(), 0);
}
}  // namespace

void Recordset::MoveFirst() {
    auto& r = impl();
    r.CheckOpen();
    r.adding = false;
    if (r.type == dbOpenTable) {
        r.current = NextRowid(r, std::nullopt);
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
    if (r.type == dbOpenTable) r.current = NextRowid(r, r.current);
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

void Recordset::Update() {
    auto& r = impl();
    r.CheckOpen();
    if (!r.adding) throw Error(err::UpdateWithoutAddNew, "AddNew 없이 Update를 할 수 없습니다.");
    sqlite3* db = r.db();
    const std::string context = "테이블 " + r.table + "에 행 추가";

    std::string cols, marks;
    std::vector<std::size_t> used;
    bool largeStage = false;
    for (std::size_t i = 0; i < r.names.size(); ++i) {
        if (!r.edits[i] && !r.stages[i]) continue;
        cols += (used.empty() ? "" : ", ") + QuoteId(r.names[i]);
        marks += used.empty() ? "?" : ", ?";
        used.push_back(i);
        if (r.stages[i] && !r.stages[i]->Inline()) largeStage = true;
    }
    std::string sql = "INSERT INTO " + QuoteId(r.table) +
                      (used.empty() ? " DEFAULT VALUES" : " (" + cols + ") VALUES (" + marks + ")");

    // A staged value above the inline limit goes in as a zero-filled blob that
    // is then filled piece by piece; the two steps land together or not at all.
    const bool ownTransaction = largeStage && sqlite3_get_autocommit(db);
    if (largeStage) Exec(db, ownTransaction ? "BEGIN IMMEDIATE" : "SAVEPOINT kaldoria_update", context);
    try {
        Stmt s = Prepare(db, sql);
        for (std::size_t k = 0; k < used.size(); ++k) {
            std::size_t i = used[k];
            int slot = static_cast<int>(k) + 1;
            if (auto& stage = r.stages[i]) {
                // Zero bytes appended stay an empty value, not Null.
                int rc = stage->Inline() && stage->Size() != 0
                             ? sqlite3_bind_blob64(s.get(), slot, stage->Memory().data(), stage->Memory().size(),
                                                   SQLITE_STATIC)
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
            if (!stage || stage->Inline()) continue;
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
        if (largeStage) Exec(db, ownTransaction ? "COMMIT" : "RELEASE kaldoria_update", context);
        r.lastModified = rowid;
    } catch (...) {
        if (largeStage) {
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
    Stmt s = Prepare(r.db(), "SELECT 1 FROM " + QuoteId(r.table) + " WHERE _rowid_=?");
    sqlite3_bind_int64(s.get(), 1, key);
    int rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE) throw Error(err::RecordDeleted, "책갈피의 레코드가 삭제되었습니다 (테이블 " + r.table + ").");
    Check(r.db(), rc, "테이블 " + r.table + " 이동");
    r.current = key;
}

void Recordset::Close() {
    if (impl_) impl_->Close();
}

// ---------------------------------------------------------------------------
// Database

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

// False for a column declared with a text or number type, whose values are
// read with the statement (a list of 100,000 names reads three times faster
// so); a column declared BLOB, with no type or any other type may hold
// pictures, which stay in the table until they are asked for.
bool MayHoldBlobs(const char* declared) {
    if (!declared) return true;
    std::string d = declared;
    for (auto& ch : d) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (const char* word : {"INT", "CHAR", "CLOB", "TEXT", "REAL", "FLOA", "DOUB"})
        if (d.find(word) != std::string::npos) return false;
    return true;
}

// Rewrites a plain one-table SELECT so that blob columns come back as their
// type and length only, with the rowid to read them by later. Returns nothing
// for any other shape of statement, or when no column may hold blobs; such a
// statement is then read in full.
std::optional<std::string> LazySelect(sqlite3* db, const std::string& sql, sqlite3_stmt* original,
                                      std::string& table, std::vector<std::string>& origin) {
    auto words = TopLevelWords(sql);
    if (words.size() < 3 || words[0].upper != "SELECT" || words[1].upper == "DISTINCT" || words[1].upper == "ALL")
        return std::nullopt;
    std::size_t from = 0;
    for (const auto& w : words) {
        if (w.upper == "UNION" || w.upper == "INTERSECT" || w.upper == "EXCEPT" || w.upper == "GROUP" ||
            w.upper == "WINDOW" || w.upper == "ORDER" || w.upper == "VALUES")
            return std::nullopt;
        if (w.upper == "FROM" && from == 0) from = w.pos;
    }
    if (from == 0) return std::nullopt;
    int n = sqlite3_column_count(original);
    bool anyBlob = false;
    for (int i = 0; i < n; ++i) anyBlob = anyBlob || MayHoldBlobs(sqlite3_column_decltype(original, i));
    if (!anyBlob) return std::nullopt;
    std::string list = "_rowid_";
    for (int i = 0; i < n; ++i) {
        const char* t = sqlite3_column_table_name(original, i);
        const char* c = sqlite3_column_origin_name(original, i);
        const char* d = sqlite3_column_database_name(original, i);
        if (!t || !c || !d || std::strcmp(d, "main") != 0) return std::nullopt;
        if (i == 0) table = t;
        else if (table != t) return std::nullopt;
        origin.emplace_back(c);
        std::string q = QuoteId(c);
        list += ", typeof(" + q + "), CASE WHEN typeof(" + q + ")='blob' THEN length(" + q + ") ELSE " + q + " END";
    }
    std::string rewritten = "SELECT " + list + " " + sql.substr(from);
    sqlite3_stmt* probe = nullptr;
    if (sqlite3_prepare_v2(db, rewritten.c_str(), -1, &probe, nullptr) != SQLITE_OK) {
        sqlite3_finalize(probe);
        return std::nullopt;
    }
    sqlite3_finalize(probe);
    return rewritten;
}

}  // namespace

Recordset Database::OpenRecordset(const std::string& source, int type) {
    auto& c = conn();
    auto r = std::make_shared<RecordsetImpl>();
    r->conn = conn_;
    r->type = type;
    if (type == dbOpenTable) {
        r->table = source;
        Stmt s = Prepare(c.handle(), "SELECT * FROM " + QuoteId(source));
        for (int i = 0; i < sqlite3_column_count(s.get()); ++i) r->names.emplace_back(sqlite3_column_name(s.get(), i));
        r->current = NextRowid(*r, std::nullopt);
    } else if (type == dbOpenSnapshot) {
        // Inside a write transaction the snapshot shares the main connection's
        // view; otherwise it reads through its own connection, whose read
        // transaction freezes the rows until Close.
        sqlite3* db = c.handle();
        if (sqlite3_get_autocommit(db)) {
            sqlite3* raw = nullptr;
            int rc = sqlite3_open_v2(c.path.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE, nullptr);
            r->snapshotDb.reset(raw);
            if (rc != SQLITE_OK) Raise(raw, rc, "데이터베이스 " + c.path + " 읽기");
            sqlite3_busy_timeout(raw, kBusyTimeoutMs);
            Exec(raw, "BEGIN", "데이터베이스 " + c.path + " 읽기");
            db = raw;
        }
        Stmt original = Prepare(db, source);
        for (int i = 0; i < sqlite3_column_count(original.get()); ++i)
            r->names.emplace_back(sqlite3_column_name(original.get(), i));
        const std::string context = "SQL 문 [" + source + "] 읽기";
        r->rows.SetWidth(r->names.size());
        if (auto lazy = LazySelect(db, source, original.get(), r->table, r->origin)) {
            Stmt s = Prepare(db, *lazy);
            int rc;
            while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
                long long rowid = sqlite3_column_int64(s.get(), 0);
                Cell* row = r->rows.Add();
                for (std::size_t i = 0; i < r->names.size(); ++i)
                    row[i] = RecordsetImpl::MakeCell(s.get(), 1 + 2 * static_cast<int>(i), rowid);
            }
            Check(db, rc, context);
        } else {
            r->table.clear();
            r->origin.clear();
            int rc;
            while ((rc = sqlite3_step(original.get())) == SQLITE_ROW) {
                Cell* row = r->rows.Add();
                for (std::size_t i = 0; i < r->names.size(); ++i)
                    row[i].value = ColumnValue(original.get(), static_cast<int>(i));
            }
            Check(db, rc, context);
        }
    } else {
        throw Error(err::InvalidEngineArgument, "지원하지 않는 레코드셋 형식입니다: " + std::to_string(type));
    }
    c.recordsets.push_back(r);
    std::erase_if(c.recordsets, [](const auto& w) { return w.expired(); });
    return Recordset(r);
}

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

// ---------------------------------------------------------------------------
// Workspace and engine

WorkspaceImpl& Workspace::ws() const {
    if (!ws_ || ws_->closed) throw Error(err::ObjectClosed, "작업 영역이 열려 있지 않습니다.");
    return *ws_;
}

const std::string& Workspace::Name() const { return ws().name; }
const std::string& Workspace::UserName() const { return ws().user; }

namespace {

std::string FolderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

unsigned Be(const unsigned char* p, int n) {
    unsigned v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// Checks the file before the engine sees it: SQLite would take an empty file
// for an empty database, open a read-only file read-only without a word, and
// take some truncated files for valid ones.
void CheckDatabaseFile(const std::string& path, bool readOnly) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        if (errno == EACCES) throw Error(err::CannotOpen, "데이터베이스 파일 '" + path + "'에 접근할 수 없습니다.");
        throw Error(err::DatabaseNotFound, "데이터베이스 파일 '" + path + "'을(를) 찾을 수 없습니다.");
    }
    if (!S_ISREG(st.st_mode)) throw Error(err::NotADatabase, "'" + path + "'은(는) 데이터베이스 파일이 아닙니다.");
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw Error(err::CannotOpen, "데이터베이스 파일 '" + path + "'을(를) 읽을 수 없습니다: " + std::strerror(errno));
    unsigned char header[100] = {};
    ssize_t got = ::read(fd, header, sizeof header);
    ::close(fd);
    static const char kJet[] = "\x00\x01\x00\x00Standard Jet DB";
    if (got >= 20 && std::memcmp(header, kJet, 19) == 0)
        throw Error(err::NotADatabase, "'" + path + "'은(는) 이전 Jet 형식의 데이터베이스입니다. "
                                       "'kaldoria-db migrate \"" + path + "\"' 명령으로 변환한 뒤 사용하십시오.");
    if (got < 100 || std::memcmp(header, "SQLite format 3", 16) != 0)
        throw Error(err::NotADatabase, "'" + path + "'은(는) 데이터베이스 파일이 아닙니다.");
    unsigned pageSize = Be(header + 16, 2);
    if (pageSize == 1) pageSize = 65536;
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0)
        throw Error(err::NotADatabase, "데이터베이스 파일 '" + path + "'이(가) 손상되었습니다 (머리글).");
    unsigned pages = Be(header + 28, 4);
    bool pagesValid = pages != 0 && std::memcmp(header + 24, header + 92, 4) == 0;
    if (static_cast<unsigned long long>(st.st_size) % pageSize != 0 ||
        (pagesValid && static_cast<unsigned long long>(st.st_size) < 1ULL * pages * pageSize))
        throw Error(err::NotADatabase, "데이터베이스 파일 '" + path + "'이(가) 잘렸거나 손상되었습니다.");
    if (readOnly) return;
    if (::access(path.c_str(), R_OK | W_OK) != 0)
        throw Error(err::CannotOpen, "데이터베이스 파일 '" + path + "'에 쓸 수 없습니다 (읽기 전용).");
    // The engine writes its journal beside the file.
    if (::access(FolderOf(path).c_str(), W_OK | X_OK) != 0)
        throw Error(err::CannotOpen, "데이터베이스 파일이 있는 폴더 '" + FolderOf(path) + "'에 쓸 수 없습니다.");
}

// Pages up to which opening checks every page of the file (1 MiB at the
// default page size, a few milliseconds). A larger file has only the first
// and last rows of each table checked, so that opening does not take time in
// proportion to the pictures stored; damage deeper inside is reported as
// err::NotADatabase by the statement that reads it.
constexpr long long kFullCheckPages = 256;

void CheckPages(sqlite3* db, const std::string& path) {
    const std::string context = "데이터베이스 " + path + " 검사";
    auto damaged = [&](const std::string& detail) {
        return Error(err::NotADatabase, "데이터베이스 파일 '" + path + "'이(가) 손상되었습니다: " + detail);
    };
    Stmt count = Prepare(db, "PRAGMA page_count");
    Check(db, sqlite3_step(count.get()), context);
    if (sqlite3_column_int64(count.get(), 0) <= kFullCheckPages) {
        Stmt check = Prepare(db, "PRAGMA quick_check(1)");
        Check(db, sqlite3_step(check.get()), context);
        const char* verdict = reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
        if (!verdict || std::strcmp(verdict, "ok") != 0) throw damaged(verdict ? verdict : "?");
        return;
    }
    std::vector<std::string> tables;
    Stmt list = Prepare(db, "SELECT name FROM sqlite_schema WHERE type = 'table' AND rootpage > 0");
    int rc;
    while ((rc = sqlite3_step(list.get())) == SQLITE_ROW)
        tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
    Check(db, rc, context);
    for (const auto& table : tables) {
        // Each min or max alone walks one edge of the tree, root to leaf.
        const std::string t = QuoteId(table);
        const std::string sql = "SELECT (SELECT min(_rowid_) FROM " + t + "), (SELECT max(_rowid_) FROM " + t + ")";
        sqlite3_stmt* raw = nullptr;
        rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr);
        Stmt edges(raw);
        if (rc == SQLITE_ERROR) continue;  // a table without rowid: left to its first reader
        Check(db, rc, context);
        rc = sqlite3_step(edges.get());
        if ((rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB) throw damaged(sqlite3_errmsg(db));
        Check(db, rc, context);
    }
}

}  // namespace

Database Workspace::OpenDatabase(const std::string& path, bool exclusive, bool readOnly, const std::string& connect) {
    auto& w = ws();
    if (!connect.empty()) throw Error(err::InvalidEngineArgument, "연결 문자열은 지원하지 않습니다.");
    CheckDatabaseFile(path, readOnly);
    auto c = std::make_shared<ConnectionImpl>();
    c->path = path;
    sqlite3* raw = nullptr;
    // Each connection serves one thread, so SQLite need not lock on every call.
    int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE;
    int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    c->db.reset(raw);
    if (rc != SQLITE_OK) Raise(raw, rc, "데이터베이스 " + path + " 열기");
    if (!readOnly && sqlite3_db_readonly(raw, "main") == 1)
        throw Error(err::CannotOpen, "데이터베이스 파일 '" + path + "'에 쓸 수 없습니다 (읽기 전용).");
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, kOpenBusyTimeoutMs);
    try {
        // Reading the schema and checking the pages makes a locked, foreign or
        // damaged file fail here rather than at the first statement.
        Exec(raw, "SELECT count(*) FROM sqlite_schema", "데이터베이스 " + path + " 열기");
        CheckPages(raw, path);
        if (exclusive) Exec(raw, "PRAGMA locking_mode=EXCLUSIVE", "데이터베이스 " + path + " 열기");
    } catch (const Error& e) {
        if (e.Number() == err::Locked)
            throw Error(err::InUseExclusively,
                        "데이터베이스 파일 '" + path + "'을(를) 다른 프로그램이 독점적으로 사용하고 있습니다.");
        throw;
    }
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    w.databases.push_back(c);
    std::erase_if(w.databases, [](const auto& d) { return d.expired(); });
    return Database(c);
}

Database Workspace::CreateDatabase(const std::string& path) {
    auto& w = ws();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        int e = errno;
        if (e == EEXIST) throw Error(err::CannotOpen, "'" + path + "'이(가) 이미 있습니다. 덮어쓰지 않습니다.");
        throw Error(err::PathFileAccess, "'" + path + "'을(를) 만들 수 없습니다: " + std::strerror(e));
    }
    ::close(fd);
    auto c = std::make_shared<ConnectionImpl>();
    c->path = path;
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE, nullptr);
    c->db.reset(raw);
    if (rc != SQLITE_OK) {
        c->db.reset();
        ::unlink(path.c_str());
        Raise(nullptr, rc, "데이터베이스 " + path + " 만들기");
    }
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    w.databases.push_back(c);
    return Database(c);
}

void Workspace::Close() {
    auto& w = ws();
    for (auto& weak : w.databases)
        if (auto c = weak.lock()) c->Close();
    w.databases.clear();
    w.closed = true;
}

DBEngine& DBEngine::Instance() {
    static DBEngine engine;
    return engine;
}

Workspace DBEngine::CreateWorkspace(const std::string& name, const std::string& user, const std::string& password,
                                    int type) {
    if (type != dbUseJet) throw Error(err::InvalidEngineArgument, "지원하지 않는 작업 영역 형식입니다: " + std::to_string(type));
    if (!password.empty() || user != "admin")
        throw Error(err::CannotOpen, "사용자 '" + user + "'(으)로 로그인할 수 없습니다.");
    auto w = std::make_shared<WorkspaceImpl>();
    w->name = name;
    w->user = user;
    return Workspace(w);
}
