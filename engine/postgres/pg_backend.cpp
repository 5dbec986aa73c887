#include "engine/postgres/pg_backend.h"

#include <algorithm>

#include <cassert>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <utility>

#include "engine/postgres/libpq_files.h"
#include "engine/sql_words.h"
#include "os/byte_order.h"
#include "os/paths.h"
#include "text/korean.h"

namespace {

// A picture is read from the server a window at a time, so that reading it
// in 32000-byte chunks costs one round trip per window, not per chunk.
constexpr std::int64_t kReadWindow = 1 << 20;

// Keys travel as the text of tableoid, ctid "(block,offset)" and xmin.
RowKey KeyFrom(const char* table, const char* ctid, const char* xmin) {
    unsigned long long block = 0, offset = 0;
    if (!ctid || std::sscanf(ctid, "(%llu,%llu)", &block, &offset) != 2)
        throw Error(err::Engine, std::string("서버가 보낸 행 주소를 읽을 수 없습니다: ") + (ctid ? ctid : "(없음)"));
    return {static_cast<long long>((block << 16) | offset), static_cast<std::uint32_t>(std::strtoul(xmin, nullptr, 10)),
            static_cast<std::uint32_t>(std::strtoul(table, nullptr, 10))};
}

RowKey KeyAt(const PGresult* r, int row) { return KeyFrom(PQgetvalue(r, row, 0), PQgetvalue(r, row, 1), PQgetvalue(r, row, 2)); }

std::vector<PgParam> KeyParams(const RowKey& key) {
    const auto id = static_cast<unsigned long long>(key.id);
    return {{PgParam::Text, std::to_string(key.table)},
            {PgParam::Text, "(" + std::to_string(id >> 16) + "," + std::to_string(id & 0xffff) + ")"},
            {PgParam::Text, std::to_string(key.version)}};
}

// The order the server lists a table's rows in: by table, then by address
// (both compared as numbers, as the server compares oid and tid).
bool Before(const RowKey& a, const RowKey& b) { return std::tie(a.table, a.id) < std::tie(b.table, b.id); }

const char* const kKeyColumns = "tableoid, ctid, xmin";
const char* const kKeyMatch = " WHERE tableoid = $1::oid AND ctid = $2::tid AND xmin = $3::xid";

// The right a statement needs, as a refusal names it: its first word, but
// for a trigger the table's TRIGGER right (which its owner has).
std::string RightOf(const std::string& sql) {
    const auto words = Words(sql);
    for (const auto& w : words) {
        if (w.upper == "TRIGGER") return "TRIGGER(또는 표의 주인)";
        if (w.upper != "CREATE" && w.upper != "DROP" && w.upper != "OR" && w.upper != "REPLACE" &&
            w.upper != "CONSTRAINT")
            break;
    }
    return words.empty() ? std::string() : words[0].upper;
}

class PgRecordset : public RecordsetImpl {
public:
    std::shared_ptr<PgConnection> conn;
    std::vector<Oid> types;           // each field's type on the server
    std::vector<std::string> origin;  // each field's column in `table` (lazy reads)
    bool holdsRead = false;           // a snapshot sharing the connection's read transaction
    std::string quotedTable;
    // Table recordsets walk each table (the one named, then those that
    // inherit from it, by oid) a range of pages at a time: `keys` and `rows`
    // hold the rows of pages [batchFrom, batchTo) of tables[batchTable], in
    // address order, their pictures left on the server.
    std::vector<std::uint32_t> tables;
    std::vector<RowKey> keys;
    // The first kHeadBytes of each bytea value of the batch, row by row
    // (names.size() to a row), so that reading a picture's header, or all of
    // a small picture, costs no statement of its own.
    std::vector<Bytes> heads;
    std::size_t batchTable = 0;
    std::uint64_t batchFrom = 0, batchTo = 0;
    bool loaded = false;
    // A table row reached by bookmark rather than by moving, read on its own.
    std::optional<RowKey> loneKey;
    std::vector<Cell> loneRow;
    // The window of the value read last.
    int winField = -1;
    RowKey winKey;
    std::int64_t winStart = 0;
    Bytes window;

