#include "store/history.h"

#include <algorithm>

#include "store/picture_table.h"
#include "store/queries.h"
#include "store/save.h"
#include "store/transfer.h"
#include "text/korean.h"

namespace {

bool IsServer(Database& db) { return !db.Server().empty(); }

// The largest picture the history copies: the engine's bound on a value held whole.
const std::string kLimit = std::to_string(kWholeValueLimit);

std::string ByteLength(Database& db, const std::string& value) {
    return (IsServer(db) ? "octet_length(" : "length(") + value + ")";
}

// The time a version left, as UTC text on both kinds.
std::string LeftAtUtc(Database& db) {
    return IsServer(db) ? "to_char(left_at AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS')" : "left_at";
}

// `left_at` before the instant given in UTC as $1: compared as times, never as text.
std::string LeftBefore(Database& db) {
    return IsServer(db) ? "left_at < ($1::text || '+00')::timestamptz" : "julianday(left_at) < julianday($1)";
}

long long Number(Database& db, const std::string& sql, const Params& params = {}) {
    const std::string value = FirstText(db, sql, params);
    return value.empty() ? 0 : std::stoll(value);
}

// SQLite: the old row is read back from pic_list by its rowid in a BEFORE
// trigger rather than taken from OLD, so that deleting a picture too large to
// keep never loads it: the length of a stored BLOB is known without reading it.
const char* const kLocalTriggers[] = {"pic_history_delete", "pic_history_update"};

// A name for the history's index that nothing else in the book has: a
// pic_history renamed away keeps its index, and with it the usual name.
// `catalogue` counts the objects named $1.
std::string FreeIndexName(Database& db, const std::string& catalogue) {
    for (int n = 1;; ++n) {
        const std::string name = "pic_history_name" + (n > 1 ? "_" + std::to_string(n) : std::string());
        if (Number(db, catalogue, {name}) == 0) return name;
    }
}

// The columns every history has, whatever else its table holds.
const char* const kHistoryColumns[] = {"id", "pic_name", "pic", "bytes", "left_at", "left_by", "left_from"};

// What the table named pic_history lacks of a history's columns.
std::vector<std::string> MissingHistoryColumns(Database& db) {
    const auto present = ColumnText(db, IsServer(db) ? "SELECT attname FROM pg_catalog.pg_attribute WHERE attrelid = "
                                                   "'pic_history'::regclass AND attnum > 0 AND NOT attisdropped"
                                                 : "SELECT lower(name) FROM pragma_table_info('pic_history')");
    std::vector<std::string> missing;
    for (const char* column : kHistoryColumns)
        if (std::find(present.begin(), present.end(), column) == present.end()) missing.push_back(column);
    return missing;
}

void EnableLocal(Database& db, bool tableThere) {
    // The first of SQLite's names for the rowid that no column has taken.
    const auto columns = ColumnText(db, "SELECT lower(name) FROM pragma_table_info('pic_list')");
    std::string rowid;
    for (const char* alias : {"_rowid_", "rowid", "oid"})
        if (rowid.empty() && std::find(columns.begin(), columns.end(), alias) == columns.end()) rowid = alias;
    if (rowid.empty())
        throw Error(err::InvalidOperation, "표 pic_list의 열이 _rowid_, rowid, oid라는 이름을 모두 써서 기록을 켤 수 없습니다.");
    const std::string keep =
        " BEGIN INSERT INTO pic_history (pic_name, pic, bytes, left_at) SELECT pic_name, CASE WHEN length(pic) <= " + kLimit +
        " THEN pic END, length(pic), strftime('%Y-%m-%d %H:%M:%S', 'now') FROM pic_list WHERE " + rowid + " = OLD." + rowid +
        "; END";
    if (!tableThere) {
        db.Execute("CREATE TABLE pic_history (id INTEGER PRIMARY KEY AUTOINCREMENT, pic_name TEXT, pic BLOB, "
                   "bytes INTEGER, left_at TEXT NOT NULL, left_by TEXT, left_from TEXT)",
                   dbFailOnError);
        db.Execute("CREATE INDEX " + FreeIndexName(db, "SELECT count(*) FROM sqlite_schema WHERE name = $1") +
                       " ON pic_history (pic_name, id)",
                   dbFailOnError);
    }
    for (const char* trigger : kLocalTriggers) db.Execute(std::string("DROP TRIGGER IF EXISTS ") + trigger, dbFailOnError);
    db.Execute(std::string("CREATE TRIGGER ") + kLocalTriggers[0] + " BEFORE DELETE ON pic_list" + keep, dbFailOnError);
    db.Execute(std::string("CREATE TRIGGER ") + kLocalTriggers[1] + " BEFORE UPDATE OF pic_name, pic ON pic_list" + keep,
               dbFailOnError);
}

// PostgreSQL: one trigger function, run with its owner's rights (SECURITY
// DEFINER) so that a role allowed to save needs no right on pic_history for
// its save to be kept; the role recorded is the one that logged in. Since it
// writes the history with the owner's rights, no one else may call it (a
// clerk's trigger on a table of their own would write versions of their
// choosing), and it finds every name in pg_catalog first and the session's
// temporary schema last, with its own tables named by schema, so that no
// function or table a clerk makes elsewhere stands in for one of its own.
// The time is the moment the row left, not the start of its transaction.
const char* const kServerTrigger = "pic_history_keep";
// TRUNCATE removes rows without a row trigger: a statement trigger before it
// keeps every row of the table it empties, by the same rules.
const char* const kTruncateTrigger = "pic_history_truncate";
const char* const kTruncateFunction = "pic_history_keep_all";

// pic_list and every table that inherits from it, as regclass texts.
const char* const kServerTables =
    "WITH RECURSIVE tree(oid) AS (SELECT 'pic_list'::regclass::oid UNION "
    "SELECT i.inhrelid FROM pg_catalog.pg_inherits i JOIN tree ON i.inhparent = tree.oid) ";

void EnableServer(Database& db, bool tableThere) {
    const std::string schema = ColumnText(db,
        "SELECT quote_ident(n.nspname) FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.oid = 'pic_list'::regclass").at(0);
    if (!tableThere) {
        db.Execute("CREATE TABLE " + schema + ".pic_history (id bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
                   "pic_name text, pic bytea, bytes bigint, left_at timestamptz NOT NULL, left_by text, left_from text)",
                   dbFailOnError);
        db.Execute("ALTER TABLE " + schema + ".pic_history ALTER COLUMN pic SET STORAGE EXTERNAL", dbFailOnError);
        db.Execute("CREATE INDEX " +
                       FreeIndexName(db, "SELECT count(*) FROM pg_catalog.pg_class c WHERE c.relnamespace = "
                                         "(SELECT relnamespace FROM pg_catalog.pg_class WHERE oid = 'pic_list'::regclass) "
                                         "AND c.relname = $1") +
                       " ON " + schema + ".pic_history (pic_name, id)",
                   dbFailOnError);
    }
    const std::string function = schema + "." + kServerTrigger;
    // The old row is read back from its table by its address before it goes,
    // never through OLD.pic: PL/pgSQL would load that value whole (a 200 MiB
    // picture took 400 MiB of the server's memory), and a picture too large
    // to keep must not be loaded at all; its size is read from the table too.
    const std::string keepRow = ".pic_history (pic_name, pic, bytes, left_at, left_by, left_from) "
                                "SELECT pic_name, CASE WHEN pg_catalog.octet_length(pic) <= " + kLimit + " THEN pic END, "
                                "pg_catalog.octet_length(pic), pg_catalog.clock_timestamp(), session_user, "
                                "pg_catalog.host(pg_catalog.inet_client_addr()) FROM ONLY %s";
    // The statement the function runs, as the text of format()'s template:
    // the server writes the schema into it from its catalogue and quotes the
    // whole as a literal ('%' doubled first, so a schema named with one
    // stays a name, never a directive of format()).
    const auto keepTemplate = [&db](const std::string& tail) {
        return FirstText(db,
                         "SELECT pg_catalog.quote_literal('INSERT INTO ' || pg_catalog.replace(pg_catalog.quote_ident(n.nspname), "
                         "'%', '%%') || $1) FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
                         "WHERE c.oid = 'pic_list'::regclass",
                         {tail});
    };
    db.Execute("CREATE OR REPLACE FUNCTION " + function + "() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER "
               "SET search_path = pg_catalog, pg_temp AS $$ BEGIN EXECUTE pg_catalog.format(" +
                   keepTemplate(keepRow + " WHERE ctid = $1") + ", TG_RELID::pg_catalog.regclass) USING OLD.ctid; "
               "IF TG_OP = 'DELETE' THEN RETURN OLD; END IF; RETURN NEW; END $$",
               dbFailOnError);
    db.Execute("REVOKE ALL ON FUNCTION " + function + "() FROM PUBLIC", dbFailOnError);
    const std::string keepAll = schema + "." + kTruncateFunction;
    db.Execute("CREATE OR REPLACE FUNCTION " + keepAll + "() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER "
               "SET search_path = pg_catalog, pg_temp AS $$ BEGIN EXECUTE pg_catalog.format(" + keepTemplate(keepRow) +
                   ", TG_RELID::pg_catalog.regclass); RETURN NULL; END $$",
               dbFailOnError);
    db.Execute("REVOKE ALL ON FUNCTION " + keepAll + "() FROM PUBLIC", dbFailOnError);
    // The trigger on pic_list and on every table that inherits from it:
    // their rows are the book's rows too.
    for (const std::string& table : ColumnText(db, std::string(kServerTables) + "SELECT oid::regclass::text FROM tree")) {
        db.Execute(std::string("DROP TRIGGER IF EXISTS ") + kServerTrigger + " ON " + table, dbFailOnError);
        db.Execute(std::string("CREATE TRIGGER ") + kServerTrigger + " BEFORE DELETE OR UPDATE OF pic_name, pic ON " +
                       table + " FOR EACH ROW EXECUTE FUNCTION " + function + "()",
                   dbFailOnError);
        db.Execute(std::string("DROP TRIGGER IF EXISTS ") + kTruncateTrigger + " ON " + table, dbFailOnError);
        db.Execute(std::string("CREATE TRIGGER ") + kTruncateTrigger + " BEFORE TRUNCATE ON " + table +
                       " FOR EACH STATEMENT EXECUTE FUNCTION " + keepAll + "()",
                   dbFailOnError);
    }
}

std::vector<std::string> LocalFaults(Database& db) {
    std::vector<std::string> faults;
    const auto present =
        ColumnText(db, "SELECT name FROM sqlite_schema WHERE type = 'trigger' AND tbl_name = 'pic_list' COLLATE NOCASE");
    for (const char* trigger : kLocalTriggers)
        if (std::find(present.begin(), present.end(), trigger) == present.end())
            faults.push_back(std::string("pic_list의 트리거 ") + trigger + "가 없어 바뀌거나 지워지는 도장이 기록되지 않습니다.");
    return faults;
}

std::vector<std::string> ServerFaults(Database& db) {
    std::vector<std::string> faults;
    // Each table of the book with the state of each trigger: O fires, A
    // fires always, D never, R only while replicating; none, no trigger.
    const struct {
        const char* name;
        const char* removals;
    } triggers[] = {{kServerTrigger, "그 행이 바뀌거나 지워져도"}, {kTruncateTrigger, "TRUNCATE로 비운 행이"}};
    for (const auto& trigger : triggers) {
        Recordset rs = db.OpenRecordset(
            std::string(kServerTables) +
                "SELECT tree.oid::regclass::text, CASE WHEN tree.oid = 'pic_list'::regclass THEN 1 ELSE 0 END, "
                "coalesce(t.tgenabled::text, '') FROM tree LEFT JOIN pg_catalog.pg_trigger t ON t.tgrelid = tree.oid "
                "AND t.tgname = $1",
            dbOpenSnapshot, {std::string(trigger.name)});
        for (; !rs.EOF_(); rs.MoveNext()) {
            const std::string table = TextOf(rs.Fields(0).Value()), state = TextOf(rs.Fields(2).Value());
            const std::string where =
                TextOf(rs.Fields(1).Value()) == "1" ? std::string("pic_list") : "pic_list를 물려받은 표 " + table;
            if (state.empty())
                faults.push_back(where + "에 트리거 " + trigger.name + "가 없어 " + trigger.removals + " 기록되지 않습니다.");
            else if (state == "D")
                faults.push_back(where + "의 트리거 " + trigger.name + "가 꺼져 있어(DISABLE TRIGGER) " +
                                 trigger.removals + " 기록되지 않습니다.");
            else if (state == "R")
                faults.push_back(where + "의 트리거 " + trigger.name + "가 복제 때만 동작하도록(ENABLE REPLICA TRIGGER) "
                                 "되어 있어 " + trigger.removals + " 기록되지 않습니다.");
        }
        rs.Close();
    }
    for (const char* name : {kServerTrigger, kTruncateFunction}) {
        Recordset fn = db.OpenRecordset(
            std::string("SELECT CASE WHEN EXISTS (SELECT 1 FROM pg_catalog.aclexplode(coalesce(p.proacl, "
                        "pg_catalog.acldefault('f', p.proowner))) a WHERE a.grantee = 0 AND a.privilege_type = 'EXECUTE') "
                        "THEN 1 ELSE 0 END, coalesce(pg_catalog.array_to_string(p.proconfig, ';'), '') "
                        "FROM pg_catalog.pg_proc p JOIN pg_catalog.pg_class c ON c.relnamespace = p.pronamespace "
                        "WHERE c.oid = 'pic_list'::regclass AND p.proname = $1"),
            dbOpenSnapshot, {std::string(name)});
        if (fn.EOF_()) {
            fn.Close();
            faults.push_back(std::string("기록을 남기는 함수 ") + name + "가 없습니다.");
            continue;
        }
        const bool everyone = TextOf(fn.Fields(0).Value()) == "1";
        const std::string config = TextOf(fn.Fields(1).Value());
        fn.Close();
        if (everyone)
            faults.push_back(std::string("기록을 남기는 함수 ") + name + "를 모든 역할이 부를 수 있어, 누구든 "
                             "자기 표의 트리거로 기록에 버전을 써 넣을 수 있습니다.");
        if (config.rfind("search_path=pg_catalog, pg_temp", 0) != 0)
            faults.push_back(std::string("기록을 남기는 함수 ") + name + "가 이름을 pg_catalog보다 다른 스키마에서 "
                             "먼저 찾아, 그 스키마에 함수를 만들 수 있는 역할이 기록을 지울 수 있습니다.");
    }
    return faults;
}

void AppendValue(const Field& from, Field to) {
    const std::int32_t size = from.FieldSize();
    if (size == 0) {
        if (!IsNull(from.Value())) to.SetValue(Bytes{});
        return;
    }
    for (std::int32_t at = 0; at < size; at += kChunkSize) to.AppendChunk(from.GetChunk(at, std::min(kChunkSize, size - at)));
}

}  // namespace

