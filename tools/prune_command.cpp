// prune: old versions forgotten, for books that must stay small.
#include "store/history.h"
#include "text/korean.h"
#include "tools/cli/command.h"
#include "keeper/history_text.h"
#include "tools/commands.h"

int RunPrune(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "기록에서 오래된 버전을 한 트랜잭션으로 잊습니다: --before는 그 시각 전에 바뀌거나 지워진 버전을,\n"
        "--keep은 이름마다 가장 최근 N개를 뺀 나머지를 잊습니다. 둘을 함께 주면 어느 하나에라도 걸리는\n"
        "버전을 잊습니다. 지금 행은 건드리지 않습니다. 비워진 공간은 다음 저장들이 다시 씁니다.");
    parser.addPositionalArgument("PATH", kDatabaseArgument);
    const QCommandLineOption before("before", "이 시각(이 PC의 시간, 예: 2026-01-31 또는 '2026-01-31 18:00') 전의 버전을 잊습니다.",
                                    "DATE");
    const QCommandLineOption keep("keep", "이름마다 가장 최근 N개만 남깁니다.", "N");
    parser.addOption(before);
    parser.addOption(keep);
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {1}, status)) return status;
    const std::string path = LocalPath(parser.positionalArguments()[0]);
    if (!parser.isSet(before) && !parser.isSet(keep)) {
        return ReportUsage(parser, arguments, "--before나 --keep 가운데 하나는 주어야 합니다.");
    }
    std::optional<std::string> utc;
    std::optional<long long> count;
    if (parser.isSet(before)) {
        utc = UtcOfLocal(parser.value(before).toStdString());
        if (!utc)
            return ReportFailure("--before " + WithParticle("'" + parser.value(before).toStdString() + "'", Particle::EunNeun) +
                                 " 날짜가 아닙니다. 2026-01-31이나 '2026-01-31 18:00'처럼 주십시오.");
    }
    if (parser.isSet(keep)) {
        bool ok = false;
        count = parser.value(keep).toLongLong(&ok);
        if (!ok || *count < 0)
            return ReportFailure("--keep " + WithParticle("'" + parser.value(keep).toStdString() + "'", Particle::EunNeun) + " 0 이상의 정수가 아닙니다.");
    }
    try {
        OpenedDatabase opened(path, false);
        Database& db = opened.db();
        if (const std::string none = NoHistoryMessage(db, path); !none.empty()) return ReportFailure(none);
        const long forgotten = PruneHistory(db, utc, count);
        Say("기록에서 버전 " + std::to_string(forgotten) + "개를 잊었습니다 (남은 버전 " +
            std::to_string(ListVersions(db, std::nullopt).size()) + "개).");
    } catch (const Error& e) {
        return ReportError(e);
    }
    return exitcode::Ok;
}
