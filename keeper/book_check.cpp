#include "keeper/book_check.h"

#include <algorithm>

#include "keeper/stored_picture.h"

long PictureCheck::Unreadable() const {
    return static_cast<long>(std::count_if(unreadable.begin(), unreadable.end(),
                                           [](const UnreadableRow& r) { return !r.outOfMemory; }));
}

long PictureCheck::Unchecked() const { return static_cast<long>(unreadable.size()) - Unreadable(); }

PictureCheck CheckPictures(Database& db, const std::function<bool(long)>& step) {
    PictureCheck check;
    Recordset rs = db.OpenRecordset("pic_list", dbOpenTable, dbReadOnly);
    const Field pic = rs.Fields("pic"), name = rs.Fields("pic_name");
    for (; !rs.EOF_(); rs.MoveNext()) {
        ++check.rows;
        const StoredPicture picture = InspectPicture(pic);
        if (!picture.readable) check.unreadable.push_back({check.rows, name.Value(), picture.problem, picture.outOfMemory});
        if (step && !step(check.rows)) {
            check.cancelled = true;
            break;
        }
    }
    rs.Close();
    return check;
}