// Asked of the book each time, not of the engine's memory of its tables:
// another program may have dropped or renamed pic_history since.
bool HasHistory(Database& db) {
    return Number(db, IsServer(db) ? "SELECT CASE WHEN to_regclass('pic_history') IS NULL THEN 0 ELSE 1 END"
                                   : "SELECT count(*) FROM sqlite_schema WHERE type IN ('table', 'view') AND "
                                     "name = 'pic_history' COLLATE NOCASE") == 1;
}

std::vector<std::string> HistoryFaults(Database& db) {
    if (!HasHistory(db)) return {};
    if (const auto missing = MissingHistoryColumns(db); !missing.empty()) {
        std::string columns;
        for (const auto& c : missing) columns += (columns.empty() ? "" : ", ") + c;
        return {"표 pic_history에 기록의 열(" + columns + ")이 없어, 이 표는 Kaldoria의 기록이 아닙니다."};
    }
    return IsServer(db) ? ServerFaults(db) : LocalFaults(db);
}

std::vector<std::string> HistoryBlindSpots(Database& db) {
    if (IsServer(db) || !HasHistory(db)) return {};
    const long long unique = Number(
        db, "SELECT count(*) FROM pragma_index_list('pic_list') AS l WHERE l.\"unique\" = 1 AND "
            "(SELECT group_concat(lower(name)) FROM pragma_index_info(l.name)) = 'pic_name'");
    if (unique == 0) return {};
    return {"pic_list의 pic_name이 UNIQUE라서, sqlite3 셸 같은 다른 프로그램이 REPLACE(INSERT OR REPLACE)로 "
            "같은 이름의 행을 밀어낼 때 밀려난 행은 기록되지 않습니다 (SQLite가 그때 트리거를 부르지 않습니다). "
            "Kaldoria의 창과 도구의 저장, 지우기, 이름 바꾸기는 모두 기록됩니다."};
}

