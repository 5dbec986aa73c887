// The PostgreSQL kind's writing: a new row's values by parameters, a large
// value by binary COPY into a temporary table first.
#include "engine/postgres/pg_recordset.h"

#include <algorithm>

#include <cassert>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <utility>

#include "engine/sql_words.h"
#include "os/byte_order.h"

namespace pgkind {

RowKey PgRecordset::Insert() {
    const std::string context = "서버의 표 " + Table() + "에 행 추가";
    std::vector<std::size_t> used, staged;
    for (std::size_t i = 0; i < Names().size(); ++i) {
        if (!Edit(i) && !Stage(i)) continue;
        used.push_back(i);
        if (!Stage(i)) continue;
        if (Stage(i)->Size() > kServerValueLimit)
            throw Error(err::ValueTooLarge, "열 " + Table() + "." + Names()[i] + "의 값(" + std::to_string(Stage(i)->Size()) +
                                                " 바이트)이 너무 큽니다. 서버는 한 값을 1 GiB 미만까지만 저장합니다.");
        if (!Stage(i)->InMemory()) staged.push_back(i);
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
        cols += (cols.empty() ? "" : ", ") + QuoteId(Names()[i]);
        values += values.empty() ? "" : ", ";
        if (Stage(i) && !Stage(i)->InMemory()) {
            values += "(SELECT v FROM pg_temp.kaldoria_stage WHERE f = " + std::to_string(i) + ")";
            continue;
        }
        params.push_back(Stage(i) ? PgParam{PgParam::Binary, std::string(Stage(i)->Memory().begin(),
                                                                           Stage(i)->Memory().end())}
                                   : PgParam::Of(*Edit(i)));
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
        AppendBig(head, static_cast<std::uint32_t>(Stage(i)->Size()));
        send(head.data(), head.size());
        head.clear();
        Stage(i)->ForEachPiece([&](std::span<const std::uint8_t> piece, std::uint64_t) {
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

}  // namespace pgkind
