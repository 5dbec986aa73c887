#include "store/keeper.h"

#include <algorithm>

#include "store/picture_table.h"
#include "store/save.h"
#include "text/korean.h"

namespace {

long CountNamed(Database& db, const std::string& name) {
    Recordset rs = db.OpenRecordset("SELECT count(*) FROM pic_list " + NameCondition(name), dbOpenSnapshot);
    const long count = std::stol(TextOf(rs.Fields(0).Value()));
    rs.Close();
    return count;
}

Error NotFound(const std::string& name) {
    return Error(err::ItemNotFound, "이름이 \"" + name + "\"인 도장이 없습니다. 아무것도 바꾸지 않았습니다.");
}

}  // namespace

long DeletePictures(Database& db, const std::string& name) {
    RequireWritablePictureTable(db);
    Transaction t(db);
    db.LockKey(std::string(kPictureTable) + "\n" + name);
    RequireTextNames(db);
    const long count = CountNamed(db, name);
    if (count == 0) throw NotFound(name);
    db.Execute(RemovalStatement(name), dbFailOnError);
    t.Commit();
    return count;
}

long RenamePictures(Database& db, const std::string& from, const std::string& to, bool replace) {
    if (from == to)
        throw Error(err::InvalidArgument, "새 이름 " + WithParticle("\"" + to + "\"", Particle::IGa) + " 지금 이름과 같습니다. 아무것도 바꾸지 않았습니다.");
    // A name no statement can find (a NUL in it) is refused before anything is
    // locked; the rows get the new name as a value, the old one is matched as the save matches it.
    NameCondition(to);
    RequireWritablePictureTable(db);
    Transaction t(db);
    // Both names are held, always in the same order, so that two renames
    // between the same names take turns instead of waiting on each other.
    const auto [first, second] = std::minmax(from, to);
    db.LockKey(std::string(kPictureTable) + "\n" + first);
    db.LockKey(std::string(kPictureTable) + "\n" + second);
    RequireTextNames(db);
    const long count = CountNamed(db, from);
    if (count == 0) throw NotFound(from);
    if (const long taken = CountNamed(db, to); taken > 0) {
        if (!replace)
            throw Error(err::DuplicateKey, "이름이 \"" + to + "\"인 도장이 이미 있습니다 (" + std::to_string(taken) +
                                               "개). 이름을 바꾸지 않았습니다.");
        db.Execute(RemovalStatement(to), dbFailOnError);
    }
    db.Execute("UPDATE pic_list SET pic_name = $1 " + NameCondition(from), {to}, dbFailOnError);
    t.Commit();
    return count;
}
