// kaldoria-db: makes, fills, inspects and backs up Kaldoria picture databases
// from the command line, through the same store code as the window.
#include <QGuiApplication>
#include <cstdio>
#include <cstring>
#include <memory>

#include "desktop/translation.h"
#include "migration/jet_reader.h"
#include "os/leftovers.h"
#include "os/process.h"
#include "text/korean.h"
#include "tools/cli/command.h"
#include "tools/cli/suggest.h"
#include "tools/commands.h"

namespace {

struct Command {
    const char* name;
    const char* synopsis;
    CommandFunction run;
};

// One line per command; main() dispatches through this table only.
constexpr Command kCommands[] = {
    {"create", "create PATH [--sample]      새 데이터베이스를 만듭니다 (--sample: 견본 도장 포함)", RunCreate},
    {"list", "list PATH                   저장된 그림을 표 순서대로 보여 줍니다", RunList},
    {"import", "import PATH NAME FILE       그림 파일을 NAME으로 저장합니다 (같은 이름은 바꿉니다)", RunImport},
    {"delete", "delete PATH NAME            NAME의 행을 모두 지웁니다 (기록이 있으면 되돌릴 수 있습니다)", RunDelete},
    {"rename", "rename PATH OLD NEW [--replace]  OLD의 행을 모두 NEW로 이름을 바꿉니다", RunRename},
    {"history", "history PATH [NAME]         바뀌거나 지워진 도장의 기록을 보여 줍니다\n"
                "  history PATH --enable       이 데이터베이스에 기록을 켭니다", RunHistory},
    {"restore", "restore PATH NAME [VERSION] 기록의 버전을 NAME의 지금 그림으로 되돌립니다", RunRestore},
    {"prune", "prune PATH [--before DATE] [--keep N]  기록에서 오래된 버전을 잊습니다", RunPrune},
    {"export", "export PATH NAME FILE       NAME의 그림을 FILE로 내보냅니다\n"
               "  export PATH --all DIR       모든 그림을 DIR 안의 파일로 내보냅니다\n"
               "  export ... --transparent --crop --size MM   문서에 붙일 PNG로: 종이는 투명하게, 도장의 긴 변은 MM 밀리미터로",
     RunExport},
    {"stamp", "stamp PATH NAME IN.pdf OUT.pdf [--page N] [--on TEXT|--at X,Y] [--size MM] [--purpose TEXT]\n"
              "                              NAME 도장을 PDF에 찍어 새 파일로 쓰고 날인 대장에 남깁니다", RunStamp},
    {"ledger", "ledger PATH [NAME] [--since DATE] [--csv]  날인 대장(누가 언제 어느 문서에 찍었는지)을 보여 줍니다", RunLedger},
    {"check", "check PATH                  무결성과 모든 그림을 검사합니다", RunCheck},
    {"backup", "backup PATH NEW             저장 중에도 온전한 사본을 새 파일 NEW로 만듭니다", RunBackup},
    {"link", "link PATH CONNINFO          PostgreSQL 서버의 도장 목록을 쓰는 연결 파일을 만듭니다", RunLink},
    {"office-setup", "office-setup LINKED --owner ROLE --clerk ROLE...  서버의 도장 목록을 주인과 직원 역할로 나눕니다",
     RunOfficeSetup},
    {"migrate", "migrate PATH [--to NEW]     이전 Jet 형식의 dojang.mdb를 변환합니다 (원본은 남겨 둡니다)\n"
                "  migrate PATH --to LINKED    모든 행을 연결 파일이 가리키는 서버로 올립니다", RunMigrate},
};

// The tool reports its own failures; Qt's warnings (a missing runtime
// folder, font notes of the offscreen platform) are only noise here.
void QuietQt(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) WriteText(stderr, message.toStdString() + "\n");
}

void PrintUsage(std::FILE* to) {
    // The heading as the commands' own help words it.
    std::string text = QCommandLineParser::tr("Usage: %1").arg("kaldoria-db COMMAND ...").toStdString() + "\n\n명령:\n";
    for (const Command& c : kCommands) text.append("  ").append(c.synopsis).append("\n");
    text += "\n명령마다 'kaldoria-db COMMAND --help'로 자세한 설명을 볼 수 있습니다.\n"
            "출력을 파일이나 파이프로 보내면 UTF-8(BOM 없음)로 씁니다.\n"
            "\n종료 상태:\n"
            "  0  성공\n"
            "  1  실패 (까닭은 표준 오류에)\n"
            "  2  잘못된 명령줄\n"
            "  3  데이터베이스 파일이 손상됨 (check)\n"
            "  4  그림이 아닌 값이 있음 (check)\n";
    WriteText(to, text);
}

}  // namespace

int main(int argc, char* argv[]) {
    // A child this program started of itself (Windows): its task, and nothing else.
    if (auto status = RunChildTask(argc, argv, {&LeftoverFiles::WatcherTask(), &JetReaderTask()})) return *status;
    // Only drawing the sample stamp needs a GUI application (for its font),
    // and it runs headless unless the user chose a platform; every other
    // command starts without one, which is quicker.
    qInstallMessageHandler(QuietQt);
    const std::vector<std::string> arguments = ProgramArguments(argc, argv);
    std::unique_ptr<QCoreApplication> app;
    if (arguments.size() > 1 && arguments[1] == "create") {
#ifndef _WIN32
        // Windows' own platform needs no display, and its offscreen one finds no fonts.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName("kaldoria-db");
    InstallKoreanQtTexts(*app);  // the help headings; without it they stay English

    // Not QCoreApplication::arguments(): it turns bytes that are not UTF-8 into U+FFFD.
    QStringList args;
    for (const std::string& argument : arguments) args << ArgumentText(argument.c_str());
    if (args.size() < 2) {
        PrintUsage(stderr);
        return exitcode::Usage;
    }
    const QString name = args[1];
    if (name == "-h" || name == "--help" || name == "help") {
        PrintUsage(stdout);
        return exitcode::Ok;
    }
    if (name == "--version" || name == "-V" || name == "version") {
        Say(std::string("kaldoria-db ") + KALDORIA_VERSION);
        return exitcode::Ok;
    }
    for (const Command& c : kCommands) {
        if (name != QLatin1String(c.name)) continue;
        QStringList own = args.mid(2);
        own.prepend(QStringLiteral("kaldoria-db ") + name);
        return c.run(own);
    }
    std::vector<std::string> names;
    for (const Command& c : kCommands) names.emplace_back(c.name);
    if (const std::string meant = NearestWord(name.toStdString(), names); !meant.empty()) {
        WriteText(stderr, "kaldoria-db: 알 수 없는 명령입니다: " + name.toStdString() + ". " +
                              WithParticle(meant, Particle::EulReul) + " 말씀하셨습니까? 명령 목록은 'kaldoria-db "
                              "--help'로 봅니다.\n");
        return exitcode::Usage;
    }
    WriteText(stderr, "kaldoria-db: 알 수 없는 명령입니다: " + name.toStdString() + "\n\n");
    PrintUsage(stderr);
    return exitcode::Usage;
}
