#include "platform/pg_backend.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

#include "platform/sql_words.h"

namespace {

// A picture is read from the server a window at a time, so that reading it
// in 32000-byte chunks costs one round trip per window, not per chunk.
constexpr std::int64_t kReadWindow = 1 << 20;

// Keys travel as the text of ctid, "(block,offset)", and of xmin.
RowKey KeyFrom(const char* ctid, const char* xmin) {
    unsigned long long block = 0, offset = 0;
    if (std::sscanf(ctid, "(%llu,%llu)", &block, &offset) != 2)
        throw Error(err::Engine, std::string("서버가 보낸 행 주소를 읽을 수 없습니다: ") + ctid);
    return {static_cast<long long>((block << 16) | offset), static_cast<std::uint32_t>(std::strtoul(xmin, nullptr, 10))};
}

std::vector<PgParam> KeyParams(const RowKey& key) {
    const auto id = static_cast<unsigned long long>(key.id);
    return {{PgParam::Text, "(" + std::to_string(id >> 16) + "," + std::to_string(id & 0xffff) + ")"},
            {PgParam::Text, std::to_string(key.version)}};
}

const char* const kKeyMatch = " WHERE ctid = $1::tid AND xmin = $2::xid";

std::string FirstWord(const std::string& sql) {
    const auto words = Words(sql);
    return words.empty() ? std::string() : words[0].upper;
}

// Big-endian bytes of `v`, `n` bytes wide.
void PutBig(std::string& out, unsigned long long v, int n) {
    for (int i = n - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}

class PgRecordset : public RecordsetImpl {
public:
    std::shared_ptr<PgConnection> conn;
    std::vector<Oid> types;           // each field's type on the server
    std::vector<std::string> origin;  // each field's column in `table` (lazy reads)
    std::string quotedTable;
    std::vector<RowKey> keys;  // of each row read lazily, in order
    bool loaded = false;       // table recordsets: rows and keys read
    // A table row reached by bookmark rather than by moving, read on its own.
    std::optional<RowKey> loneKey;
    std::vector<Cell> loneRow;
    // The window of the value read last.
    int winField = -1;
    RowKey winKey;
    std::int64_t winStart = 0;
    Bytes window;

    explicit PgRecordset(std::shared_ptr<PgConnection> c) : conn(std::move(c)) {}
    const ConnectionImpl& Connection() const override { return *conn; }
    PGconn* pg() { return conn->Conn(); }

    void OpenTable(const std::string& source);
    void OpenSnapshot(const std::string& source);
    // The select list that reads every field lazily: key, then each column
    // with bytea columns as their length.
    std::string LazyList() const;
    void ReadWhole(const std::string& source);
    void LoadTable();
    Cell CellOf(PGresult* r, int row, int col, std::size_t field, const RowKey& key) const;

    Cell TableCell(int i) override;
    std::optional<RowKey> NextRow(std::optional<RowKey> after) override;
    long TableCount() override;
    bool RowExists(const RowKey& key) override;
    Bytes ReadLazy(int field, const LazyBlob& blob, std::int64_t from, std::int64_t n) override;
    RowKey Insert() override;

private:
    RowKey InsertWhole(const std::vector<std::size_t>& used);
    RowKey InsertByCopy(const std::vector<std::size_t>& used);
};

std::string PgRecordset::LazyList() const {
    std::string list = "ctid::text, xmin::text";
    for (std::size_t i = 0; i < origin.size(); ++i) {
        const std::string c = QuoteId(origin[i]);
        list += ", " + (types[i] == pgtype::Bytea ? "octet_length(" + c + ")" : c);
    }
    return list;
}

Cell PgRecordset::CellOf(PGresult* r, int row, int col, std::size_t field, const RowKey& key) const {
    Cell cell;
    if (types[field] == pgtype::Bytea) {
        if (!PQgetisnull(r, row, col))
            cell.value = LazyBlob{key.id, std::strtoll(PQgetvalue(r, row, col), nullptr, 10), key.version};
    } else {
        cell.Set(PgTextValue(r, row, col, types[field]));
    }
    return cell;
}

void PgRecordset::OpenTable(const std::string& source) {
    const TableShape shape = conn->ShapeOf(source);
    if (shape == TableShape::View) {
        type = dbOpenSnapshot;
        readOnlyReason = "'" + source + "'은(는) 서버에서 보통 표가 아니라서 행을 추가할 수 없습니다.";
        OpenSnapshot("SELECT * FROM " + QuoteId(source));
        return;
    }
    table = source;
    quotedTable = QuoteId(source);
    const auto& columns = conn->ColumnsOf(source);
    names = columns.names;
    types = columns.types;
    origin = names;
    rows.SetWidth(names.size());
    firstPending = true;
}

void PgRecordset::LoadTable() {
    if (loaded) return;
    rows.clear();
    keys.clear();
    PgResult r = conn->Read("SELECT " + LazyList() + " FROM " + quotedTable + " ORDER BY ctid", {}, false,
                            "서버의 표 " + table + " 읽기");
    for (int row = 0; row < PQntuples(r.get()); ++row) {
        const RowKey key = KeyFrom(PQgetvalue(r.get(), row, 0), PQgetvalue(r.get(), row, 1));
        keys.push_back(key);
        Cell* cells = rows.Add();
        for (std::size_t i = 0; i < names.size(); ++i) cells[i] = CellOf(r.get(), row, static_cast<int>(i) + 2, i, key);
    }
    loaded = true;
}

// A plain read of one table is listed with each row's key and its pictures'
// lengths only; anything else is read whole, a row at a time, its long
// values kept in the spill file.
void PgRecordset::OpenSnapshot(const std::string& source) {
    PGconn* c = pg();
    PgResult prepared(PQprepare(c, "", source.c_str(), 0, nullptr));
    if (!prepared || PQresultStatus(prepared.get()) != PGRES_COMMAND_OK)
        throw PgError(c, prepared.get(), "SQL 문 [" + source + "]", "SELECT");
    PgResult described(PQdescribePrepared(c, ""));
    if (!described || PQresultStatus(described.get()) != PGRES_COMMAND_OK)
        throw PgError(c, described.get(), "SQL 문 [" + source + "]", "SELECT");
    const int n = PQnfields(described.get());
    for (int i = 0; i < n; ++i) {
        names.emplace_back(PQfname(described.get(), i));
        types.push_back(PQftype(described.get(), i));
    }
    rows.SetWidth(names.size());

    const auto plain = ParsePlainSelect(source);
    const bool anyBytea = std::find(types.begin(), types.end(), pgtype::Bytea) != types.end();
    bool lazy = plain && anyBytea;
    if (lazy) {
        const std::string qualified = (plain->schema.empty() ? "" : QuoteId(plain->schema) + ".") + QuoteId(plain->table);
        PgResult rel = PgExec(c, "SELECT c.oid::text, c.relkind::text FROM pg_class c WHERE c.oid = to_regclass($1)",
                              {{PgParam::Text, qualified}}, false, PGRES_TUPLES_OK, "SQL 문 [" + source + "]");
        lazy = PQntuples(rel.get()) == 1 && std::strcmp(PQgetvalue(rel.get(), 0, 1), "r") == 0;
        const Oid oid = lazy ? static_cast<Oid>(std::strtoul(PQgetvalue(rel.get(), 0, 0), nullptr, 10)) : 0;
        // Every field must come straight from that table, so its key reads it.
        for (int i = 0; lazy && i < n; ++i) {
            lazy = PQftable(described.get(), i) == oid && PQftablecol(described.get(), i) > 0;
            if (!lazy) break;
            PgResult att = PgExec(c, "SELECT attname FROM pg_attribute WHERE attrelid = $1::oid AND attnum = $2::int",
                                  {{PgParam::Text, std::to_string(oid)},
                                   {PgParam::Text, std::to_string(PQftablecol(described.get(), i))}},
                                  false, PGRES_TUPLES_OK, "SQL 문 [" + source + "]");
            lazy = PQntuples(att.get()) == 1;
            if (lazy) origin.emplace_back(PQgetvalue(att.get(), 0, 0));
        }
        if (lazy) {
            table = plain->table;
            quotedTable = qualified;
        }
    }
    if (!lazy) {
        origin.clear();
        ReadWhole(source);
        return;
    }
    PgResult r = PgExec(c, "SELECT " + LazyList() + " " + source.substr(plain->from), {}, false, PGRES_TUPLES_OK,
                        "SQL 문 [" + source + "] 읽기", "SELECT");
    for (int row = 0; row < PQntuples(r.get()); ++row) {
        const RowKey key = KeyFrom(PQgetvalue(r.get(), row, 0), PQgetvalue(r.get(), row, 1));
        keys.push_back(key);
        Cell* cells = rows.Add();
        for (std::size_t i = 0; i < names.size(); ++i) cells[i] = CellOf(r.get(), row, static_cast<int>(i) + 2, i, key);
    }
}

void PgRecordset::ReadWhole(const std::string& source) {
    PGconn* c = pg();
    const std::string context = "SQL 문 [" + source + "] 읽기";
    if (!PQsendQueryParams(c, source.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) || !PQsetSingleRowMode(c))
        throw PgError(c, nullptr, context, "SELECT");
    std::optional<Error> failure;
    while (PGresult* raw = PQgetResult(c)) {
        PgResult r(raw);
        const ExecStatusType status = PQresultStatus(raw);
        if (failure) continue;  // the rest of a failed command is only drained
        if (status == PGRES_TUPLES_OK) continue;
        if (status != PGRES_SINGLE_TUPLE) {
            failure = PgError(c, raw, context, "SELECT");
            continue;
        }
        try {
            Cell* cells = rows.Add();
            for (std::size_t i = 0; i < names.size(); ++i) {
                const int col = static_cast<int>(i);
                Variant v = PgTextValue(raw, 0, col, types[i]);
                if (auto b = std::get_if<Bytes>(&v); b && b->size() > ChunkStage::kInlineLimit) Spill(cells[i], *b);
                else cells[i].Set(std::move(v));
            }
        } catch (const Error& e) {
            failure = e;
        }
    }
    if (failure) throw *failure;
}

Cell PgRecordset::TableCell(int i) {
    if (loneKey && *loneKey == *current) return loneRow[static_cast<std::size_t>(i)];
    LoadTable();
    auto at = std::lower_bound(keys.begin(), keys.end(), *current,
                               [](const RowKey& a, const RowKey& b) { return a.id < b.id; });
    if (at != keys.end() && *at == *current)
        return rows[static_cast<std::size_t>(at - keys.begin())][static_cast<std::size_t>(i)];
    PgResult r = conn->Read("SELECT " + LazyList() + " FROM " + quotedTable + kKeyMatch, KeyParams(*current), false,
                            "서버의 표 " + table + " 읽기");
    if (PQntuples(r.get()) != 1) throw Error(err::RecordDeleted, "현재 레코드가 삭제되었습니다 (테이블 " + table + ").");
    loneKey = *current;
    loneRow.clear();
    for (std::size_t f = 0; f < names.size(); ++f) loneRow.push_back(CellOf(r.get(), 0, static_cast<int>(f) + 2, f, *current));
    return loneRow[static_cast<std::size_t>(i)];
}

std::optional<RowKey> PgRecordset::NextRow(std::optional<RowKey> after) {
    LoadTable();
    auto at = after ? std::upper_bound(keys.begin(), keys.end(), *after,
                                       [](const RowKey& a, const RowKey& b) { return a.id < b.id; })
                    : keys.begin();
    if (at == keys.end()) return std::nullopt;
    return *at;
}

long PgRecordset::TableCount() {
    PgResult r = conn->Read("SELECT count(*) FROM " + quotedTable, {}, false, "서버의 표 " + table + " 세기");
    return std::strtol(PQgetvalue(r.get(), 0, 0), nullptr, 10);
}

bool PgRecordset::RowExists(const RowKey& key) {
    PgResult r = conn->Read("SELECT 1 FROM " + quotedTable + kKeyMatch, KeyParams(key), false, "서버의 표 " + table + " 이동");
    return PQntuples(r.get()) == 1;
}

Bytes PgRecordset::ReadLazy(int field, const LazyBlob& blob, std::int64_t from, std::int64_t n) {
    const RowKey key{blob.rowid, blob.version};
    const bool inWindow = winField == field && winKey == key && from >= winStart &&
                          from + n <= winStart + static_cast<std::int64_t>(window.size());
    if (!inWindow) {
        const std::string column = origin[static_cast<std::size_t>(field)];
        const std::int64_t want = std::min(std::max(n, kReadWindow), blob.size - from);
        std::vector<PgParam> params = KeyParams(key);
        params.push_back({PgParam::Text, std::to_string(from + 1)});
        params.push_back({PgParam::Text, std::to_string(want)});
        PgResult r = conn->Read("SELECT substring(" + QuoteId(column) + " FROM $3::int FOR $4::int) FROM " + quotedTable +
                                    kKeyMatch,
                                params, true, "서버의 열 " + table + "." + column + " 읽기");
        if (PQntuples(r.get()) != 1 || PQgetisnull(r.get(), 0, 0) || PQgetlength(r.get(), 0, 0) != want)
            throw Error(err::RecordDeleted, "레코드를 읽는 동안 값이 바뀌었거나 삭제되었습니다 (열 " + table + "." + column + ").");
        const auto* p = reinterpret_cast<const std::uint8_t*>(PQgetvalue(r.get(), 0, 0));
        window.assign(p, p + want);
        winField = field;
        winKey = key;
        winStart = from;
    }
    const auto begin = window.begin() + static_cast<std::ptrdiff_t>(from - winStart);
    return Bytes(begin, begin + static_cast<std::ptrdiff_t>(n));
}

RowKey PgRecordset::Insert() {
    std::vector<std::size_t> used;
    bool inMemory = true;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!edits[i] && !stages[i]) continue;
        used.push_back(i);
        if (!stages[i]) continue;
        if (stages[i]->Size() > kServerValueLimit)
            throw Error(err::ValueTooLarge, "열 " + table + "." + names[i] + "의 값(" + std::to_string(stages[i]->Size()) +
                                                " 바이트)이 너무 큽니다. 서버는 한 값을 1 GiB 미만까지만 저장합니다.");
        inMemory = inMemory && stages[i]->InMemory();
    }
    loaded = false;
    loneKey.reset();
    return inMemory ? InsertWhole(used) : InsertByCopy(used);
}

