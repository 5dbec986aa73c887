#include "tools/command.h"

#include "store/picture_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Qt's help text, its headings translated by the installed Korean texts;
// Qt names the program by its path, the usage line names the command.
std::string HelpText(const QCommandLineParser& parser, const QString& command) {
    QString text = parser.helpText();
    const QString program = QCoreApplication::arguments().value(0);
    if (const qsizetype at = text.indexOf(program); !program.isEmpty() && at >= 0 && at < text.indexOf(u'\n'))
        text.replace(at, program.size(), command);
    return text.toStdString();
}

bool ParseCommandLine(QCommandLineParser& parser, const QStringList& arguments, std::initializer_list<int> positionals,
                      int& status) {
    const QCommandLineOption help(QStringList{"h", "help"}, "이 도움말을 보여 줍니다.");
    parser.addOption(help);
    QString problem;
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        problem = unknown.isEmpty() ? "명령줄을 해석할 수 없습니다: " + parser.errorText()
                                    : "알 수 없는 옵션입니다: " + unknown.join(", ");
    } else if (parser.isSet(help)) {
        std::fputs(HelpText(parser, arguments.value(0)).c_str(), stdout);
        status = exitcode::Ok;
        return false;
    } else if (std::find(positionals.begin(), positionals.end(), parser.positionalArguments().size()) ==
               positionals.end()) {
        problem = "인수의 개수가 맞지 않습니다.";
    }
    if (problem.isEmpty()) return true;
    std::fprintf(stderr, "kaldoria-db: %s\n\n%s", problem.toLocal8Bit().constData(),
                 HelpText(parser, arguments.value(0)).c_str());
    status = exitcode::Usage;
    return false;
}

int ReportError(const Error& e) {
    std::fprintf(stderr, "kaldoria-db: 오류 %d: %s\n", e.Number(), e.what());
    return exitcode::Failure;
}

int ReportFailure(const std::string& message) {
    std::fprintf(stderr, "kaldoria-db: %s\n", message.c_str());
    return exitcode::Failure;
}

void Say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
}

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

void ConsoleMessageBox::MsgBox(const std::string& prompt, int /*style: every message is worth stderr*/) {
    ReportFailure(prompt);
}

OpenedDatabase::OpenedDatabase(const std::string& path, bool readOnly) {
    ws_ = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
    db_ = ws_.OpenDatabase(path, false, readOnly);
    CheckPictureTable(db_);
}

OpenedDatabase::~OpenedDatabase() {
    try {
        ws_.Close();
    } catch (...) {
        // Closing a read or a committed write loses nothing; the process ends next.
    }
}

std::string ShownName(const Variant& name) {
    if (IsNull(name)) return "Null";
    const std::string text = TextOf(name);
    std::string shown;
    shown.reserve(text.size() + 2);
    shown += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            shown += '\\';
            shown += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown + "\"";
}