    explicit PgRecordset(std::shared_ptr<PgConnection> c) : conn(std::move(c)) {}
    ~PgRecordset() override {
        try {
            Release();
        } catch (...) {
            // Ending a read-only transaction loses nothing; the server ends it with the connection.
        }
    }
    const ConnectionImpl& Connection() const override { return *conn; }
    PGconn* pg() { return conn->Conn(); }

    // `oneMoment`: the walk reads in the connection's read transaction.
    void OpenTable(const std::string& source, bool oneMoment);
    void OpenSnapshot(const std::string& source);
    // Reads a snapshot's rows whole, a row at a time.
    void ReadWhole(const std::string& source, bool binary);
    // The select list that reads every field lazily: key, then each column
    // with bytea columns as their length.
    std::string LazyList() const;
    void ListTables();
    // Pages of table tables[t] as the server has them now.
    std::uint64_t PagesOf(std::size_t t);
    void LoadPages(std::size_t t, std::uint64_t from);
    // The first row after `after` (or the first of all) from table t, page `from` on.
    std::optional<RowKey> Scan(std::size_t t, std::uint64_t from, std::optional<RowKey> after);
    Cell CellOf(const PGresult* r, int row, int col, std::size_t field, const RowKey& key) const;

    Cell TableCell(int i) override;
    std::optional<RowKey> NextRow(std::optional<RowKey> after) override;
    long TableCount() override;
    bool RowExists(const RowKey& key) override;
    Bytes ReadLazy(int field, const LazyBlob& blob, std::int64_t from, std::int64_t n) override;
    // The batch's head of that value when it covers [from, from + n).
    const Bytes* HeadCovering(int field, const RowKey& key, std::int64_t from, std::int64_t n) const;
    RowKey Insert() override;

protected:
    void Release() override {
        if (std::exchange(holdsRead, false)) conn->LeaveRead();
    }

private:
    RowKey InsertRow(const std::vector<std::size_t>& used, const std::string& context);
    void StageByCopy(const std::vector<std::size_t>& staged, const std::string& context);
};

std::string PgRecordset::LazyList() const {
    std::string list = kKeyColumns;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string c = QuoteId(origin[i]);
        list += ", " + (types[i] == pgtype::Bytea ? "octet_length(" + c + ")" : c);
    }
    return list;
}

Cell PgRecordset::CellOf(const PGresult* r, int row, int col, std::size_t field, const RowKey& key) const {
    Cell cell;
    if (types[field] == pgtype::Bytea) {
        if (!PQgetisnull(r, row, col))
            cell.value = LazyBlob{key.id, std::strtoll(PQgetvalue(r, row, col), nullptr, 10), key.version, key.table};
    } else {
        cell.Set(PgTextValue(r, row, col, types[field]));
    }
    return cell;
}

