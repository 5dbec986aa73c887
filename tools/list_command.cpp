// list: every row of the book in table order, one line each.
#include "engine/sqlite/interrupted_write.h"
#include "tools/cli/command.h"
#include "keeper/stored_picture.h"
#include "tools/commands.h"

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
        Recordset rs = opened.db().OpenRecordset("pic_list", dbOpenTable, dbReadOnly);
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
        Say("도장 " + std::to_string(rows) + "개" +
            (unreadable ? ", 그 가운데 그림이 아닌 값 " + std::to_string(unreadable) + "개" : std::string()));
        return exitcode::Ok;
    } catch (const Error& e) {
        return ReportError(e);
    }
}
