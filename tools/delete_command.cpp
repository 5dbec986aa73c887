// delete: every row of a name removed, in one transaction.
#include "store/history.h"
#include "store/keeper.h"
#include "text/korean.h"
#include "tools/cli/command.h"
#include "keeper/history_text.h"
#include "tools/commands.h"

int RunDelete(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "NAME이라는 이름의 행을 모두 한 트랜잭션으로 지웁니다. 이름은 저장할 때와 같은 규칙으로\n"
        "찾습니다. 그런 이름이 없으면 아무것도 바꾸지 않고 상태 1로 끝납니다. 기록이 있는 데이터베이스는\n"
        "지운 행을 기록에 남기므로 'kaldoria-db restore PATH NAME'으로 되돌릴 수 있습니다.");
    parser.addPositionalArgument("PATH", kDatabaseArgument);
    parser.addPositionalArgument("NAME", "지울 이름");
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {2}, status)) return status;
    const QStringList args = parser.positionalArguments();
    const std::string path = LocalPath(args[0]);
    std::string name;
    if (!StampNameArgument(args[1], name)) return exitcode::Failure;
    try {
        OpenedDatabase opened(path, false);
        Database& db = opened.db();
        const bool history = HasHistory(db), keeps = history && HistoryKeeps(db);
        const long unkept = keeps ? CountUnkeptRows(db, name) : 0;
        const long removed = DeletePictures(db, name);
        std::string after = ".";
        if (keeps && unkept == 0)
            after = "; 기록에 남아 있어 되돌릴 수 있습니다.";
        else if (keeps && unkept < removed)
            after = "; 그 가운데 " + std::to_string(removed - unkept) + "개는 기록에 남아 있어 되돌릴 수 있습니다.";
        else if (history && !keeps)
            after = "; 기록이 꺼져 있어 되돌릴 수 없습니다 ('kaldoria-db check " + path + "'가 까닭과 고치는 법을 알려 "
                    "줍니다).";
        Say(WithParticle(ShownName(name), Particle::EulReul) + " 지웠습니다 (도장 " + std::to_string(removed) + "개)" + after);
        WarnUnkept(name, unkept);
    } catch (const Error& e) {
        return ReportError(e);
    }
    return exitcode::Ok;
}