RowKey PgRecordset::InsertWhole(const std::vector<std::size_t>& used) {
    std::string cols, marks;
    std::vector<PgParam> params;
    for (std::size_t i : used) {
        cols += (params.empty() ? "" : ", ") + QuoteId(names[i]);
        params.push_back(stages[i] ? PgParam{PgParam::Binary, std::string(stages[i]->Memory().begin(),
                                                                           stages[i]->Memory().end())}
                                   : PgParam::Of(*edits[i]));
        marks += (params.size() == 1 ? "$" : ", $") + std::to_string(params.size());
    }
    const std::string sql = "INSERT INTO " + quotedTable +
                            (used.empty() ? " DEFAULT VALUES" : " (" + cols + ") VALUES (" + marks + ")") +
                            " RETURNING ctid::text, xmin::text";
    PgResult r = PgExec(pg(), sql, params, false, PGRES_TUPLES_OK, "서버의 표 " + table + "에 행 추가", "INSERT");
    return KeyFrom(PQgetvalue(r.get(), 0, 0), PQgetvalue(r.get(), 0, 1));
}

// One binary COPY whose long fields are sent piece by piece from their
// stages; the row is then found again by the transaction that wrote it.
RowKey PgRecordset::InsertByCopy(const std::vector<std::size_t>& used) {
    const std::string context = "서버의 표 " + table + "에 행 추가";
    std::string cols;
    for (std::size_t i : used) cols += (cols.empty() ? "" : ", ") + QuoteId(names[i]);
    const bool ownTransaction = !conn->InTransaction();
    if (ownTransaction) conn->Begin();
    try {
        PGconn* c = pg();
        PgResult start(PQexec(c, ("COPY " + quotedTable + " (" + cols + ") FROM STDIN (FORMAT binary)").c_str()));
        if (!start || PQresultStatus(start.get()) != PGRES_COPY_IN) throw PgError(c, start.get(), context, "INSERT");
        auto send = [&](const char* data, std::size_t size) {
            while (size > 0) {
                const int piece = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
                if (PQputCopyData(c, data, piece) != 1) throw PgError(c, nullptr, context, "INSERT");
                data += piece;
                size -= static_cast<std::size_t>(piece);
            }
        };
        std::string head("PGCOPY\n\377\r\n\0", 11);
        PutBig(head, 0, 4);
        PutBig(head, 0, 4);
        PutBig(head, used.size(), 2);
        for (std::size_t i : used) {
            if (stages[i]) {
                PutBig(head, stages[i]->Size(), 4);
                send(head.data(), head.size());
                head.clear();
                stages[i]->ForEachPiece([&](std::span<const std::uint8_t> piece, std::uint64_t) {
                    send(reinterpret_cast<const char*>(piece.data()), piece.size());
                });
                continue;
            }
            const Variant& v = *edits[i];
            std::string bytes;
            if (IsNull(v)) {
                PutBig(head, 0xffffffffULL, 4);
                continue;
            }
            switch (types[i]) {
            case pgtype::Int2: PutBig(bytes, static_cast<unsigned long long>(std::stoll(TextOf(v))), 2); break;
            case pgtype::Int4: PutBig(bytes, static_cast<unsigned long long>(std::stoll(TextOf(v))), 4); break;
            case pgtype::Int8: PutBig(bytes, static_cast<unsigned long long>(std::stoll(TextOf(v))), 8); break;
            case pgtype::Float8: {
                double d = std::stod(TextOf(v));
                unsigned long long bits;
                std::memcpy(&bits, &d, sizeof bits);
                PutBig(bytes, bits, 8);
                break;
            }
            case pgtype::Bool: bytes += static_cast<char>(TextOf(v) != "0"); break;
            default: bytes = TextOf(v); break;
            }
            PutBig(head, bytes.size(), 4);
            head += bytes;
        }
        PutBig(head, 0xffff, 2);
        send(head.data(), head.size());
        if (PQputCopyEnd(c, nullptr) != 1) throw PgError(c, nullptr, context, "INSERT");
        PgResult done(PQgetResult(c));
        const bool ok = done && PQresultStatus(done.get()) == PGRES_COMMAND_OK;
        while (PGresult* rest = PQgetResult(c)) PQclear(rest);
        if (!ok) throw PgError(c, done.get(), context, "INSERT");
        PgResult found = PgExec(c,
                                "SELECT ctid::text, xmin::text FROM " + quotedTable +
                                    " WHERE xmin = (txid_current() % 4294967296)::text::xid ORDER BY ctid DESC LIMIT 1",
                                {}, false, PGRES_TUPLES_OK, context, "SELECT");
        if (PQntuples(found.get()) != 1) throw Error(err::Engine, context + ": 추가한 행을 다시 찾을 수 없습니다.");
        const RowKey key = KeyFrom(PQgetvalue(found.get(), 0, 0), PQgetvalue(found.get(), 0, 1));
        if (ownTransaction) conn->Commit();
        return key;
    } catch (...) {
        if (ownTransaction) {
            try {
                conn->Rollback();
            } catch (...) {
                // The server undoes an unfinished transaction by itself.
            }
        }
        throw;
    }
}

}  // namespace

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

