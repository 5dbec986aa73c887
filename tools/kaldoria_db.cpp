#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#include "store/connection.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("kaldoria-db");
    QCommandLineParser parser;
    parser.setApplicationDescription("Kaldoria 도장 데이터베이스 도구");
    parser.addHelpOption();
    parser.addPositionalArgument("command", "create");
    parser.addPositionalArgument("path", "데이터베이스 파일");
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    if (args.size() != 2 || args[0] != "create") {
        std::fprintf(stderr, "사용법: kaldoria-db create PATH\n");
        return 2;
    }
    try {
        CreatePICDB(args[1].toStdString());
    } catch (const Error& e) {
        std::fprintf(stderr, "kaldoria-db: 오류 %d: %s\n", e.Number(), e.what());
        return 1;
    }
    return 0;
}
