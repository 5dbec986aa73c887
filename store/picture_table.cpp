#include "store/picture_table.h"

#include <string>

namespace {

// The table each kind of book is made with, and its name index.
const std::string kPlainTable = "CREATE TABLE pic_list (pic_name TEXT, pic BLOB)";
const std::string kServerTable = "CREATE TABLE pic_list (pic_name text, pic bytea)";
const std::string kNameIndex = "CREATE INDEX pic_list_pic_name ON pic_list (pic_name)";

}  // namespace

void CreatePictureTable(Database& db) {
    Transaction t(db);
    if (db.Server().empty()) {
        db.Execute(kPlainTable, dbFailOnError);
    } else {
        db.Execute(kServerTable, dbFailOnError);
        // Uncompressed and out of line, so that reading a piece reads only that piece.
        db.Execute("ALTER TABLE pic_list ALTER COLUMN pic SET STORAGE EXTERNAL", dbFailOnError);
    }
    db.Execute(kNameIndex, dbFailOnError);
    t.Commit();
}

void CheckPictureTable(Database& db) {
    if (db.ShapeOf(kPictureTable) == TableShape::WithoutRowid)
        throw Error(err::InvalidOperation,
                    "데이터베이스 '" + db.Name() + "'의 표 pic_list는 WITHOUT ROWID 표라서 그림을 조각으로 읽고 "
                    "쓸 수 없습니다. 보통 표(" + kPlainTable + ")로 옮긴 뒤 사용하십시오.");
}

void RequireWritablePictureTable(Database& db) {
    if (db.ShapeOf(kPictureTable) == TableShape::View)
        throw Error(err::ReadOnly, "데이터베이스 '" + db.Name() + "'의 pic_list는 표가 아니라 뷰라서 그림을 저장할 수 "
                                   "없습니다. 그림은 읽을 수만 있습니다.");
}

void RequireTextNames(Database& db) {
    if (!db.Server().empty()) return;
    // A BLOB sorts after every text and a number before it, so both ranges
    // are short seeks of the name index. A number counts only where the
    // literal '<its text>' does not compare equal to it, as in the removal
    // statement (a column without a number affinity).
    Recordset rs = db.OpenRecordset(
        "SELECT count(*) FROM pic_list WHERE pic_name >= x'' OR "
        "(pic_name < '' AND pic_name <> (CAST(pic_name AS TEXT) || ''))",
        dbOpenSnapshot);
    const std::string count = TextOf(rs.Fields(0).Value());
    rs.Close();
    if (count == "0") return;
    throw Error(err::InvalidOperation,
                "데이터베이스 '" + db.Name() + "'의 표 pic_list에 이름(pic_name)이 글자가 아니라 BLOB이나 숫자로 "
                "저장된 행이 " + count + "개 있습니다 (다른 프로그램이 쓴 행). 같은 이름으로 저장해도 이런 행은 "
                "지워지지 않아 옛 그림이 남으므로, 이 표에는 그림을 저장하지 않습니다. 이름을 글자로 바꾼 뒤 "
                "사용하십시오. 바꾸는 SQL 문:\nUPDATE pic_list SET pic_name = CAST(pic_name AS TEXT) "
                "WHERE typeof(pic_name) IN ('blob', 'integer', 'real')");
}
