// create and import: the commands that write to a picture database.
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QImageReader>
#include <optional>

#include "platform/picture_file.h"
#include "store/connection.h"
#include "store/names.h"
#include "store/save.h"
#include "tools/command.h"
#include "tools/commands.h"
#include "tools/sample_stamp.h"

namespace {

const char* const kSampleName = "도장";

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::int64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}


// Stores `file` under `name` in the database at `path`: the save command's
// delete-then-insert in one transaction.
void Store(const std::string& path, const std::string& name, const std::string& file) {
    OpenedDatabase opened(path, false);
    PosixFileSystem files;
    ConsoleMessageBox console;
    if (!StorePicture(opened.db(), name, file, files, console))
        throw Error(err::FileNotFound, "저장에 실패했습니다.");
}

}  // namespace

int RunCreate(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "PATH에 빈 표 pic_list를 가진 새 데이터베이스를 만듭니다. 이미 있는 파일은 덮어쓰지 않습니다.");
    parser.addPositionalArgument("PATH", "만들 데이터베이스 파일 (예: dojang.mdb)");
    const QCommandLineOption sample("sample", "이 도구가 그린 견본 도장(빨간 인장)을 \"도장\"이라는 이름으로 넣습니다.");
    parser.addOption(sample);
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {1}, status)) return status;
    const std::string path = LocalPath(parser.positionalArguments()[0]);
    const bool withSample = parser.isSet(sample);

    const bool existedBefore = Exists(path);
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
            if (bitmap) Store(path, kSampleName, bitmap->Path());
        } catch (const Error& e) {
            // A half-made database of ours goes; a file someone else made
            // meanwhile (the refusal to overwrite) stays.
            if (!existedBefore && e.Number() != err::CannotOpen && Exists(path)) {
                ::unlink(path.c_str());
                ::unlink((path + "-journal").c_str());
            }
            throw;
        }
    } catch (const Error& e) {
        return ReportError(e);
    }
    Say("새 데이터베이스 '" + path + "'을(를) 만들었습니다" +
        (withSample ? std::string(" (견본 도장 \"") + kSampleName + "\" 포함)." : std::string(".")));
    return exitcode::Ok;
}

int RunImport(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "그림 파일 FILE을 NAME이라는 이름으로 저장합니다. 같은 이름의 행은 모두 지우고 새 행 하나를\n"
        "넣으며, 두 단계는 한 트랜잭션으로 함께 이루어지거나 전혀 이루어지지 않습니다.\n"
        "비트맵(BMP) 파일은 바이트 그대로 저장하고, 읽을 수 있는 다른 형식(PNG, JPEG 등)은\n"
        "비트맵으로 바꾸어 저장합니다. 읽을 수 없는 파일은 데이터베이스를 건드리기 전에 거절합니다.");
    parser.addPositionalArgument("PATH", "데이터베이스 파일 (예: dojang.mdb)");
    parser.addPositionalArgument("NAME", "저장할 이름");
    parser.addPositionalArgument("FILE", "그림 파일");
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {3}, status)) return status;
    const QStringList args = parser.positionalArguments();
    const std::string path = LocalPath(args[0]);
    std::string name, problem;
    if (!NameArgument(args[1], name, problem)) return ReportFailure(problem);
    const std::string file = LocalPath(args[2]);
    if (IsBlankName(name)) return ReportFailure("이름을 입력해 주십시요.");
    if (file.empty()) return ReportFailure("파일이 존재하지 않습니다.");

    try {
        // Refuses before the database is touched what the window could not
        // show; a bitmap is checked from its header and length, not decoded.
        const PictureFile picture = OpenPictureFile(file);
        std::optional<AnonymousFile> converted;
        QByteArray format = "bmp";
        if (!picture.bitmap.bitmap) {
            QtPictureService pictures;
            const QImage image = pictures.LoadPicture(file);
            format = QImageReader::imageFormat(QFile::decodeName(file.c_str()));
            pictures.SavePicture(image, converted.emplace().Path());
        }
        const std::string source = converted ? converted->Path() : file;
        const std::int64_t bytes = converted ? FileSize(source) : static_cast<std::int64_t>(picture.length);
        Store(path, name, source);
        Say(ShownName(name) + "(으)로 저장했습니다 (" + std::to_string(bytes) + " 바이트" +
            (converted ? ", " + format.toUpper().toStdString() + "에서 비트맵으로 바꿈" : std::string()) + ").");
    } catch (const Error& e) {
        return ReportError(e);
    }
    return exitcode::Ok;
}