bool IsHistoryTable(Database& db) { return HasHistory(db) && MissingHistoryColumns(db).empty(); }

bool HistoryKeeps(Database& db) { return HasHistory(db) && HistoryFaults(db).empty(); }

bool CanReadHistory(Database& db) {
    if (!HasHistory(db)) return false;
    return !IsServer(db) || Number(db, "SELECT CASE WHEN has_table_privilege('pic_history', 'SELECT') THEN 1 ELSE 0 END") == 1;
}

bool EnableHistory(Database& db) {
    std::optional<Transaction> t;
    if (!db.InTransaction()) t.emplace(db);
    if (IsServer(db)) db.LockKey(std::string(kHistoryTable) + "\nenable");
    const bool there = HasHistory(db);
    if (there) {
        const auto faults = HistoryFaults(db);
        if (faults.empty()) return false;
        if (!MissingHistoryColumns(db).empty())
            throw Error(err::InvalidOperation, faults.front() + " 그 표를 다른 이름으로 옮기거나(ALTER TABLE pic_history "
                                               "RENAME TO ...) 지운 뒤 다시 켜십시오. 아무것도 바꾸지 않았습니다.");
    }
    if (IsServer(db)) EnableServer(db, there);
    else EnableLocal(db, there);
    if (t) t->Commit();
    return true;
}