PgResult PgConnection::Read(const std::string& sql, const std::vector<PgParam>& params, bool binary,
                            const std::string& context) {
    return Retrying([&] { return PgExec(Conn(), sql, params, binary, PGRES_TUPLES_OK, context, "SELECT"); });
}

PgConnection::PgConnection(std::string name, const std::string& conninfo, bool readOnly) : readOnly_(readOnly) {
    path = std::move(name);
    // The link's own settings win over these defaults: they come after them.
    const char* keys[] = {"connect_timeout", "application_name", "dbname", "client_encoding", nullptr};
    const char* values[] = {"10", "kaldoria", conninfo.c_str(), "UTF8", nullptr};
    conn_.reset(PQconnectdbParams(keys, values, 1));
    server_ = ServerName(conn_.get());
    if (!conn_ || PQstatus(conn_.get()) != CONNECTION_OK) {
        std::string message = conn_ ? PQerrorMessage(conn_.get()) : "메모리가 모자랍니다";
        while (!message.empty() && message.back() == '\n') message.pop_back();
        throw Error(err::DiskOrNetwork, "데이터베이스 '" + path + "'이(가) 가리키는 서버 " + server_ +
                                            "에 연결할 수 없습니다: " + message);
    }
    Setup();
}

void PgConnection::Setup() {
    shapes_.clear();
    columns_.clear();
    const std::string sql = std::string("SET standard_conforming_strings = on; SET client_min_messages = warning") +
                            (readOnly_ ? "; SET default_transaction_read_only = on" : "");
    PgResult r(PQexec(conn_.get(), sql.c_str()));
    if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) throw PgError(conn_.get(), r.get(), "서버 " + server_ + " 연결 설정");
}

