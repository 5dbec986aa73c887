#include "store/save.h"

#include "store/picture_table.h"
#include "store/transfer.h"

std::string RemovalStatement(const std::string& name) {
    std::string quoted;
    quoted.reserve(name.size());
    for (char c : name) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return std::string("DELETE FROM pic_list ") + "WHERE  pic_name = '" + quoted + "'";
}

bool StorePicture(Database& dbsPIC, const std::string& name, const std::string& file, FileSystem& files,
                  MessageBox& messages) {
    RequireWritablePictureTable(dbsPIC);
    Transaction transaction(dbsPIC);
    // Two PCs saving one name at once take turns, so one row remains.
    dbsPIC.LockKey(std::string(kPictureTable) + "\n" + name);
    dbsPIC.Execute(RemovalStatement(name), dbFailOnError);
    Recordset rs = dbsPIC.OpenRecordset("pic_list", dbOpenTable);
    rs.AddNew();
    Field pic = rs.Fields("pic");
    bool stored = FileToPICField(file, pic, files, messages);
    if (stored) {
        rs.Fields("pic_name").SetValue(name);
        rs.Update();
        rs.SetBookmark(rs.LastModified());
    } else {
        rs.CancelUpdate();
    }
    rs.Close();
    if (stored) transaction.Commit();
    return stored;
}