std::vector<KeptVersion> ListVersions(Database& db, const std::optional<std::string>& name) {
    Recordset rs = db.OpenRecordset(
        "SELECT id, pic_name, bytes, " + LeftAtUtc(db) + ", coalesce(left_by, '') || coalesce('@' || left_from, '') "
        "FROM pic_history " + (name ? NameCondition(*name) : std::string()) + " ORDER BY id",
        dbOpenSnapshot);
    std::vector<KeptVersion> versions;
    for (; !rs.EOF_(); rs.MoveNext()) {
        KeptVersion v;
        v.id = std::stoll(TextOf(rs.Fields(0).Value()));
        v.name = rs.Fields(1).Value();
        if (const Variant bytes = rs.Fields(2).Value(); !IsNull(bytes)) v.bytes = std::stoll(TextOf(bytes));
        v.kept = !v.bytes || *v.bytes <= static_cast<long long>(kWholeValueLimit);
        v.leftAtUtc = TextOf(rs.Fields(3).Value());
        v.who = TextOf(rs.Fields(4).Value());
        versions.push_back(std::move(v));
    }
    rs.Close();
    return versions;
}

long CountUnkeptRows(Database& db, const std::string& name) {
    if (!HasHistory(db)) return 0;
    return static_cast<long>(Number(
        db, "SELECT count(*) FROM pic_list " + NameCondition(name) + " AND " + ByteLength(db, "pic") + " > " + kLimit));
}

