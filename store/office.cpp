#include "store/office.h"

#include <algorithm>

#include "store/history.h"
#include "store/ledger.h"
#include "store/picture_table.h"
#include "store/queries.h"
#include "text/korean.h"

namespace {

// Makes the role unless it exists; true when it was made.
bool MakeRole(Database& db, const std::string& name, const char* login) {
    if (FirstText(db, "SELECT count(*) FROM pg_catalog.pg_roles WHERE rolname = $1", {name}) != "0") return false;
    db.Execute("CREATE ROLE " + name + " " + login, dbFailOnError);
    return true;
}

}  // namespace

bool IsPlainRoleName(const std::string& name) {
    if (name.empty() || name.size() > 63 || !(name[0] == '_' || (name[0] >= 'a' && name[0] <= 'z'))) return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return c == '_' || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

OfficeSetUp SetUpOffice(Database& db, const std::string& owner, const std::vector<std::string>& clerks) {
    if (db.Server().empty())
        throw Error(err::InvalidOperation, WithParticle("'" + db.Name() + "'", Particle::EunNeun) + " 이 PC의 데이터베이스라서 나눌 역할이 없습니다. "
                                           "서버의 도장 목록을 가리키는 연결 파일(kaldoria-db link로 만든 것)을 주십시오.");
    std::vector<std::string> names = clerks;
    names.push_back(owner);
    for (const std::string& name : names)
        if (!IsPlainRoleName(name) || name == kClerksRole || name.rfind("pg_", 0) == 0)
            throw Error(err::InvalidArgument, "역할 이름 " + WithParticle("'" + name + "'", Particle::EunNeun) + " 쓸 수 없습니다. 영어 소문자나 '_'로 시작하고 "
                                              "소문자, 숫자, '_'만 있는 63자 이하의 이름을 주십시오 (예: kaldoria_owner, "
                                              "clerk_kim). " + kClerksRole + "과 pg_로 시작하는 이름은 쓰지 않습니다.");
    OfficeSetUp done;
    Transaction t(db);
    if (MakeRole(db, owner, "NOLOGIN")) done.made.push_back(owner);
    if (MakeRole(db, kClerksRole, "NOLOGIN")) done.made.push_back(kClerksRole);
    for (const std::string& clerk : clerks) {
        if (MakeRole(db, clerk, "LOGIN")) done.made.push_back(clerk);
        db.Execute("GRANT " + std::string(kClerksRole) + " TO " + clerk, dbFailOnError);
    }
    done.historyMade = !HistoryKeeps(db);
    if (done.historyMade) EnableHistory(db);
    EnableLedger(db);
    // The book's tables: pic_list and those that inherit from it, by their own (quoted) names.
    const auto tables = ColumnText(db, "WITH RECURSIVE tree(oid) AS (SELECT 'pic_list'::regclass::oid UNION SELECT i.inhrelid "
                                   "FROM pg_catalog.pg_inherits i JOIN tree ON i.inhparent = tree.oid) "
                                   "SELECT oid::regclass::text FROM tree");
    const std::string schema = FirstText(db, "SELECT quote_ident(n.nspname) FROM pg_catalog.pg_class c JOIN "
                                          "pg_catalog.pg_namespace n ON n.oid = c.relnamespace WHERE c.oid = "
                                          "'pic_list'::regclass");
    for (const std::string& table : tables) db.Execute("ALTER TABLE " + table + " OWNER TO " + owner, dbFailOnError);
    db.Execute("ALTER TABLE " + schema + ".pic_history OWNER TO " + owner, dbFailOnError);
    for (const char* function : {"pic_history_keep", "pic_history_keep_all"})
        db.Execute("ALTER FUNCTION " + schema + "." + function + "() OWNER TO " + owner, dbFailOnError);
    for (const std::string& table : tables) {
        db.Execute("REVOKE ALL ON " + table + " FROM PUBLIC", dbFailOnError);
        db.Execute("GRANT SELECT, INSERT, UPDATE, DELETE ON " + table + " TO " + kClerksRole, dbFailOnError);
    }
    db.Execute("REVOKE ALL ON " + schema + ".pic_history FROM PUBLIC", dbFailOnError);
    db.Execute("GRANT SELECT ON " + schema + ".pic_history TO " + kClerksRole, dbFailOnError);
    // The ledger: clerks add rows by stamping and read them, never change one.
    db.Execute("ALTER TABLE " + schema + ".pic_ledger OWNER TO " + owner, dbFailOnError);
    for (const char* function : {"pic_ledger_witness", "pic_ledger_refuse"})
        db.Execute("ALTER FUNCTION " + schema + "." + function + "() OWNER TO " + owner, dbFailOnError);
    db.Execute("REVOKE ALL ON " + schema + ".pic_ledger FROM PUBLIC", dbFailOnError);
    db.Execute("GRANT SELECT, INSERT ON " + schema + ".pic_ledger TO " + kClerksRole, dbFailOnError);
    // Reading its own new row's number (currval) needs SELECT on the row numbers; setting them needs more.
    db.Execute("GRANT SELECT ON SEQUENCE " + FirstText(db, "SELECT pg_get_serial_sequence($1, 'id')", {schema + ".pic_ledger"}) +
                   " TO " + kClerksRole,
               dbFailOnError);
    done.database = FirstText(db, "SELECT current_database()");
    t.Commit();
    return done;
}

bool ConnectedRoleOwnsBook(Database& db) {
    if (db.Server().empty()) return false;
    return FirstText(db, "SELECT CASE WHEN (SELECT rolsuper FROM pg_catalog.pg_roles WHERE rolname = session_user) OR "
                     "pg_catalog.pg_has_role(session_user, c.relowner, 'USAGE') THEN 1 ELSE 0 END "
                     "FROM pg_catalog.pg_class c WHERE c.oid = 'pic_list'::regclass") == "1";
}

std::string OwnerWarning(Database& db) {
    if (!ConnectedRoleOwnsBook(db)) return {};
    const std::string role = FirstText(db, "SELECT session_user");
    return "주의: 이 연결의 역할 '" + role + "'은 도장 목록의 주인(또는 슈퍼유저)이라서 기록을 끄거나 목록을 통째로 "
           "비울 수 있습니다. 직원 PC에서는 직원 역할로 연결하십시오. 관리자가 'kaldoria-db office-setup'으로 주인과 "
           "직원 역할을 나눌 수 있습니다.";
}