void PgConnection::CheckOpen() const {
    if (closed_ || !conn_) throw Error(err::ObjectClosed, "데이터베이스가 닫혀 있습니다: " + path);
}

PGconn* PgConnection::Conn() {
    if (beginPending_ || !queued_.empty()) Simple("SELECT 1", "트랜잭션 시작 (서버 " + server_ + ")");
    return Live();
}

PgResult PgConnection::Simple(const std::string& sql, const std::string& context, const std::string& right) {
    const bool opening = beginPending_;
    const std::string text = (opening ? "BEGIN; " : "") + queued_ + sql;
    for (int attempt = 0;; ++attempt) {
        PGconn* c = Live();
        PgResult r(PQexec(c, text.c_str()));
        const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            beginPending_ = false;
            queued_.clear();
            return r;
        }
        Error e = PgError(c, r.get(), context, right);
        // A connection that went while idle is made again once: the
        // transaction this opens had not begun, so nothing is lost.
        if (opening && attempt == 0 && e.Number() == err::DiskOrNetwork && PQstatus(c) != CONNECTION_OK) continue;
        beginPending_ = false;
        queued_.clear();
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
            throw Error(err::DiskOrNetwork, "서버 " + server_ + "에 다시 연결할 수 없습니다: " + message);
        }
        Setup();
    }
    return conn_.get();
}