RestoredVersion RestoreVersion(Database& db, const std::string& name, std::optional<long long> version) {
    const std::string condition = NameCondition(name);
    if (!IsHistoryTable(db))
        throw Error(err::ItemNotFound, "데이터베이스 '" + db.Name() + "'에는 기록(pic_history)이 없어 되돌릴 버전이 없습니다.");
    RequireWritablePictureTable(db);
    Transaction t(db);
    db.LockKey(std::string(kPictureTable) + "\n" + name);
    // Prune takes turns with restore, so a version is never forgotten between
    // being found and being copied back.
    db.LockKey(std::string(kHistoryTable) + "\nversions");
    RequireTextNames(db);
    RestoredVersion restored;
    {
        Recordset rs = db.OpenRecordset(
            "SELECT id, bytes FROM pic_history " + condition + (version ? " AND id = $1" : "") + " ORDER BY id DESC LIMIT 1",
            dbOpenSnapshot, version ? Params{*version} : Params{});
        if (rs.EOF_())
            throw Error(err::ItemNotFound, version ? "\"" + name + "\"의 기록에 버전 " + WithParticle(std::to_string(*version), Particle::IGa) +
                                                         " 없습니다. 아무것도 바꾸지 않았습니다."
                                                   : "\"" + name + "\"의 기록에 보관된 버전이 없습니다. 아무것도 바꾸지 "
                                                                   "않았습니다.");
        restored.id = std::stoll(TextOf(rs.Fields(0).Value()));
        const Variant bytes = rs.Fields(1).Value();
        restored.bytes = IsNull(bytes) ? 0 : std::stoll(TextOf(bytes));
        rs.Close();
    }
    if (restored.bytes > static_cast<long long>(kWholeValueLimit))
        throw Error(err::InvalidOperation, "\"" + name + "\"의 버전 " + WithParticle(std::to_string(restored.id), Particle::EunNeun) + " 그림(" +
                                               std::to_string(restored.bytes) +
                                               " 바이트)이 너무 커서 기록에 보관하지 않았으므로 되돌릴 수 없습니다.");
    restored.replaced = static_cast<long>(Number(db, "SELECT count(*) FROM pic_list " + condition));
    // The rows put aside must be kept, or the restore itself would lose them.
    if (restored.replaced > 0) {
        if (const auto faults = HistoryFaults(db); !faults.empty())
            throw Error(err::InvalidOperation, "기록이 꺼져 있어 지금의 " + WithParticle("\"" + name + "\"", Particle::EulReul) + " 기록에 남길 수 없으므로 "
                                               "되돌리지 않았습니다: " + faults.front() + " 아무것도 바꾸지 않았습니다.");
    }
    db.Execute(RemovalStatement(name), dbFailOnError);
    db.Execute("INSERT INTO pic_list (pic_name, pic) SELECT pic_name, pic FROM pic_history WHERE id = $1", {restored.id},
               dbFailOnError);
    // What was copied back is checked, not assumed: the one row of the name.
    if (Number(db, "SELECT count(*) FROM pic_list " + condition) != 1)
        throw Error(err::ItemNotFound, "\"" + name + "\"의 버전 " + WithParticle(std::to_string(restored.id), Particle::IGa) +
                                           " 되돌리는 사이 기록에서 사라져 되돌리지 않았습니다. 아무것도 바꾸지 "
                                           "않았습니다.");
    t.Commit();
    return restored;
}

