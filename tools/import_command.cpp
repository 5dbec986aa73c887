// import: a picture file stored under a name, as the window's save does it.

#include "keeper/picture_import.h"
#include "text/korean.h"
#include "tools/cli/command.h"
#include "tools/commands.h"

int RunImport(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "그림 파일 FILE을 NAME이라는 이름으로 저장합니다. 같은 이름의 행은 모두 지우고 새 행 하나를\n"
        "넣으며, 두 단계는 한 트랜잭션으로 함께 이루어지거나 전혀 이루어지지 않습니다.\n"
        "비트맵(BMP) 파일은 바이트 그대로 저장하고, 읽을 수 있는 다른 형식(PNG, JPEG 등)은\n"
        "비트맵으로 바꾸어 저장합니다. 읽을 수 없는 파일은 데이터베이스를 건드리기 전에 거절합니다.");
    parser.addPositionalArgument("PATH", kDatabaseArgument);
    parser.addPositionalArgument("NAME", "저장할 이름");
    parser.addPositionalArgument("FILE", "그림 파일");
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {3}, status)) return status;
    const QStringList args = parser.positionalArguments();
    const std::string path = LocalPath(args[0]);
    std::string name;
    if (!StampNameArgument(args[1], name)) return exitcode::Failure;
    const std::string file = LocalPath(args[2]);
    if (file.empty()) return ReportFailure("파일이 존재하지 않습니다.");

    try {
        const ImportSource source = PrepareImport(file);
        StoreFile(path, name, source.path);
        Say(WithParticle(ShownName(name), Particle::EuroRo) + " 저장했습니다 (" + std::to_string(source.bytes) + " 바이트" +
            (source.Converted() ? ", " + source.format.toUpper().toStdString() + "에서 비트맵으로 바꿈" : std::string()) +
            ").");
    } catch (const Error& e) {
        return ReportError(e);
    }
    return exitcode::Ok;
}