void PgRecordset::OpenTable(const std::string& source, bool oneMoment) {
    const TableShape shape = conn->ShapeOf(source);
    if (shape == TableShape::View) {
        type = dbOpenSnapshot;
        readOnlyReason = WithParticle("'" + source + "'", Particle::EunNeun) + " 서버에서 보통 표가 아니라서 행을 추가할 수 없습니다.";
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
    if (oneMoment) holdsRead = conn->EnterRead();
}

// The pages one statement of a walk reads: about eight thousand rows of
// pictures stored out of line, far fewer of small pictures kept in the row.
constexpr std::uint64_t kPagesPerRead = 64;
// Enough for a bitmap's file and info headers.
constexpr std::int64_t kHeadBytes = 256;

// A bytea value sent as encode(…, 'hex'), whatever the server's bytea_output.
Bytes FromHex(const char* hex, std::size_t length) {
    auto nibble = [](char c) { return static_cast<std::uint8_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10); };
    assert(length % 2 == 0);
    Bytes bytes(length / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
    return bytes;
}

std::string Tid(std::uint64_t block) { return "(" + std::to_string(std::min<std::uint64_t>(block, 0xffffffffULL)) + ",0)"; }

void PgRecordset::ListTables() {
    PgResult r = conn->Read("WITH RECURSIVE t(oid) AS (SELECT to_regclass($1)::oid UNION "
                            "SELECT i.inhrelid FROM pg_inherits i JOIN t ON i.inhparent = t.oid) "
                            "SELECT oid::text FROM t WHERE oid IS NOT NULL ORDER BY oid",
                            {{PgParam::Text, quotedTable}}, false, "서버의 표 " + table + " 읽기");
    tables.clear();
    for (int i = 0; i < PQntuples(r.get()); ++i)
        tables.push_back(static_cast<std::uint32_t>(std::strtoul(PQgetvalue(r.get(), i, 0), nullptr, 10)));
}

std::uint64_t PgRecordset::PagesOf(std::size_t t) {
    PgResult r = conn->Read("SELECT (pg_relation_size($1::oid) / current_setting('block_size')::int8)::text",
                            {{PgParam::Text, std::to_string(tables[t])}}, false, "서버의 표 " + table + " 읽기");
    return std::strtoull(PQgetvalue(r.get(), 0, 0), nullptr, 10);
}

// The rows of a range of pages, by one statement that the server reads as a
// range of addresses (no scan of the rest of the table), prepared once.
void PgRecordset::LoadPages(std::size_t t, std::uint64_t from) {
    rows.clear();
    keys.clear();
    heads.clear();
    loaded = false;
    std::string list = LazyList();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (types[i] == pgtype::Bytea)
            list += ", encode(substring(" + QuoteId(origin[i]) + " FROM 1 FOR " + std::to_string(kHeadBytes) + "), 'hex')";
    PgResult r = conn->Read("SELECT " + list + " FROM " + quotedTable +
                                " WHERE tableoid = $1::oid AND ctid >= $2::tid AND ctid < $3::tid ORDER BY ctid",
                            {{PgParam::Text, std::to_string(tables[t])},
                             {PgParam::Text, Tid(from)},
                             {PgParam::Text, Tid(from + kPagesPerRead)}},
                            false, "서버의 표 " + table + " 읽기");
    const int n = PQntuples(r.get());
    keys.reserve(static_cast<std::size_t>(n));
    for (int row = 0; row < n; ++row) {
        const RowKey key = KeyAt(r.get(), row);
        // A key out of order would make the walk skip rows: refuse it rather than list fewer.
        if (!keys.empty() && !Before(keys.back(), key))
            throw Error(err::Engine, "서버의 표 " + table + "의 행이 주소 순서로 오지 않았습니다. 목록을 믿을 수 없어 멈춥니다.");
        keys.push_back(key);
        Cell* cells = rows.Add();
        for (std::size_t i = 0; i < names.size(); ++i) cells[i] = CellOf(r.get(), row, static_cast<int>(i) + 3, i, key);
        int col = static_cast<int>(names.size()) + 3;
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (types[i] != pgtype::Bytea || PQgetisnull(r.get(), row, col)) {
                heads.emplace_back();
            } else {
                heads.push_back(FromHex(PQgetvalue(r.get(), row, col), static_cast<std::size_t>(PQgetlength(r.get(), row, col))));
            }
            if (types[i] == pgtype::Bytea) ++col;
        }
    }
    batchTable = t;
    batchFrom = from;
    batchTo = from + kPagesPerRead;
    loaded = true;
}

std::optional<RowKey> PgRecordset::Scan(std::size_t t, std::uint64_t from, std::optional<RowKey> after) {
    for (; t < tables.size(); ++t, from = 0) {
        // The size is asked again at the end, so rows added meanwhile are walked too.
        for (std::uint64_t pages = PagesOf(t); from < pages || from < (pages = PagesOf(t)); from += kPagesPerRead) {
            LoadPages(t, from);
            auto at = after ? std::upper_bound(keys.begin(), keys.end(), *after, Before) : keys.begin();
            if (at != keys.end()) return *at;
        }
    }
    return std::nullopt;
}