long PruneHistory(Database& db, const std::optional<std::string>& beforeUtc, std::optional<long long> keep) {
    if (!HasHistory(db)) throw Error(err::ItemNotFound, "데이터베이스 '" + db.Name() + "'에는 기록(pic_history)이 없습니다.");
    // Either condition, or both, each with its value as a parameter: the
    // cut-off time is $1 and the count to keep $2, or either alone $1.
    std::string where;
    Params values;
    if (beforeUtc) {
        where = LeftBefore(db);
        values.emplace_back(*beforeUtc);
    }
    if (keep) {
        values.emplace_back(*keep);
        where += (where.empty() ? "" : " OR ") +
                 std::string("id IN (SELECT id FROM (SELECT id, row_number() OVER (PARTITION BY pic_name ORDER BY id DESC) "
                             "AS n FROM pic_history) AS ranked WHERE n > $") + std::to_string(values.size()) + ")";
    }
    if (where.empty()) return 0;
    Transaction t(db);
    db.LockKey(std::string(kHistoryTable) + "\nversions");
    const long long before = Number(db, "SELECT count(*) FROM pic_history");
    db.Execute("DELETE FROM pic_history WHERE " + where, values, dbFailOnError);
    const long long after = Number(db, "SELECT count(*) FROM pic_history");
    t.Commit();
    return static_cast<long>(before - after);
}

long CopyHistory(Database& from, Database& to) {
    Recordset source = from.OpenRecordset(
        "SELECT id, pic_name, pic, bytes, " + LeftAtUtc(from) + " AS left_at, left_by, left_from FROM pic_history ORDER BY id",
        dbOpenSnapshot);
    Recordset target = to.OpenRecordset(kHistoryTable, dbOpenTable);
    long copied = 0;
    for (; !source.EOF_(); source.MoveNext(), ++copied) {
        target.AddNew();
        for (const char* column : {"id", "pic_name", "bytes", "left_at", "left_by", "left_from"})
            target.Fields(column).SetValue(source.Fields(column).Value());
        AppendValue(source.Fields("pic"), target.Fields("pic"));
        target.Update();
    }
    target.Close();
    source.Close();
    return copied;
}
