#include "store/queries.h"

std::vector<std::string> ColumnText(Database& db, const std::string& sql, const Params& params) {
    Recordset rs = db.OpenRecordset(sql, dbOpenSnapshot, params);
    std::vector<std::string> values;
    for (; !rs.EOF_(); rs.MoveNext()) values.push_back(TextOf(rs.Fields(0).Value()));
    rs.Close();
    return values;
}

std::string FirstText(Database& db, const std::string& sql, const Params& params) {
    Recordset rs = db.OpenRecordset(sql, dbOpenSnapshot, params);
    std::string value = rs.EOF_() ? std::string() : TextOf(rs.Fields(0).Value());
    rs.Close();
    return value;
}