// A plain read of one table is listed with each row's key and its pictures'
// lengths only, the pictures read later by key in pieces; the listing and
// those reads happen in one read-only REPEATABLE READ transaction that lasts
// while such a snapshot is open (or in the caller's own transaction), so the
// snapshot reads the book as of one moment whatever other PCs save. Anything
// else is read whole by its one statement, a row at a time, its long values
// kept in the spill file.
void PgRecordset::OpenSnapshot(const std::string& source) {
    PGconn* c = conn->ReadConn();
    PgResult prepared(PQprepare(c, "", source.c_str(), 0, nullptr));
    if (!prepared || PQresultStatus(prepared.get()) != PGRES_COMMAND_OK)
        throw PgError(c, prepared.get(), "SQL 문 [" + source + "]", "SELECT", source);
    PgResult described(PQdescribePrepared(c, ""));
    if (!described || PQresultStatus(described.get()) != PGRES_COMMAND_OK)
        throw PgError(c, described.get(), "SQL 문 [" + source + "]", "SELECT", source);
    const int n = PQnfields(described.get());
    bool binary = true;
    for (int i = 0; i < n; ++i) {
        names.emplace_back(PQfname(described.get(), i));
        types.push_back(PQftype(described.get(), i));
        binary = binary && PgReadsBinary(types.back());
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
        ReadWhole(source, binary);
        return;
    }
    holdsRead = conn->EnterRead();
    PgResult r = PgExec(c, "SELECT " + LazyList() + " " + source.substr(plain->from), {}, false, PGRES_TUPLES_OK,
                        "SQL 문 [" + source + "] 읽기", "SELECT");
    for (int row = 0; row < PQntuples(r.get()); ++row) {
        const RowKey key = KeyAt(r.get(), row);
        Cell* cells = rows.Add();
        for (std::size_t i = 0; i < names.size(); ++i) cells[i] = CellOf(r.get(), row, static_cast<int>(i) + 3, i, key);
    }
}

void PgRecordset::ReadWhole(const std::string& source, bool binary) {
    PGconn* c = conn->ReadConn();
    const std::string context = "SQL 문 [" + source + "] 읽기";
    if (!PQsendQueryPrepared(c, "", 0, nullptr, nullptr, nullptr, binary ? 1 : 0) || !PQsetSingleRowMode(c))
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
                const auto size = static_cast<std::size_t>(PQgetlength(raw, 0, col));
                if (binary && types[i] == pgtype::Bytea && !PQgetisnull(raw, 0, col) && size > ChunkStage::kInlineLimit) {
                    Spill(cells[i], {reinterpret_cast<const std::uint8_t*>(PQgetvalue(raw, 0, col)), size});
                    continue;
                }
                Variant v = binary ? PgBinaryValue(raw, 0, col, types[i]) : PgTextValue(raw, 0, col, types[i]);
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
    if (loaded) {
        auto at = std::lower_bound(keys.begin(), keys.end(), *current, Before);
        if (at != keys.end() && *at == *current)
            return rows[static_cast<std::size_t>(at - keys.begin())][static_cast<std::size_t>(i)];
    }
    PgResult r = conn->Read("SELECT " + LazyList() + " FROM " + quotedTable + kKeyMatch, KeyParams(*current), false,
                            "서버의 표 " + table + " 읽기");
    if (PQntuples(r.get()) != 1) throw Error(err::RecordDeleted, "현재 레코드가 삭제되었습니다 (테이블 " + table + ").");
    loneKey = *current;
    loneRow.clear();
    for (std::size_t f = 0; f < names.size(); ++f) loneRow.push_back(CellOf(r.get(), 0, static_cast<int>(f) + 3, f, *current));
    return loneRow[static_cast<std::size_t>(i)];
}

