// rename: every row of a name given another, in one transaction.
#include "store/history.h"
#include "store/keeper.h"
#include "text/korean.h"
#include "tools/cli/command.h"
#include "keeper/history_text.h"
#include "tools/commands.h"

int RunRename(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "OLD라는 이름의 행을 모두 NEW라는 이름으로 한 트랜잭션으로 바꿉니다. 이름은 저장할 때와 같은\n"
        "규칙으로 찾습니다. NEW라는 이름의 행이 이미 있으면 거절하고, --replace를 주면 그 행들을 먼저\n"
        "지웁니다 (기록이 있으면 기록에 남습니다). OLD가 없으면 상태 1로 끝납니다.");
    parser.addPositionalArgument("PATH", kDatabaseArgument);
    parser.addPositionalArgument("OLD", "지금 이름");
    parser.addPositionalArgument("NEW", "새 이름");
    const QCommandLineOption replace("replace", "NEW라는 이름의 도장이 이미 있으면 그 도장을 지우고 바꿉니다.");
    parser.addOption(replace);
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {3}, status)) return status;
    const QStringList args = parser.positionalArguments();
    const std::string path = LocalPath(args[0]);
    std::string from, to;
    if (!StampNameArgument(args[1], from) || !StampNameArgument(args[2], to)) return exitcode::Failure;
    try {
        OpenedDatabase opened(path, false);
        Database& db = opened.db();
        const long unkeptFrom = CountUnkeptRows(db, from);
        const long unkeptTo = parser.isSet(replace) ? CountUnkeptRows(db, to) : 0;
        const long renamed = RenamePictures(db, from, to, parser.isSet(replace));
        Say(WithParticle(ShownName(from), Particle::EulReul) + " " + WithParticle(ShownName(to), Particle::EuroRo) + " 바꾸었습니다 (도장 " + std::to_string(renamed) + "개).");
        WarnUnkept(from, unkeptFrom);
        WarnUnkept(to, unkeptTo);
    } catch (const Error& e) {
        if (e.Number() == err::DuplicateKey)
            return ReportError(Error(e.Number(), e.Description() + " 그 도장을 지우고 바꾸려면 --replace를 붙이십시오."));
        return ReportError(e);
    }
    return exitcode::Ok;
}
