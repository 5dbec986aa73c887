// list and check: read-only looks at a picture database.
#include <QFile>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/file_kind.h"
#include "platform/interrupted_write.h"
#include "tools/command.h"
#include "tools/commands.h"
#include "tools/stored_picture.h"

namespace {

const char* const kDatabaseArgument = "데이터베이스 파일 (예: dojang.mdb)";

std::string RowLabel(long row, const Variant& name) { return std::to_string(row) + "번째 행 " + ShownName(name); }

const char* const kRolledBack = "끝나지 않은 저장: 저장하던 프로그램이 중간에 끝나 남은 저널로 저장 전 상태로 되돌렸습니다";

}  // namespace

int RunList(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "표 pic_list의 모든 행을 표 순서대로 한 줄에 하나씩 보여 줍니다: 이름(따옴표 안, Null은 Null),\n"
        "바이트 수, 그리고 그림의 너비×높이와 형식 또는 그림이 아닌 까닭.");
    parser.addPositionalArgument("PATH", kDatabaseArgument);
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {1}, status)) return status;
    try {
        const std::string path = LocalPath(parser.positionalArguments()[0]);
        // Said on stderr, so that the listing itself keeps its form.
        if (RollBackInterruptedWrite(path)) ReportFailure(kRolledBack);
        OpenedDatabase opened(path, true);
        Recordset rs = opened.db().OpenRecordset("pic_list", dbOpenTable);
        const Field pic = rs.Fields("pic"), name = rs.Fields("pic_name");
        long rows = 0, unreadable = 0;
        for (; !rs.EOF_(); rs.MoveNext()) {
            const StoredPicture picture = InspectPicture(pic);
            ++rows;
            if (!picture.readable && !picture.outOfMemory) ++unreadable;
            std::string line = ShownName(name.Value());
            line += '\t';
            line += std::to_string(picture.bytes);
            line += " 바이트\t";
            line += Describe(picture);
            Say(line);
        }
        rs.Close();
        Say("행 " + std::to_string(rows) + "개" +
            (unreadable ? ", 그 가운데 그림이 아닌 값 " + std::to_string(unreadable) + "개" : std::string()));
        return exitcode::Ok;
    } catch (const Error& e) {
        return ReportError(e);
    }
}

int RunCheck(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "데이터베이스 엔진의 무결성 검사(PRAGMA integrity_check)를 하고, 저장된 모든 값이\n"
        "읽을 수 있는 그림인지 확인합니다. 파일은 읽기만 합니다. 다만 저장하던 프로그램이 중간에\n"
        "끝나 저널이 남았으면, 먼저 그 저장을 되돌리고 그렇게 했다고 알립니다.\n\n"
        "종료 상태: 0 이상 없음, 1 검사할 수 없음 (파일이 없거나 표가 없는 등),\n"
        "2 잘못된 명령줄, 3 데이터베이스 파일이 손상됨, 4 그림이 아닌 값이 있음.");
    parser.addPositionalArgument("PATH", kDatabaseArgument);
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {1}, status)) return status;
    const std::string path = LocalPath(parser.positionalArguments()[0]);
    try {
        std::unique_ptr<OpenedDatabase> opened;
        try {
            if (RollBackInterruptedWrite(path)) Say(kRolledBack);
            opened = std::make_unique<OpenedDatabase>(path, true);
        } catch (const Error& e) {
            if (e.Number() != err::NotADatabase || SniffDatabaseFile(path) != DatabaseKind::SQLite) throw;
            Say("무결성 검사: 손상됨 - " + std::string(e.what()));
            return exitcode::IntegrityFailure;
        }
        Database& db = opened->db();

        const std::vector<std::string> problems = db.CheckIntegrity();
        if (problems != std::vector<std::string>{"ok"}) {
            Say("무결성 검사: 손상됨");
            for (const auto& p : problems) Say("  " + p);
            return exitcode::IntegrityFailure;
        }
        Say("무결성 검사: 이상 없음");

        Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
        const Field pic = rs.Fields("pic"), name = rs.Fields("pic_name");
        long rows = 0, unreadable = 0, unchecked = 0;
        for (; !rs.EOF_(); rs.MoveNext()) {
            ++rows;
            const StoredPicture picture = InspectPicture(pic);
            if (picture.readable) continue;
            ++(picture.outOfMemory ? unchecked : unreadable);
            Say("  " + RowLabel(rows, name.Value()) + ": " + picture.problem);
        }
        rs.Close();
        if (unreadable) {
            Say("그림 검사: " + std::to_string(rows) + "개 가운데 " + std::to_string(unreadable) +
                "개는 읽을 수 있는 그림이 아닙니다" +
                (unchecked ? ", " + std::to_string(unchecked) + "개는 메모리가 부족해 검사하지 못했습니다" : std::string()));
            return exitcode::UnreadablePictures;
        }
        if (unchecked) {
            // Not a finding about the file: the check could not be finished.
            Say("그림 검사: " + std::to_string(rows) + "개 가운데 " + std::to_string(unchecked) +
                "개는 메모리가 부족해 검사하지 못했습니다");
            return ReportFailure("메모리가 부족해 그림 " + std::to_string(unchecked) +
                                 "개를 검사하지 못했습니다. 메모리를 더 쓸 수 있을 때 다시 검사하십시오.");
        }
        Say("그림 검사: " + std::to_string(rows) + "개 모두 읽을 수 있습니다");
        return exitcode::Ok;
    } catch (const Error& e) {
        return ReportError(e);
    }
}