// The walk reads the table live, as a file's does: each range of pages is
// read when the walk reaches it, and moving to the first row starts over.
std::optional<RowKey> PgRecordset::NextRow(std::optional<RowKey> after) {
    if (!after || tables.empty()) ListTables();
    if (!after) return Scan(0, 0, std::nullopt);
    const auto t = static_cast<std::size_t>(
        std::lower_bound(tables.begin(), tables.end(), after->table) - tables.begin());
    const std::uint64_t page = static_cast<std::uint64_t>(after->id) >> 16;
    if (loaded && t < tables.size() && batchTable == t && tables[t] == after->table && page >= batchFrom && page < batchTo) {
        auto at = std::upper_bound(keys.begin(), keys.end(), *after, Before);
        if (at != keys.end()) return *at;
        return Scan(t, batchTo, std::nullopt);
    }
    // A row reached by bookmark: its own table and page, or the next table.
    if (t < tables.size() && tables[t] == after->table) return Scan(t, page - page % kPagesPerRead, after);
    return Scan(t, 0, std::nullopt);
}

long PgRecordset::TableCount() {
    PgResult r = conn->Read("SELECT count(*) FROM " + quotedTable, {}, false, "서버의 표 " + table + " 세기");
    return std::strtol(PQgetvalue(r.get(), 0, 0), nullptr, 10);
}

bool PgRecordset::RowExists(const RowKey& key) {
    PgResult r = conn->Read("SELECT 1 FROM " + quotedTable + kKeyMatch, KeyParams(key), false, "서버의 표 " + table + " 이동");
    return PQntuples(r.get()) == 1;
}

const Bytes* PgRecordset::HeadCovering(int field, const RowKey& key, std::int64_t from, std::int64_t n) const {
    if (!loaded || from + n > kHeadBytes) return nullptr;
    auto at = std::lower_bound(keys.begin(), keys.end(), key, Before);
    if (at == keys.end() || !(*at == key)) return nullptr;
    // A row address with its xmin names one version of a row, so the head
    // read with the batch is that value's head whenever it is read.
    const Bytes& head = heads[static_cast<std::size_t>(at - keys.begin()) * names.size() + static_cast<std::size_t>(field)];
    return from + n <= static_cast<std::int64_t>(head.size()) ? &head : nullptr;
}

