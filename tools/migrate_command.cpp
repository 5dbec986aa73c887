// migrate: an older Jet file into a local book, or a book onto the server.
#include <cstdio>
#include <string>

#include "engine/sqlite/link_file.h"
#include "migration/jet_migrate.h"
#include "migration/server_migrate.h"
#include "text/korean.h"
#include "tools/cli/command.h"
#include "tools/commands.h"

namespace {

std::string Grouped(std::uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string Shown(const std::optional<std::string>& name) { return name ? "\"" + *name + "\"" : "(Null)"; }

}  // namespace

int RunMigrate(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "이전 Jet 형식의 dojang.mdb를 Kaldoria 데이터베이스로 변환합니다.\n"
        "PATH만 주면 그 자리에서 변환하고 원본은 옆에 새 이름(예: dojang.jet.mdb)으로 남겨 둡니다.\n"
        "--to NEW를 주면 NEW에 새 데이터베이스를 만들고 PATH는 그대로 둡니다.\n"
        "--to에 연결 파일(kaldoria-db link로 만든 것)을 주면 PATH(Jet 또는 Kaldoria 데이터베이스)의 모든 행을\n"
        "한 트랜잭션으로 서버의 빈 pic_list에 올리고, 개수와 크기와 SHA-256을 비교한 뒤에야 확정합니다.");
    parser.addPositionalArgument("PATH", "변환할 Jet 형식의 데이터베이스 파일 (서버로 올릴 때는 Kaldoria 데이터베이스도)");
    const QCommandLineOption toOption("to", "새 데이터베이스를 만들 곳 (이미 있으면 거부합니다), 또는 서버로 올릴 연결 파일", "NEW");
    parser.addOption(toOption);
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {1}, status)) return status;
    if (parser.isSet(toOption) && parser.value(toOption).isEmpty()) {
        return ReportUsage(parser, arguments, "--to에 새 데이터베이스나 연결 파일을 주십시오.");
    }
    const std::string path = LocalPath(parser.positionalArguments()[0]);
    std::optional<std::string> to;
    if (parser.isSet(toOption)) to = LocalPath(parser.value(toOption));
    try {
        const bool toServer = to && IsLinkFile(*to);
        MigrationResult r = toServer ? MigrateToServer(path, *to) : MigrateJetDatabase(path, to);
        const std::string count = std::to_string(r.rows.size());
        if (toServer)
            Say("'" + path + "'에서 도장 " + count + "개, 모두 " + Grouped(r.bytes) + "바이트를 서버 " + WithParticle(r.target, Particle::EuroRo) +
                " 옮겼습니다.");
        else
            Say("Jet " + std::to_string(r.jetVersion) + " 형식의 '" + path + "'에서 도장 " + count + "개, 모두 " +
                Grouped(r.bytes) + "바이트를 옮겼습니다.");
        for (const CarriedRow& row : r.rows)
            Say("  " + Shown(row.name) + ": " + (row.valueIsNull ? "그림 없음 (Null)" : Grouped(row.bytes) + "바이트"));
        if (!toServer) Say("새 데이터베이스: '" + r.target + "'");
        if (!r.keptOriginal.empty()) Say("원본은 " + WithParticle("'" + r.keptOriginal + "'", Particle::EuroRo) + " 남겨 두었습니다.");
        return exitcode::Ok;
    } catch (const Error& e) {
        return ReportError(e);
    }
}