void PgConnection::Execute(const std::string& sql) { Simple(sql, "SQL 문 [" + sql + "] 실행", FirstWord(sql)); }

std::shared_ptr<RecordsetImpl> PgConnection::Open(const std::string& source, int type) {
    return Retrying([&] {
        auto r = std::make_shared<PgRecordset>(std::static_pointer_cast<PgConnection>(shared_from_this()));
        r->type = type;
        if (type == dbOpenTable) r->OpenTable(source);
        else r->OpenSnapshot(source);
        return std::static_pointer_cast<RecordsetImpl>(r);
    });
}

// BEGIN travels with the transaction's first statement, saving a round trip.
void PgConnection::Begin() {
    if (InTransaction()) throw Error(err::Engine, "트랜잭션 시작 (서버 " + server_ + "): 이미 트랜잭션 중입니다.");
    beginPending_ = true;
}

void PgConnection::Commit() {
    if (beginPending_) {
        beginPending_ = false;  // nothing was done in it
        queued_.clear();
        return;
    }
    PgResult r = PgExec(Conn(), "COMMIT", {}, false, PGRES_COMMAND_OK, "트랜잭션 완료 (서버 " + server_ + ")");
    // A transaction that failed part way ends in a rollback, reported as a success.
    if (std::strcmp(PQcmdStatus(r.get()), "ROLLBACK") == 0)
        throw Error(err::Engine, "트랜잭션 완료 (서버 " + server_ + "): 앞선 오류로 트랜잭션이 취소되었습니다.");
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

void PgConnection::LockKey(const std::string& key) {
    char* literal = PQescapeLiteral(Live(), key.data(), key.size());
    if (!literal) throw PgError(conn_.get(), nullptr, "서버 " + server_ + "에서 잠금");
    const std::string sql = std::string("SELECT pg_advisory_xact_lock(hashtextextended(") + literal + ", 0))";
    PQfreemem(literal);
    // Inside a transaction the lock travels with the next statement, which
    // it comes before; nothing of the transaction runs without it.
    if (InTransaction()) queued_ += sql + "; ";
    else Simple(sql, "서버 " + server_ + "에서 잠금");
}

std::vector<std::string> PgConnection::CheckIntegrity() {
    // The server keeps its own pages sound; what is checked here is that it answers.
    Read("SELECT 1", {}, false, "서버 " + server_ + " 검사");
    return {"ok"};
}
