// history: the versions a book keeps of its replaced and deleted stamps,
// and giving a book its history.
#include "store/history.h"
#include "tools/cli/command.h"
#include "keeper/history_text.h"
#include "tools/commands.h"

namespace {

std::string Line(const KeptVersion& v) {
    std::string size = v.bytes ? std::to_string(*v.bytes) + " 바이트" : std::string("Null");
    if (!v.kept) size += " (너무 커서 그림은 보관하지 않음)";
    return "버전 " + std::to_string(v.id) + "\t" + ShownName(v.name) + "\t" + size + "\t" + LocalTimeOf(v.leftAtUtc) +
           (v.who.empty() ? std::string() : "\t" + v.who);
}

int Enable(const std::string& path) {
    OpenedDatabase opened(path, false);
    Database& db = opened.db();
    const bool mending = HasHistory(db);
    if (!EnableHistory(db)) {
        Say("'" + path + "'에는 이미 기록이 있고, 바뀌거나 지워지는 도장을 모두 남기고 있습니다.");
    } else if (mending) {
        Say("'" + path + "'의 기록을 고쳤습니다: 트리거를 다시 만들었고, 지금까지의 버전은 그대로 남아 있습니다.");
    } else {
        Say("'" + path + "'에 기록을 켰습니다: 이제부터 바뀌거나 지워지는 도장은 표 pic_history에 남습니다.");
    }
    for (const std::string& note : HistoryBlindSpots(db)) Say("참고: " + note);
    return exitcode::Ok;
}

}  // namespace

int RunHistory(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "데이터베이스가 남긴 기록을 보여 줍니다: 저장으로 바뀌었거나 지워졌거나 이름이 바뀐 행의 버전마다\n"
        "버전 번호, 이름, 크기, 그 행이 떠난 시각(이 PC의 시간)과, 서버에서는 지운 역할과 주소.\n"
        "NAME을 주면 그 이름의 버전만 보여 줍니다. 기록은 데이터베이스의 트리거가 남기므로 창, 이 도구,\n"
        "이전 Kaldoria와 sqlite3 셸이나 psql이 바꾼 행도 남습니다.\n"
        "--enable은 기록이 없는 데이터베이스에 기록을 켜고, 꺼지거나 망가진 기록(트리거가 없거나 꺼진 것,\n"
        "'kaldoria-db check'가 알려 줍니다)은 지금까지의 버전을 그대로 둔 채 고칩니다 (create와 link가 만든\n"
        "데이터베이스는 이미 기록이 있습니다).");
    parser.addPositionalArgument("PATH", kDatabaseArgument);
    parser.addPositionalArgument("NAME", "이 이름의 버전만", "[NAME]");
    const QCommandLineOption enable("enable", "이 데이터베이스에 기록을 켭니다.");
    parser.addOption(enable);
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {1, 2}, status)) return status;
    const QStringList args = parser.positionalArguments();
    const std::string path = LocalPath(args[0]);
    std::optional<std::string> name;
    if (args.size() == 2 && !StampNameArgument(args[1], name.emplace())) return exitcode::Failure;
    try {
        if (parser.isSet(enable)) {
            if (name) return ReportFailure("--enable에는 이름을 주지 않습니다.");
            return Enable(path);
        }
        OpenedDatabase opened(path, true);
        if (const std::string none = NoHistoryMessage(opened.db(), path); !none.empty()) return ReportFailure(none);
        const std::vector<KeptVersion> versions = ListVersions(opened.db(), name);
        for (const KeptVersion& v : versions) Say(Line(v));
        Say("버전 " + std::to_string(versions.size()) + "개");
        if (const auto faults = HistoryFaults(opened.db()); !faults.empty())
            ReportFailure("주의: 지금은 기록이 꺼져 있어 바뀌거나 지워지는 도장이 남지 않습니다: " + faults.front() +
                          " 'kaldoria-db check " + path + "'가 고치는 법을 알려 줍니다.");
    } catch (const Error& e) {
        return ReportError(e);
    }
    return exitcode::Ok;
}
