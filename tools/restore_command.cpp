// restore: a kept version put back as the current row of its name.
#include "store/history.h"
#include "text/korean.h"
#include "tools/cli/command.h"
#include "keeper/history_text.h"
#include "tools/commands.h"

int RunRestore(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "기록에 남은 NAME의 버전 하나를 지금 행으로 바이트 그대로 되돌립니다 (VERSION을 주지 않으면 가장\n"
        "최근 버전). 지금 NAME인 행들은 지워지고 기록에 남으므로, 되돌린 것도 되돌릴 수 있습니다. 버전\n"
        "번호는 'kaldoria-db history PATH NAME'이 보여 줍니다.");
    parser.addPositionalArgument("PATH", kDatabaseArgument);
    parser.addPositionalArgument("NAME", "되돌릴 이름");
    parser.addPositionalArgument("VERSION", "버전 번호 (주지 않으면 가장 최근 버전)", "[VERSION]");
    // After PATH every argument is a name or a version, even one that starts
    // with '-' ("-1" is a version to refuse by its number, not an option).
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {2, 3}, status)) return status;
    const QStringList args = parser.positionalArguments();
    const std::string path = LocalPath(args[0]);
    std::string name;
    if (!StampNameArgument(args[1], name)) return exitcode::Failure;
    std::optional<long long> version;
    if (args.size() == 3) {
        bool ok = false;
        version = args[2].toLongLong(&ok);
        if (!ok || *version <= 0)
            return ReportFailure("버전 " + WithParticle("'" + args[2].toStdString() + "'", Particle::EunNeun) + " 버전 번호가 아닙니다 (1 이상의 정수).");
    }
    try {
        OpenedDatabase opened(path, false);
        Database& db = opened.db();
        if (const std::string none = NoHistoryMessage(db, path); !none.empty()) return ReportFailure(none);
        const long unkept = CountUnkeptRows(db, name);
        const RestoredVersion r = RestoreVersion(db, name, version);
        Say(WithParticle(ShownName(name), Particle::EulReul) + " 버전 " + std::to_string(r.id) + "(" + std::to_string(r.bytes) +
            " 바이트)로 되돌렸습니다" +
            (r.replaced ? "; 바뀐 도장 " + std::to_string(r.replaced) + "개는 기록에 남았습니다." : std::string(".")));
        WarnUnkept(name, unkept);
    } catch (const Error& e) {
        return ReportError(e);
    }
    return exitcode::Ok;
}
