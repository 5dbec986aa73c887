// The PostgreSQL kind's reading: a table walked a range of pages at a time,
// a snapshot read whole or lazily, a picture read a window at a time.
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

namespace pgkind {

RowKey KeyFrom(const char* table, const char* ctid, const char* xmin) {
    // "(block,offset)", read by hand: once a row, sscanf's cost showed.
    char* end = nullptr;
    unsigned long long block = 0, offset = 0;
    bool read = ctid && ctid[0] == '(';
    if (read) block = std::strtoull(ctid + 1, &end, 10);
    read = read && end != ctid + 1 && *end == ',';
    const char* second = read ? end + 1 : nullptr;
    if (read) offset = std::strtoull(second, &end, 10);
    read = read && end != second && *end == ')' && end[1] == '\0';
    if (!read) throw Error(err::Engine, std::string("서버가 보낸 행 주소를 읽을 수 없습니다: ") + (ctid ? ctid : "(없음)"));
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

bool Before(const RowKey& a, const RowKey& b) { return std::tie(a.table, a.id) < std::tie(b.table, b.id); }

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

std::string PgRecordset::LazyList() const {
    std::string list = kKeyColumns;
    for (std::size_t i = 0; i < Names().size(); ++i) {
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
        RefuseAdding(WithParticle("'" + source + "'", Particle::EunNeun) + " 서버에서 보통 표가 아니라서 행을 추가할 수 없습니다.");
        OpenSnapshot("SELECT * FROM " + QuoteId(source));
        return;
    }
    OpenAs(dbOpenTable);
    SetTable(source);
    quotedTable = QuoteId(source);
    const auto& columns = conn->ColumnsOf(source);
    for (const std::string& name : columns.names) AddField(name);
    types = columns.types;
    origin = columns.names;
    batchRows.SetWidth(columns.names.size());
    StartWalk(true);
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
                            {{PgParam::Text, quotedTable}}, false, "서버의 표 " + Table() + " 읽기");
    tables.clear();
    for (int i = 0; i < PQntuples(r.get()); ++i)
        tables.push_back(static_cast<std::uint32_t>(std::strtoul(PQgetvalue(r.get(), i, 0), nullptr, 10)));
}

std::uint64_t PgRecordset::PagesOf(std::size_t t) {
    PgResult r = conn->Read("SELECT (pg_relation_size($1::oid) / current_setting('block_size')::int8)::text",
                            {{PgParam::Text, std::to_string(tables[t])}}, false, "서버의 표 " + Table() + " 읽기");
    return std::strtoull(PQgetvalue(r.get(), 0, 0), nullptr, 10);
}

// The rows of a range of pages, by one statement that the server reads as a
// range of addresses (no scan of the rest of the table), prepared once.
void PgRecordset::LoadPages(std::size_t t, std::uint64_t from) {
    batchRows.clear();
    keys.clear();
    heads.clear();
    loaded = false;
    std::string list = LazyList();
    for (std::size_t i = 0; i < Names().size(); ++i)
        if (types[i] == pgtype::Bytea)
            list += ", encode(substring(" + QuoteId(origin[i]) + " FROM 1 FOR " + std::to_string(kHeadBytes) + "), 'hex')";
    PgResult r = conn->Read("SELECT " + list + " FROM " + quotedTable +
                                " WHERE tableoid = $1::oid AND ctid >= $2::tid AND ctid < $3::tid ORDER BY ctid",
                            {{PgParam::Text, std::to_string(tables[t])},
                             {PgParam::Text, Tid(from)},
                             {PgParam::Text, Tid(from + kPagesPerRead)}},
                            false, "서버의 표 " + Table() + " 읽기");
    const int n = PQntuples(r.get());
    keys.reserve(static_cast<std::size_t>(n));
    for (int row = 0; row < n; ++row) {
        const RowKey key = KeyAt(r.get(), row);
        // A key out of order would make the walk skip rows: refuse it rather than list fewer.
        if (!keys.empty() && !Before(keys.back(), key))
            throw Error(err::Engine, "서버의 표 " + Table() + "의 행이 주소 순서로 오지 않았습니다. 목록을 믿을 수 없어 멈춥니다.");
        keys.push_back(key);
        Cell* cells = batchRows.Add();
        for (std::size_t i = 0; i < Names().size(); ++i) cells[i] = CellOf(r.get(), row, static_cast<int>(i) + 3, i, key);
        int col = static_cast<int>(Names().size()) + 3;
        for (std::size_t i = 0; i < Names().size(); ++i) {
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

std::optional<std::size_t> PgRecordset::BatchIndex(const RowKey& key) const {
    if (!loaded) return std::nullopt;
    // The walk asks for the row it stands on, or the next, many times over.
    for (const std::size_t at : {batchHint, batchHint + 1})
        if (at < keys.size() && keys[at] == key) return batchHint = at;
    const auto found = std::lower_bound(keys.begin(), keys.end(), key, Before);
    if (found == keys.end() || !(*found == key)) return std::nullopt;
    return batchHint = static_cast<std::size_t>(found - keys.begin());
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
void PgRecordset::OpenSnapshot(const std::string& source, const std::vector<PgParam>& params) {
    OpenAs(dbOpenSnapshot);
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
        AddField(PQfname(described.get(), i));
        types.push_back(PQftype(described.get(), i));
        binary = binary && PgReadsBinary(types.back());
    }

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
            SetTable(plain->table);
            quotedTable = qualified;
        }
    }
    if (!lazy) {
        origin.clear();
        ReadWhole(source, params, binary);
        return;
    }
    holdsRead = conn->EnterRead();
    PgResult r = PgExec(c, "SELECT " + LazyList() + " " + source.substr(plain->from), params, false, PGRES_TUPLES_OK,
                        "SQL 문 [" + source + "] 읽기", "SELECT");
    for (int row = 0; row < PQntuples(r.get()); ++row) {
        const RowKey key = KeyAt(r.get(), row);
        Cell* cells = AddSnapshotRow();
        for (std::size_t i = 0; i < Names().size(); ++i) cells[i] = CellOf(r.get(), row, static_cast<int>(i) + 3, i, key);
    }
}

void PgRecordset::ReadWhole(const std::string& source, const std::vector<PgParam>& params, bool binary) {
    PGconn* c = conn->ReadConn();
    const std::string context = "SQL 문 [" + source + "] 읽기";
    const PgParamArrays a(params);
    if (!PQsendQueryPrepared(c, "", a.Count(), a.values.data(), a.lengths.data(), a.formats.data(), binary ? 1 : 0) ||
        !PQsetSingleRowMode(c))
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
            Cell* cells = AddSnapshotRow();
            for (std::size_t i = 0; i < Names().size(); ++i) {
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
    if (loneKey && *loneKey == CurrentKey()) return loneRow[static_cast<std::size_t>(i)];
    if (const auto at = BatchIndex(CurrentKey())) return batchRows[*at][static_cast<std::size_t>(i)];
    PgResult r = conn->Read("SELECT " + LazyList() + " FROM " + quotedTable + kKeyMatch, KeyParams(CurrentKey()), false,
                            "서버의 표 " + Table() + " 읽기");
    if (PQntuples(r.get()) != 1) throw Error(err::RecordDeleted, "현재 레코드가 삭제되었습니다 (테이블 " + Table() + ").");
    loneKey = CurrentKey();
    loneRow.clear();
    for (std::size_t f = 0; f < Names().size(); ++f) loneRow.push_back(CellOf(r.get(), 0, static_cast<int>(f) + 3, f, CurrentKey()));
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
        const auto at = BatchIndex(*after);
        const std::size_t next =
            at ? *at + 1 : static_cast<std::size_t>(std::upper_bound(keys.begin(), keys.end(), *after, Before) - keys.begin());
        if (next < keys.size()) return keys[next];
        return Scan(t, batchTo, std::nullopt);
    }
    // A row reached by bookmark: its own table and page, or the next table.
    if (t < tables.size() && tables[t] == after->table) return Scan(t, page - page % kPagesPerRead, after);
    return Scan(t, 0, std::nullopt);
}

long PgRecordset::TableCount() {
    PgResult r = conn->Read("SELECT count(*) FROM " + quotedTable, {}, false, "서버의 표 " + Table() + " 세기");
    return std::strtol(PQgetvalue(r.get(), 0, 0), nullptr, 10);
}

bool PgRecordset::RowExists(const RowKey& key) {
    PgResult r = conn->Read("SELECT 1 FROM " + quotedTable + kKeyMatch, KeyParams(key), false, "서버의 표 " + Table() + " 이동");
    return PQntuples(r.get()) == 1;
}

const Bytes* PgRecordset::HeadCovering(int field, const RowKey& key, std::int64_t from, std::int64_t n) const {
    if (from + n > kHeadBytes) return nullptr;
    const auto at = BatchIndex(key);
    if (!at) return nullptr;
    // A row address with its xmin names one version of a row, so the head
    // read with the batch is that value's head whenever it is read.
    const Bytes& head = heads[*at * Names().size() + static_cast<std::size_t>(field)];
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
                                params, true, "서버의 열 " + Table() + "." + column + " 읽기");
        if (PQntuples(r.get()) != 1 || PQgetisnull(r.get(), 0, 0) || PQgetlength(r.get(), 0, 0) != want)
            throw Error(err::RecordDeleted, "레코드를 읽는 동안 값이 바뀌었거나 삭제되었습니다 (열 " + Table() + "." + column + ").");
        const auto* p = reinterpret_cast<const std::uint8_t*>(PQgetvalue(r.get(), 0, 0));
        window.assign(p, p + want);
        winField = field;
        winKey = key;
        winStart = from;
    }
    const auto begin = window.begin() + static_cast<std::ptrdiff_t>(from - winStart);
    return Bytes(begin, begin + static_cast<std::ptrdiff_t>(n));
}

}  // namespace pgkind