Bytes PgRecordset::ReadLazy(int field, const LazyBlob& blob, std::int64_t from, std::int64_t n) {
    const RowKey key{blob.rowid, blob.version, blob.table};
    if (const Bytes* head = HeadCovering(field, key, from, n))
        return Bytes(head->begin() + static_cast<std::ptrdiff_t>(from), head->begin() + static_cast<std::ptrdiff_t>(from + n));
    const bool inWindow = winField == field && winKey == key && from >= winStart &&
                          from + n <= winStart + static_cast<std::int64_t>(window.size());
    if (!inWindow) {
        const std::string column = origin[static_cast<std::size_t>(field)];
        const std::int64_t want = std::min(std::max(n, kReadWindow), blob.size - from);
        std::vector<PgParam> params = KeyParams(key);
        params.push_back({PgParam::Text, std::to_string(from + 1)});
        params.push_back({PgParam::Text, std::to_string(want)});
        PgResult r = conn->Read("SELECT substring(" + QuoteId(column) + " FROM $4::int FOR $5::int) FROM " + quotedTable +
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
    const std::string context = "서버의 표 " + table + "에 행 추가";
    std::vector<std::size_t> used, staged;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!edits[i] && !stages[i]) continue;
        used.push_back(i);
        if (!stages[i]) continue;
        if (stages[i]->Size() > kServerValueLimit)
            throw Error(err::ValueTooLarge, "열 " + table + "." + names[i] + "의 값(" + std::to_string(stages[i]->Size()) +
                                                " 바이트)이 너무 큽니다. 서버는 한 값을 1 GiB 미만까지만 저장합니다.");
        if (!stages[i]->InMemory()) staged.push_back(i);
    }
    loaded = false;
    loneKey.reset();
    if (staged.empty()) return InsertRow(used, context);
    // The staged values and the row go in together or not at all.
    const bool ownTransaction = !conn->InTransaction();
    if (ownTransaction) conn->Begin();
    try {
        StageByCopy(staged, context);
        const RowKey key = InsertRow(used, context);
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

// One INSERT with RETURNING, so the new row's key comes back with it. A
// value held in memory travels as a binary parameter, one staged beyond
// memory is taken from the session's staging table (StageByCopy), and every
// other value travels as text for the server to read as its column's type.
RowKey PgRecordset::InsertRow(const std::vector<std::size_t>& used, const std::string& context) {
    std::string cols, values;
    std::vector<PgParam> params;
    for (std::size_t i : used) {
        cols += (cols.empty() ? "" : ", ") + QuoteId(names[i]);
        values += values.empty() ? "" : ", ";
        if (stages[i] && !stages[i]->InMemory()) {
            values += "(SELECT v FROM pg_temp.kaldoria_stage WHERE f = " + std::to_string(i) + ")";
            continue;
        }
        params.push_back(stages[i] ? PgParam{PgParam::Binary, std::string(stages[i]->Memory().begin(),
                                                                           stages[i]->Memory().end())}
                                   : PgParam::Of(*edits[i]));
        values += "$" + std::to_string(params.size());
    }
    const std::string sql = "INSERT INTO " + quotedTable + (used.empty() ? " DEFAULT VALUES" : " (" + cols + ") VALUES (" + values + ")") +
                            " RETURNING " + kKeyColumns;
    PgResult r = PgExec(pg(), sql, params, false, PGRES_TUPLES_OK, context, "INSERT");
    // A trigger may keep the row out (a BEFORE INSERT trigger returning NULL).
    if (PQntuples(r.get()) != 1)
        throw Error(err::Engine, context + ": 서버가 행을 저장하지 않았습니다 (표의 트리거나 규칙이 막았습니다). 아무것도 "
                                           "저장하지 않았습니다; 서버 관리자에게 pic_list의 트리거를 확인해 달라고 하십시오.");
    return KeyAt(r.get(), 0);
}

// Sends each staged value, piece by piece, into a temporary table of this
// session with one binary COPY (its two columns are int4 and bytea, whose
// binary forms are simple), so no value is ever held whole in memory.
void PgRecordset::StageByCopy(const std::vector<std::size_t>& staged, const std::string& context) {
    PGconn* c = pg();
    PgResult made(PQexec(c, "CREATE TEMP TABLE IF NOT EXISTS kaldoria_stage (f int4, v bytea); "
                            "ALTER TABLE pg_temp.kaldoria_stage ALTER v SET STORAGE EXTERNAL; "
                            "DELETE FROM pg_temp.kaldoria_stage"));
    if (!made || PQresultStatus(made.get()) != PGRES_COMMAND_OK) throw PgError(c, made.get(), context, "INSERT");
    PgResult start(PQexec(c, "COPY pg_temp.kaldoria_stage (f, v) FROM STDIN (FORMAT binary)"));
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
    AppendBig(head, std::uint32_t{0});  // flags
    AppendBig(head, std::uint32_t{0});  // header extension
    for (std::size_t i : staged) {
        AppendBig(head, std::uint16_t{2});  // fields in the tuple
        AppendBig(head, std::uint32_t{4});
        AppendBig(head, static_cast<std::uint32_t>(i));
        AppendBig(head, static_cast<std::uint32_t>(stages[i]->Size()));
        send(head.data(), head.size());
        head.clear();
        stages[i]->ForEachPiece([&](std::span<const std::uint8_t> piece, std::uint64_t) {
            send(reinterpret_cast<const char*>(piece.data()), piece.size());
        });
    }
    AppendBig(head, std::uint16_t{0xffff});  // the trailer
    send(head.data(), head.size());
    if (PQputCopyEnd(c, nullptr) != 1) throw PgError(c, nullptr, context, "INSERT");
    PgResult done(PQgetResult(c));
    const bool ok = done && PQresultStatus(done.get()) == PGRES_COMMAND_OK;
    while (PGresult* rest = PQgetResult(c)) PQclear(rest);
    if (!ok) throw PgError(c, done.get(), context, "INSERT");
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

namespace {

// The setting `key` of a connection string, or empty.
std::string ConninfoValue(const std::string& conninfo, const char* key) {
    const PgConninfo options(PQconninfoParse(conninfo.c_str(), nullptr));
    std::string value;
    for (const PQconninfoOption* o = options.get(); o && o->keyword; ++o)
        if (std::strcmp(o->keyword, key) == 0 && o->val) value = o->val;
    return value;
}

// What to do about a connection that libpq could not make, in a sentence.
std::string WhatToDo(const std::string& libpq) {
    auto has = [&](const char* part) { return libpq.find(part) != std::string::npos; };
    const LibpqUserFiles files = UserLibpqFiles();
    // The certificate checks first: libpq's words for them contain "does
    // not exist" and "SSL", which the later sentences would take.
    if (has("root certificate file") && has("does not exist"))
        return "서버 인증서를 확인할 루트 인증서가 이 PC에 없습니다. 관리자가 준 서버의 루트 인증서를 " +
               files.rootCertificate + "에 두십시오.";
    if (has("does not match host name"))
        return "서버 인증서에 적힌 이름이 연결한 서버 이름(host)과 다릅니다. 연결 파일이나 서비스 파일의 host를 서버 "
               "인증서에 적힌 이름으로 고치십시오.";
    if (has("certificate verify failed"))
        return "서버 인증서를 이 PC의 루트 인증서(" + files.rootCertificate + ")로 확인할 수 없습니다. 관리자가 준 "
               "그 서버의 루트 인증서가 맞는지 확인하십시오.";
    if (has("definition of service") || has("service file")) {
        if (std::string problem = HandSavedFileProblem(files.serviceFile, "연결 서비스 파일"); !problem.empty())
            return problem;
        return "연결 서비스의 정의를 찾을 수 없습니다. 관리자가 준 서비스 파일을 " + files.serviceFile + "에 두거나 "
               "PGSERVICEFILE 환경 변수로 알려 주십시오.";
    }
    if (has("no password supplied")) {
        const std::string ignored = IgnoredPasswordFile();
        if (!ignored.empty())
            return "암호 파일 " + WithParticle(ignored, Particle::EulReul) + " 다른 사용자도 읽을 수 있어 쓰지 않았습니다. 'chmod 600 " + ignored +
                   "'으로 권한을 줄인 뒤 다시 하십시오.";
        const std::string& file = files.passwordFile;
        if (std::string problem = HandSavedFileProblem(file, "암호 파일"); !problem.empty()) return problem;
        return "서버가 암호를 요구하는데 이 사용자의 " + file + "에 이 서버의 줄이 없습니다. "
               "'호스트:포트:데이터베이스:사용자:암호' 한 줄을 넣" +
               (files.passwordFileMustBePrivate ? "고 'chmod 600 " + file + "' 하십시오." : std::string("으십시오."));
    }
    if (has("password authentication failed"))
        return "서버가 암호를 받아들이지 않았습니다. " + files.passwordFile + "에 있는 이 서버의 암호를 관리자에게 "
               "확인하십시오.";
    if (has("no pg_hba.conf entry"))
        return "서버가 이 PC에서의 접속을 허용하지 않습니다. 관리자가 서버의 pg_hba.conf에 이 PC의 네트워크를 넣어야 합니다.";
    if (has("Peer authentication failed") || has("Ident authentication failed"))
        return "서버가 이 사용자를 운영 체제 계정으로 확인하지 못했습니다 (peer 인증). 연결 파일의 user를 확인하거나, "
               "관리자에게 암호(scram-sha-256) 인증을 켜 달라고 하십시오.";
    // A server starting, stopping or recovering takes no connection for a
    // minute or so: nothing for the administrator to do.
    if (has("starting up") || has("shutting down") || has("in recovery mode") || has("not yet accepting connections"))
        return "서버가 다시 시작하는 중이라 지금은 연결을 받지 않습니다. 1분쯤 뒤 다시 하십시오.";
    if (has("does not exist"))
        return "연결 파일의 데이터베이스(dbname)나 사용자(user)가 서버에 없습니다. 관리자에게 이름을 확인하십시오.";
    if (has("could not translate host name"))
        return "서버의 이름을 찾을 수 없습니다. 연결 파일의 host와 이 PC의 네트워크를 확인하십시오.";
    if (has("timeout expired") || has("timed out"))
        return "서버가 제때 응답하지 않습니다. 네트워크와 방화벽을 확인하고 잠시 뒤 다시 하십시오.";
    if (has("Connection refused") || has("No such file or directory") || has("could not connect"))
        return "서버가 꺼져 있거나 주소나 포트가 틀렸습니다. 서버가 켜져 있는지 관리자에게 확인하십시오.";
    if (has("SSL") || has("certificate"))
        return "서버와의 암호화된 연결(TLS)을 확인하지 못했습니다. 관리자에게 서버 인증서를 확인하십시오.";
    return "관리자에게 서버와 연결 파일을 확인해 달라고 하십시오.";
}

}  // namespace

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
    if (beginPending_ || !queued_.empty()) Simple("SELECT 1", "트랜잭션 시작 (서버 " + server_ + ")");
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
PgResult RunTogether(PGconn* c, const std::vector<std::string>& statements) {
    if (statements.size() == 1)
        return PgResult(PQexecParams(c, statements[0].c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0));
    if (PQenterPipelineMode(c) != 1) return nullptr;
    for (const auto& s : statements)
        if (PQsendQueryParams(c, s.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) != 1) break;
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
        if (failed || status == PGRES_PIPELINE_ABORTED) continue;
        failed = status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK;
        kept = std::move(r);
    }
    if (PQstatus(c) == CONNECTION_OK) PQexitPipelineMode(c);
    return kept;
}

}  // namespace

PgResult PgConnection::Simple(const std::string& sql, const std::string& context, const std::string& right) {
    EndRead();
    const bool opening = beginPending_;
    const bool ownCommit = !opening && PQstatus(conn_.get()) == CONNECTION_OK &&
                           PQtransactionStatus(conn_.get()) == PQTRANS_IDLE;
    std::vector<std::string> statements;
    if (opening) statements.emplace_back("BEGIN");
    statements.insert(statements.end(), queued_.begin(), queued_.end());
    statements.push_back(sql);
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

void PgConnection::Execute(const std::string& sql) { Simple(sql, "SQL 문 [" + sql + "] 실행", RightOf(sql)); }

std::shared_ptr<RecordsetImpl> PgConnection::Open(const std::string& source, int type, int options) {
    return Retrying([&] {
        auto r = std::make_shared<PgRecordset>(std::static_pointer_cast<PgConnection>(shared_from_this()));
        r->type = type;
        if (type == dbOpenTable) r->OpenTable(source, (options & dbReadOnly) != 0);
        else r->OpenSnapshot(source);
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
    const PgMemory<char> literal(PQescapeLiteral(Live(), key.data(), key.size()));
    if (!literal) throw PgError(conn_.get(), nullptr, "서버 " + server_ + "에서 잠금");
    const std::string sql = std::string("SELECT pg_advisory_xact_lock(hashtextextended(") + literal.get() + ", 0))";
    // Inside a transaction the lock travels with the next statement, which
    // it comes before; nothing of the transaction runs without it.
    if (InTransaction()) queued_.push_back(sql);
    else Simple(sql, "서버 " + server_ + "에서 잠금");
}

std::vector<std::string> PgConnection::CheckIntegrity() {
    // The server keeps its own pages sound; what is checked here is that it answers.
    Read("SELECT 1", {}, false, "서버 " + server_ + " 검사");
    return {"ok"};
}
