#include "store/ledger.h"

#include <algorithm>

#include "store/queries.h"
#include "store/save.h"
#include "text/korean.h"

namespace {

bool IsServer(Database& db) { return !db.Server().empty(); }

const char* const kAll[] = {"id",         "stamped_at", "role",     "address", "login_user", "pic_name",   "pic_sha256",
                           "document",   "page",       "x_mm",     "y_mm",    "size_mm",    "out_sha256", "purpose"};

// The columns for a SELECT, the time as UTC text on both kinds.
std::string SelectedColumns(Database& db) {
    std::string columns;
    for (const char* column : kAll)
        columns += (columns.empty() ? "" : ", ") +
                   (std::string(column) == "stamped_at" ? (IsServer(db) ? "to_char(stamped_at AT TIME ZONE 'UTC', "
                                                                          "'YYYY-MM-DD HH24:MI:SS') AS stamped_at"
                                                                        : "stamped_at")
                                                        : std::string(column));
    return columns;
}
// What the stamping writes; the rest is the book's.
const char* const kWritten[] = {"login_user", "pic_name", "pic_sha256", "document", "page",
                                "x_mm",       "y_mm",     "size_mm",    "out_sha256", "purpose"};

const char* const kLocalRefusals[][2] = {
    {"pic_ledger_no_update", "BEFORE UPDATE ON pic_ledger BEGIN SELECT RAISE(ABORT, '날인 대장의 행은 고칠 수 없습니다'); END"},
    {"pic_ledger_no_delete", "BEFORE DELETE ON pic_ledger BEGIN SELECT RAISE(ABORT, '날인 대장의 행은 지울 수 없습니다'); END"},
};

void EnableLocal(Database& db) {
    db.Execute("CREATE TABLE pic_ledger (id INTEGER PRIMARY KEY AUTOINCREMENT, "
               "stamped_at TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now')), role TEXT, address TEXT, "
               "login_user TEXT, pic_name TEXT NOT NULL, pic_sha256 TEXT NOT NULL, document TEXT NOT NULL, "
               "page INTEGER NOT NULL, x_mm REAL NOT NULL, y_mm REAL NOT NULL, size_mm REAL NOT NULL, "
               "out_sha256 TEXT NOT NULL, purpose TEXT NOT NULL DEFAULT '')",
               dbFailOnError);
    db.Execute("CREATE INDEX pic_ledger_name ON pic_ledger (pic_name, id)", dbFailOnError);
    for (const auto& trigger : kLocalRefusals)
        db.Execute(std::string("CREATE TRIGGER ") + trigger[0] + " " + trigger[1], dbFailOnError);
}

// The server's witness: time, role and address written over whatever the
// row said, so a clerk's INSERT cannot name another time or person. It runs
// with the inserting role's rights and needs none beyond them.
const char* const kWitness = "pic_ledger_witness";
const char* const kRefuse = "pic_ledger_refuse";

std::string SchemaOfPicList(Database& db) {
    return FirstText(db, "SELECT quote_ident(n.nspname) FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n "
                         "ON n.oid = c.relnamespace WHERE c.oid = 'pic_list'::regclass");
}

void EnableServer(Database& db) {
    const std::string schema = SchemaOfPicList(db), table = schema + ".pic_ledger";
    db.Execute("CREATE TABLE " + table + " (id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY, "
               "stamped_at timestamptz NOT NULL, role text NOT NULL, address text, login_user text, "
               "pic_name text NOT NULL, pic_sha256 text NOT NULL, document text NOT NULL, page integer NOT NULL, "
               "x_mm double precision NOT NULL, y_mm double precision NOT NULL, size_mm double precision NOT NULL, "
               "out_sha256 text NOT NULL, purpose text NOT NULL DEFAULT '')",
               dbFailOnError);
    db.Execute("CREATE INDEX pic_ledger_name ON " + table + " (pic_name, id)", dbFailOnError);
    db.Execute("CREATE OR REPLACE FUNCTION " + schema + "." + kWitness + "() RETURNS trigger LANGUAGE plpgsql "
               "SET search_path = pg_catalog, pg_temp AS $$ BEGIN NEW.stamped_at := pg_catalog.clock_timestamp(); "
               "NEW.role := session_user; NEW.address := pg_catalog.host(pg_catalog.inet_client_addr()); "
               "RETURN NEW; END $$",
               dbFailOnError);
    db.Execute("CREATE OR REPLACE FUNCTION " + schema + "." + kRefuse + "() RETURNS trigger LANGUAGE plpgsql "
               "SET search_path = pg_catalog, pg_temp AS $$ BEGIN RAISE EXCEPTION '날인 대장의 행은 고치거나 지울 수 "
               "없습니다' USING ERRCODE = 'insufficient_privilege'; END $$",
               dbFailOnError);
    for (const char* function : {kWitness, kRefuse})
        db.Execute("REVOKE ALL ON FUNCTION " + schema + "." + function + "() FROM PUBLIC", dbFailOnError);
    db.Execute(std::string("CREATE TRIGGER ") + kWitness + " BEFORE INSERT ON " + table + " FOR EACH ROW EXECUTE FUNCTION " +
                   schema + "." + kWitness + "()",
               dbFailOnError);
    db.Execute(std::string("CREATE TRIGGER ") + kRefuse + " BEFORE UPDATE OR DELETE ON " + table +
                   " FOR EACH ROW EXECUTE FUNCTION " + schema + "." + kRefuse + "()",
               dbFailOnError);
    db.Execute(std::string("CREATE TRIGGER ") + kRefuse + "_all BEFORE TRUNCATE ON " + table +
                   " FOR EACH STATEMENT EXECUTE FUNCTION " + schema + "." + kRefuse + "()",
               dbFailOnError);
}

// The rows `where` (with its `params`) picks, oldest first.
std::vector<LedgerEntry> ReadRows(Database& db, const std::string& where, const Params& params) {
    Recordset rs = db.OpenRecordset("SELECT " + SelectedColumns(db) + " FROM pic_ledger " + where + " ORDER BY id", dbOpenSnapshot, params);
    std::vector<LedgerEntry> rows;
    for (; !rs.EOF_(); rs.MoveNext()) {
        const auto text = [&](int i) { return TextOf(rs.Fields(i).Value()); };
        const auto number = [&](int i) {
            const std::string t = text(i);
            return t.empty() ? 0.0 : std::stod(t);
        };
        LedgerEntry e;
        e.id = std::stoll(text(0));
        e.stampedAtUtc = text(1), e.role = text(2), e.address = text(3), e.user = text(4), e.name = text(5);
        e.pictureSha256 = text(6), e.document = text(7), e.page = static_cast<int>(number(8));
        e.xMm = number(9), e.yMm = number(10), e.sizeMm = number(11), e.outputSha256 = text(12), e.purpose = text(13);
        rows.push_back(std::move(e));
    }
    rs.Close();
    return rows;
}

bool IsSha256(const std::string& hex) {
    return hex.size() == 64 &&
           std::all_of(hex.begin(), hex.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

bool HasLedger(Database& db) {
    return FirstText(db, IsServer(db) ? "SELECT CASE WHEN to_regclass('pic_ledger') IS NULL THEN 0 ELSE 1 END"
                                      : "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = 'pic_ledger'") == "1";
}

bool EnableLedger(Database& db) {
    std::optional<Transaction> t;
    if (!db.InTransaction()) t.emplace(db);
    db.LockKey(std::string(kLedgerTable) + "\nenable");
    if (HasLedger(db)) return false;
    if (IsServer(db)) EnableServer(db);
    else EnableLocal(db);
    if (t) t->Commit();
    return true;
}

LedgerEntry AddLedgerEntry(Database& db, const LedgerEntry& e) {
    if (!HasLedger(db)) {
        try {
            EnableLedger(db);
        } catch (const Error& failed) {
            throw Error(err::ItemNotFound, "이 도장 목록에는 날인 대장(pic_ledger)이 없고, 이 연결의 역할로는 만들 수 "
                                           "없습니다. 관리자가 'kaldoria-db office-setup'을 다시 실행하면 만들어집니다 — " +
                                           failed.Description(),
                        failed.Cause());
        }
    }
    std::string columns, places;
    for (std::size_t i = 0; i < std::size(kWritten); ++i) {
        columns += (i ? ", " : "") + std::string(kWritten[i]);
        places += (i ? ", $" : "$") + std::to_string(i + 1);
    }
    db.Execute("INSERT INTO pic_ledger (" + columns + ") VALUES (" + places + ")",
               Params{e.user, e.name, e.pictureSha256, e.document, static_cast<long long>(e.page), e.xMm, e.yMm, e.sizeMm,
                      e.outputSha256, e.purpose},
               dbFailOnError);
    // The row this session added, whoever else adds rows meanwhile.
    const std::string id = FirstText(db, IsServer(db) ? "SELECT currval(pg_get_serial_sequence('pic_ledger', 'id'))"
                                                      : "SELECT last_insert_rowid()");
    return ReadRows(db, "WHERE id = $1", {std::stoll(id)}).at(0);
}

std::vector<LedgerEntry> ListLedger(Database& db, const std::optional<std::string>& name,
                                    const std::optional<std::string>& sinceUtc) {
    std::string where;
    Params params;
    if (name) where = NameCondition(*name);
    if (sinceUtc) {
        params.push_back(*sinceUtc);
        where += (where.empty() ? "WHERE " : " AND ") +
                 std::string(IsServer(db) ? "stamped_at >= ($1::text || '+00')::timestamptz" : "julianday(stamped_at) >= julianday($1)");
    }
    return ReadRows(db, where, params);
}

LedgerCheck CheckLedger(Database& db) {
    LedgerCheck check;
    if (!CanReadLedger(db)) return check;
    std::vector<std::string>& faults = check.faults;
    for (const LedgerEntry& e : ListLedger(db, std::nullopt, std::nullopt)) {
        ++check.rows;
        const std::string row = "날인 대장의 " + std::to_string(e.id) + "번 행";
        if (!IsSha256(e.pictureSha256) || !IsSha256(e.outputSha256))
            faults.push_back(row + "의 SHA-256 값이 SHA-256이 아닙니다.");
        if (e.page < 1 || e.sizeMm <= 0) faults.push_back(row + "의 쪽이나 크기가 찍을 수 있는 값이 아닙니다.");
    }
    const auto triggers = ColumnText(
        db, IsServer(db) ? "SELECT tgname FROM pg_catalog.pg_trigger WHERE tgrelid = 'pic_ledger'::regclass AND tgenabled = 'O'"
                         : "SELECT name FROM sqlite_schema WHERE type = 'trigger' AND tbl_name = 'pic_ledger'");
    std::vector<std::string> due;
    if (IsServer(db)) due = {kWitness, kRefuse, std::string(kRefuse) + "_all"};
    else for (const auto& trigger : kLocalRefusals) due.push_back(trigger[0]);
    for (const std::string& trigger : due)
        if (std::find(triggers.begin(), triggers.end(), trigger) == triggers.end())
            faults.push_back("날인 대장의 트리거 " + trigger + "가 없거나 꺼져 있습니다.");
    return check;
}

bool CanReadLedger(Database& db) {
    if (!HasLedger(db)) return false;
    return !IsServer(db) || FirstText(db, "SELECT CASE WHEN has_table_privilege('pic_ledger', 'SELECT') THEN 1 ELSE 0 END") == "1";
}

long CopyLedger(Database& from, Database& to) {
    Recordset source = from.OpenRecordset("SELECT " + SelectedColumns(from) + " FROM pic_ledger ORDER BY id", dbOpenSnapshot);
    Recordset target = to.OpenRecordset(kLedgerTable, dbOpenTable);
    long copied = 0;
    for (; !source.EOF_(); source.MoveNext(), ++copied) {
        target.AddNew();
        for (const char* column : kAll) target.Fields(column).SetValue(source.Fields(column).Value());
        target.Update();
    }
    target.Close();
    source.Close();
    return copied;
}
