// create: a new, empty book, with the sample stamp when asked.
#include <optional>

#include "os/paths.h"
#include "store/connection.h"
#include "store/history.h"
#include "text/korean.h"
#include "tools/cli/command.h"
#include "tools/commands.h"
#include "tools/sample_stamp.h"

namespace {

const char* const kSampleName = "도장";

}  // namespace

int RunCreate(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "PATH에 빈 표 pic_list를 가진 새 데이터베이스를 만듭니다. 이미 있는 파일은 덮어쓰지 않습니다.\n"
        "새 데이터베이스는 바뀌거나 지워지는 도장을 기록(pic_history)에 남깁니다 (kaldoria-db history).");
    parser.addPositionalArgument("PATH", "만들 데이터베이스 파일 (예: dojang.mdb)");
    const QCommandLineOption sample("sample", "이 도구가 그린 견본 도장(빨간 인장)을 \"도장\"이라는 이름으로 넣습니다.");
    parser.addOption(sample);
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {1}, status)) return status;
    const std::string path = LocalPath(parser.positionalArguments()[0]);
    const bool withSample = parser.isSet(sample);

    const bool existedBefore = PathTaken(path);
    try {
        // The stamp is drawn and written out before the database exists, so
        // that a failure here leaves nothing behind.
        std::optional<AnonymousFile> bitmap;
        if (withSample) {
            std::string warning;
            const QImage stamp = DrawSampleStamp(warning);
            if (!warning.empty()) ReportFailure(warning);
            QtPictureService().SavePicture(stamp, bitmap.emplace().Path());
        }
        try {
            CreatePICDB(path);
            {
                OpenedDatabase opened(path, false);
                EnableHistory(opened.db());
            }
            if (bitmap) StoreFile(path, kSampleName, bitmap->Path());
        } catch (const Error& e) {
            // A half-made database of ours goes; a file someone else made
            // meanwhile (the refusal to overwrite) stays.
            if (!existedBefore && e.Number() != err::CannotOpen && PathTaken(path)) {
                RemoveQuietly(path);
                RemoveQuietly(path + "-journal");
            }
            throw;
        }
    } catch (const Error& e) {
        return ReportError(e);
    }
    Say("새 데이터베이스 " + WithParticle("'" + path + "'", Particle::EulReul) + " 만들었습니다" +
        (withSample ? std::string(" (견본 도장 \"") + kSampleName + "\" 포함)." : std::string(".")));
    return exitcode::Ok;
}
