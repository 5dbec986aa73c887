#include "store/picture_table.h"

#include <string>

namespace {
const std::string kPlainTable = "CREATE TABLE pic_list (pic_name TEXT, pic BLOB)";
}  // namespace

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
