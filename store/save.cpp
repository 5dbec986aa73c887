#include "store/save.h"

#include "store/picture_table.h"
#include "store/transfer.h"

#include <utility>
#include <vector>

std::string NameCondition(const std::string& name) {
    if (name.find('\0') != std::string::npos) {
        std::string shown;
        for (char c : name) shown += c == '\0' ? std::string("\\x00") : std::string(1, c);
        throw Error(err::InvalidArgument, "이름 \"" + shown + "\"에는 NUL 문자(\\x00)가 들어 있어 이 이름으로는 저장할 수 "
                                          "없습니다. 다른 이름으로 저장하십시오.");
    }
    std::string quoted;
    quoted.reserve(name.size());
    for (char c : name) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return "WHERE  pic_name = '" + quoted + "'";
}

std::string RemovalStatement(const std::string& name) { return "DELETE FROM pic_list " + NameCondition(name); }

namespace {

// Keeps FileToPICField's messages until the save's transaction has ended: a
// box left open while the book is locked would hold every other save (on a
// linked book, every other PC's save of the name) until someone clicks it.
class HeldMessages : public MessageBox {
public:
    void MsgBox(const std::string& prompt, int style) override { held_.emplace_back(prompt, style); }
    void ShowOn(MessageBox& messages) {
        for (const auto& [prompt, style] : held_) messages.MsgBox(prompt, style);
        held_.clear();
    }

private:
    std::vector<std::pair<std::string, int>> held_;
};

}  // namespace

bool StorePicture(Database& dbsPIC, const std::string& name, const std::string& file, FileSystem& files,
                  MessageBox& messages) {
    RequireWritablePictureTable(dbsPIC);
    HeldMessages held;
    bool stored = false;
    {
        Transaction transaction(dbsPIC);
        // Two PCs saving one name at once take turns, so one row remains.
        dbsPIC.LockKey(std::string(kPictureTable) + "\n" + name);
        RequireTextNames(dbsPIC);
        dbsPIC.Execute(RemovalStatement(name), dbFailOnError);
        Recordset rs = dbsPIC.OpenRecordset("pic_list", dbOpenTable);
        rs.AddNew();
        Field pic = rs.Fields("pic");
        stored = FileToPICField(file, pic, files, held);
        if (stored) {
            rs.Fields("pic_name").SetValue(name);
            rs.Update();
            rs.SetBookmark(rs.LastModified());
        } else {
            rs.CancelUpdate();
        }
        rs.Close();
        if (stored) transaction.Commit();
    }  // rolled back here unless committed
    held.ShowOn(messages);
    return stored;
}
