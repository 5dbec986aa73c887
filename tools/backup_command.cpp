// backup: a consistent copy of a picture database, safe while others save.

#include <cstdio>

#include "keeper/backup.h"
#include "os/process.h"
#include "engine/sqlite/interrupted_write.h"
#include "text/korean.h"
#include "tools/cli/command.h"
#include "tools/commands.h"

int RunBackup(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "데이터베이스 PATH를 새 파일 NEW로 백업합니다. 엔진의 온라인 백업으로 복사하므로 Kaldoria나\n"
        "다른 프로그램이 저장하는 동안에도 한 시점의 온전한 사본이 됩니다. 사본은 무결성 검사를\n"
        "통과한 뒤에야 NEW라는 이름을 얻으며, 있는 파일은 덮어쓰지 않습니다.\n"
        "PATH가 서버에 연결된 파일이면 서버의 도장 목록을 한 시점 그대로 새 로컬 데이터베이스 NEW에 옮겨 담습니다.");
    parser.addPositionalArgument("PATH", "백업할 데이터베이스 파일 (예: dojang.mdb)");
    parser.addPositionalArgument("NEW", "새로 만들 백업 파일");
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {2}, status)) return status;
    const std::string path = LocalPath(parser.positionalArguments()[0]);
    const std::string copy = LocalPath(parser.positionalArguments()[1]);
    const bool terminal = IsTerminal(stdout);
    bool shown = false;
    try {
        if (RollBackInterruptedWrite(path)) Say("끝나지 않은 저장이 남아 있어, 먼저 저장 전 상태로 되돌렸습니다.");
        const BackupResult r = BackupBook(path, copy, [&](long long done, long long total) {
            // Only a copy of more than one step is worth a progress line.
            if (!terminal || (!shown && done == total)) return;
            ShowProgress("백업하는 중 " + std::to_string(total ? done * 100 / total : 100) + "%");
            shown = true;
        });
        if (shown) EndProgress();
        if (r.linked) {
            Say("서버 " + r.server + "의 도장 " + std::to_string(r.stamps) + "개(" + std::to_string(r.bytes) +
                " 바이트)" + (r.historyVersions >= 0 ? "와 기록의 버전 " + std::to_string(r.historyVersions) + "개" : "") +
                (r.ledgerRows >= 0 ? ", 날인 대장 " + std::to_string(r.ledgerRows) + "건" : "") +
                "를 " + WithParticle("'" + copy + "'", Particle::EuroRo) + " 백업했습니다 (무결성 검사: 이상 없음).");
            if (r.historyUnreadable)
                ReportFailure("주의: 이 역할에는 서버의 기록(pic_history)을 읽을 권한이 없어 기록은 백업하지 않았습니다. "
                              "기록까지 백업하려면 관리자에게 SELECT 권한을 요청하십시오.");
            return exitcode::Ok;
        }
        Say(WithParticle("'" + path + "'", Particle::EulReul) + " " + WithParticle("'" + copy + "'", Particle::EuroRo) + " 백업했습니다 (" + std::to_string(r.bytes) +
            " 바이트, 무결성 검사: 이상 없음).");
        return exitcode::Ok;
    } catch (const Error& e) {
        if (shown) EndProgress();
        return ReportError(e);
    }
}
