// Arbitrary bytes as a name: the removal statement built from it runs against
// a table of known rows plus rows with the name itself and near misses of it.
// Exactly the rows holding that very name may go; every other row stays.
// Each input runs inside a transaction that is rolled back afterwards.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "engine/workspace/workspace.h"
#include "os/error.h"
#include "store/connection.h"
#include "store/save.h"

namespace {
Workspace wrkPIC;
Database dbsPIC;

const std::vector<std::string> kKnownNames = {
    "도장", "a", "A", "a ", " a", "", "'", "''", "x", "x'", "x' OR '1'='1", "%", "_", "a%", "\\", "\"",
    "'; DROP TABLE pic_list; --", "\t", "\n", "도장 ", "e\xcc\x81", "\xc3\xa9", "\xf0\x9f\x98\x80"};

void AddRow(Recordset& rs, const Variant& name) {
    rs.AddNew();
    rs.Fields("pic_name").SetValue(name);
    rs.Update();
}

// Read through a snapshot, which inside the write transaction sees its rows.
std::vector<Variant> Names() {
    std::vector<Variant> out;
    Recordset rs = dbsPIC.OpenRecordset("SELECT pic_name FROM pic_list ORDER BY rowid", dbOpenSnapshot);
    if (rs.RecordCount() > 0) {
        rs.MoveFirst();
        while (!rs.EOF_()) {
            out.push_back(rs.Fields(0).Value());
            rs.MoveNext();
        }
    }
    rs.Close();
    return out;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    CreatePICDB(DatabasePath(ScratchFolder()));
    OpenPICDB(wrkPIC, dbsPIC, ScratchFolder());
    Transaction t(dbsPIC);
    Recordset rs = dbsPIC.OpenRecordset("pic_list", dbOpenTable);
    for (const auto& n : kKnownNames) AddRow(rs, n);
    AddRow(rs, Variant{});
    AddRow(rs, kKnownNames[1]);
    rs.Close();
    t.Commit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    Transaction t(dbsPIC);
    {
        Recordset rs = dbsPIC.OpenRecordset("pic_list", dbOpenTable);
        AddRow(rs, name);
        AddRow(rs, name + " ");
        AddRow(rs, " " + name);
        AddRow(rs, name + "'");
        if (!name.empty()) AddRow(rs, name.substr(0, name.size() - 1));
        rs.Close();
    }
    const std::vector<Variant> before = Names();
    if (std::find(before.begin(), before.end(), Variant{name}) == before.end()) Fail("the added rows cannot be read back");
    std::vector<Variant> expected;
    for (const auto& v : before)
        if (!(std::holds_alternative<std::string>(v) && std::get<std::string>(v) == name)) expected.push_back(v);

    try {
        dbsPIC.Execute(RemovalStatement(name), dbFailOnError);
    } catch (const Error& e) {
        // The statement text ends at a zero byte, leaving the literal open:
        // refused, and nothing removed. Any other name must run.
        if (name.find('\0') == std::string::npos) Fail("removal refused: " + e.Description());
        expected = before;
    }
    if (Names() != expected) Fail("the removal touched a row of another name");
    return 0;  // the transaction rolls back
}
