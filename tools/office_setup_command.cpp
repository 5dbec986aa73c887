// office-setup: an office's server book split between an owner role and
// the clerks' roles, and the pg_hba.conf lines that let the clerks in.
#include "store/office.h"
#include "tools/cli/command.h"
#include "tools/commands.h"

int RunOfficeSetup(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "서버의 도장 목록을 주인 역할과 직원 역할로 나눕니다. 관리자(슈퍼유저나 CREATEROLE 역할)의 연결 파일로\n"
        "한 번 실행합니다. 표 pic_list와 기록 pic_history와 기록의 함수는 아무도 로그인하지 않는 주인 역할\n"
        "(--owner)의 것이 되고, 직원 역할(--clerk, 여러 번 줄 수 있습니다)은 묶음 역할 kaldoria_clerks를\n"
        "거쳐 창과 도구에 필요한 권한만 받습니다: pic_list의 SELECT, INSERT, UPDATE, DELETE와 기록의\n"
        "SELECT. 그래서 직원은 목록을 비우거나(TRUNCATE) 기록을 끄거나 기록에 써 넣을 수 없습니다. 없는\n"
        "역할은 만들고(직원 역할은 암호 없이: psql의 \\password로 정해 주십시오), 기록이 없거나 꺼져 있으면\n"
        "켭니다. 모두 한 트랜잭션으로 이루어지고, 다시 실행해도 됩니다. 끝에 서버의 pg_hba.conf에 넣을 줄을\n"
        "보여 줍니다.\n"
        "예: kaldoria-db office-setup admin.mdb --owner kaldoria_owner --clerk clerk_kim --clerk clerk_lee");
    parser.addPositionalArgument("LINKED", "관리자의 역할로 서버에 연결하는 연결 파일 (kaldoria-db link로 만든 것)");
    const QCommandLineOption owner("owner", "표와 기록의 주인이 될 역할 (로그인하지 않습니다)", "ROLE");
    const QCommandLineOption clerk("clerk", "직원이 로그인하는 역할 (여러 번 줄 수 있습니다)", "ROLE");
    parser.addOptions({owner, clerk});
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {1}, status)) return status;
    if (!parser.isSet(owner) || !parser.isSet(clerk))
        return ReportUsage(parser, arguments, "--owner와 --clerk을 모두 주어야 합니다.");
    const std::string path = LocalPath(parser.positionalArguments()[0]);
    std::vector<std::string> clerks;
    for (const QString& c : parser.values(clerk)) clerks.push_back(c.toStdString());
    try {
        OpenedDatabase opened(path, false);
        const OfficeSetUp done = SetUpOffice(opened.db(), parser.value(owner).toStdString(), clerks);
        const std::string server = opened.db().Server();
        std::string made;
        for (const std::string& role : done.made) made += (made.empty() ? "" : ", ") + role;
        Say("서버 " + server + "의 도장 목록을 나누었습니다: 주인 " + parser.value(owner).toStdString() + ", 직원 묶음 " +
            kClerksRole + " (" + std::to_string(clerks.size()) + "명)" +
            (made.empty() ? std::string() : "; 새로 만든 역할: " + made) +
            (done.historyMade ? "; 기록을 켰습니다" : "") + ".");
        Say("");
        Say("서버의 pg_hba.conf에 아래 줄을 넣고 ADDRESS를 사무실 네트워크로 바꾼 뒤(예: 192.168.0.0/24), "
            "'SELECT pg_reload_conf()'로 다시 읽게 하십시오. 직원은 TLS와 암호로만 들어옵니다:");
        Say("hostssl  " + done.database + "  +" + kClerksRole + "  ADDRESS  scram-sha-256");
        Say("");
        Say("새로 만든 직원 역할에는 psql에서 '\\password 역할'로 암호를 정해 주고, 각 PC에서는 그 역할로 "
            "'kaldoria-db link dojang.mdb \"host=서버 dbname=" + done.database + " user=역할 sslmode=verify-full\"'을 "
            "실행하십시오.");
    } catch (const Error& e) {
        return ReportError(e);
    }
    return exitcode::Ok;
}
