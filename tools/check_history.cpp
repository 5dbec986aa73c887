#include "tools/check_history.h"

#include <string>

#include "store/history.h"
#include "tools/cli/command.h"
#include "keeper/stored_picture.h"

int CheckHistory(Database& db, const std::string& path) {
    if (!HasHistory(db)) return exitcode::Ok;
    int status = exitcode::Ok;
    const bool history = IsHistoryTable(db);
    for (const auto& fault : HistoryFaults(db))
        status = ReportFailure("기록 검사: " + fault +
                               (history ? " 데이터베이스의 주인이 'kaldoria-db history " + path + " --enable'을 실행하면 "
                                          "고쳐집니다 (지금까지의 버전은 그대로 남습니다)."
                                        : " 그 표를 다른 이름으로 옮긴 뒤 'kaldoria-db history " + path +
                                              " --enable'로 기록을 켜십시오."));
    if (!history) return status;
    for (const std::string& note : HistoryBlindSpots(db)) Say("기록 검사 참고: " + note);
    if (!CanReadHistory(db)) {
        Say("기록 검사: 이 역할에는 기록(pic_history)을 읽을 권한이 없어 버전은 검사하지 않았습니다");
        return status;
    }
    Recordset rs = db.OpenRecordset(kHistoryTable, dbOpenTable, dbReadOnly);
    const Field pic = rs.Fields("pic"), name = rs.Fields("pic_name"), id = rs.Fields("id"), bytes = rs.Fields("bytes");
    long versions = 0, unreadable = 0, unchecked = 0, unkept = 0;
    for (; !rs.EOF_(); rs.MoveNext()) {
        ++versions;
        const Variant size = bytes.Value();
        if (!IsNull(size) && std::stoll(TextOf(size)) > static_cast<long long>(kWholeValueLimit)) {
            ++unkept;
            continue;
        }
        const StoredPicture picture = InspectPicture(pic);
        if (picture.readable) continue;
        ++(picture.outOfMemory ? unchecked : unreadable);
        Say("  기록의 버전 " + TextOf(id.Value()) + " " + ShownName(name.Value()) + ": " + picture.problem);
    }
    rs.Close();
    const std::string skipped =
        unkept ? " (너무 커서 그림을 보관하지 않은 " + std::to_string(unkept) + "개 빼고)" : std::string();
    if (unreadable || unchecked) {
        Say("기록 검사: 버전 " + std::to_string(versions) + "개 가운데 " +
            (unreadable ? std::to_string(unreadable) + "개는 읽을 수 있는 그림이 아닙니다" : std::string()) +
            (unreadable && unchecked ? ", " : "") +
            (unchecked ? std::to_string(unchecked) + "개는 메모리가 부족해 검사하지 못했습니다" : std::string()));
        return unreadable ? exitcode::UnreadablePictures : exitcode::Failure;
    }
    Say("기록 검사: 버전 " + std::to_string(versions) + "개 모두 읽을 수 있습니다" + skipped);
    return status;
}
