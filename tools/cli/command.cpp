#include "tools/cli/command.h"

#include "store/history.h"
#include "store/names.h"
#include "store/picture_table.h"
#include "store/save.h"
#include "text/korean.h"
#include "keeper/history_text.h"
#include "tools/cli/suggest.h"
#include "os/process.h"


#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <unicode/utf8.h>

// Qt's help text, its headings translated by the installed Korean texts;
// Qt names the program by its path, the usage line names the command.
std::string HelpText(const QCommandLineParser& parser, const QString& command) {
    QString text = parser.helpText();
    const QString program = QCoreApplication::arguments().value(0);
    if (const qsizetype at = text.indexOf(program); !program.isEmpty() && at >= 0 && at < text.indexOf(u'\n'))
        text.replace(at, program.size(), command);
    return text.toStdString();
}

namespace {

// The long options a command takes, as its help lists them.
std::vector<std::string> OptionNames(const QCommandLineParser& parser) {
    std::vector<std::string> names;
    const std::string help = parser.helpText().toStdString();
    for (std::size_t at = help.find("--"); at != std::string::npos; at = help.find("--", at + 2)) {
        std::size_t end = at + 2;
        while (end < help.size() && (std::islower(static_cast<unsigned char>(help[end])) || help[end] == '-')) ++end;
        if (end > at + 2) names.push_back(help.substr(at + 2, end - at - 2));
    }
    return names;
}

// What is wrong with the count of positional arguments, naming them as the
// usage line does ("빠진 인수: NEW"), or the first one too many.
std::string CountProblem(const std::string& help, const QStringList& given, std::initializer_list<int> counts) {
    std::vector<std::string> names;  // the usage line's words after "[옵션]"
    const std::string usage = help.substr(0, help.find('\n'));
    if (const std::size_t at = usage.find("] "); at != std::string::npos) {
        std::size_t from = at + 2;
        while (from < usage.size()) {
            std::size_t end = usage.find(' ', from);
            if (end == std::string::npos) end = usage.size();
            std::string word = usage.substr(from, end - from);
            if (word == "|") break;  // another form of the command follows
            if (word.size() > 2 && word.front() == '[') word = word.substr(1, word.size() - 2);
            names.push_back(word);
            from = end + 1;
        }
    }
    const int n = static_cast<int>(given.size());
    const int fewest = *std::min_element(counts.begin(), counts.end());
    if (n < fewest) {
        std::string missing;
        for (int i = n; i < fewest && i < static_cast<int>(names.size()); ++i)
            missing += (missing.empty() ? "" : ", ") + names[static_cast<std::size_t>(i)];
        if (!missing.empty()) return "인수가 모자랍니다. 빠진 인수: " + missing + ".";
        return "인수가 모자랍니다.";
    }
    const int most = *std::max_element(counts.begin(), counts.end());
    return "인수가 너무 많습니다: " + WithParticle("'" + given.value(most).toStdString() + "'", Particle::EunNeun) +
           " 이 명령이 받지 않습니다. 이름이나 경로에 빈칸이 있으면 따옴표로 묶으십시오.";
}

}  // namespace

bool ParseCommandLine(QCommandLineParser& parser, const QStringList& arguments, std::initializer_list<int> positionals,
                      int& status) {
    const QCommandLineOption help(QStringList{"h", "help"}, "이 도움말을 보여 줍니다.");
    parser.addOption(help);
    QString problem;
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        // A mistyped option gets the one it was meant to be and a pointer to
        // the help, rather than the whole help.
        if (unknown.size() == 1) {
            const std::string typed = unknown.front().toStdString();
            if (const std::string meant = NearestWord(typed, OptionNames(parser)); !meant.empty()) {
                WriteText(stderr, "kaldoria-db: 알 수 없는 옵션입니다: --" + typed + ". " +
                                      WithParticle("--" + meant, Particle::EulReul) + " 말씀하셨습니까? 이 명령의 "
                                      "옵션은 '" + arguments.value(0).toStdString() + " --help'로 봅니다.\n");
                status = exitcode::Usage;
                return false;
            }
        }
        problem = unknown.isEmpty() ? "명령줄을 해석할 수 없습니다 — " + parser.errorText()
                                    : "알 수 없는 옵션입니다: --" + unknown.join(", --") + ".";
    } else if (parser.isSet(help)) {
        WriteText(stdout, HelpText(parser, arguments.value(0)));
        status = exitcode::Ok;
        return false;
    } else if (std::find(positionals.begin(), positionals.end(), parser.positionalArguments().size()) ==
               positionals.end()) {
        problem = QString::fromStdString(CountProblem(HelpText(parser, arguments.value(0)),
                                                      parser.positionalArguments(), positionals));
    }
    if (problem.isEmpty()) return true;
    status = ReportUsage(parser, arguments, problem.toStdString());
    return false;
}

int ReportUsage(const QCommandLineParser& parser, const QStringList& arguments, const std::string& problem) {
    const std::string help = HelpText(parser, arguments.value(0));
    WriteText(stderr, "kaldoria-db: " + problem + "\n" + help.substr(0, help.find('\n') + 1) + "자세한 도움말은 '" +
                          arguments.value(0).toStdString() + " --help'로 봅니다.\n");
    return exitcode::Usage;
}

int ReportError(const Error& e) {
    // The number goes after the first line's words: a statement or the
    // system's own words on the lines after it stay whole for copying.
    std::string text = e.what();
    text.insert(std::min(text.find('\n'), text.size()), " (오류 " + std::to_string(e.Number()) + ")");
    WriteText(stderr, "kaldoria-db: " + text + "\n");
    return exitcode::Failure;
}

int ReportFailure(const std::string& message) {
    WriteText(stderr, "kaldoria-db: " + message + "\n");
    return exitcode::Failure;
}

void WarnUnkept(const std::string& name, long count) {
    if (const std::string warning = UnkeptWarning(name, count); !warning.empty()) ReportFailure(warning);
}

void Say(const std::string& line) {
    std::string text;
    text.reserve(line.size() + 1);
    text.append(line).push_back('\n');
    WriteText(stdout, text);
}

void ShowProgress(const std::string& text) {
    WriteText(stdout, "\r" + text);
    std::fflush(stdout);
}

void EndProgress() { WriteText(stdout, "\n"); }

namespace {

// The length of the UTF-8 character starting at `at`, or 0 when the bytes
// there are none (overlong forms and surrogates included), by ICU's rule.
std::size_t Utf8Length(std::string_view bytes, std::size_t at) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(bytes.data());
    auto i = static_cast<std::int32_t>(at);
    UChar32 c;
    U8_NEXT(s, i, static_cast<std::int32_t>(bytes.size()), c);
    return c < 0 ? 0 : static_cast<std::size_t>(i) - at;
}

// A byte ArgumentText kept as a lone surrogate, or -1.
int KeptByte(const QString& text, qsizetype i) {
    const char16_t c = text[i].unicode();
    const bool lone = c >= 0xDC80 && c <= 0xDCFF && (i == 0 || !text[i - 1].isHighSurrogate());
    return lone ? c - 0xDC00 : -1;
}

}  // namespace

QString ArgumentText(const char* raw) {
    const std::string_view bytes(raw);
    QString text;
    for (std::size_t i = 0; i < bytes.size();) {
        if (const std::size_t n = Utf8Length(bytes, i)) {
            text += QString::fromUtf8(bytes.data() + i, static_cast<qsizetype>(n));
            i += n;
        } else {
            text += QChar(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[i++])));
        }
    }
    return text;
}

std::string LocalPath(const QString& path) {
    std::string bytes;
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (const int kept = KeptByte(path, i); kept >= 0) {
            bytes += static_cast<char>(kept);
            continue;
        }
        const qsizetype n = path[i].isHighSurrogate() && i + 1 < path.size() ? 2 : 1;
        bytes += QStringView(path).mid(i, n).toUtf8().toStdString();
        i += n - 1;
    }
    return bytes;
}

bool NameArgument(const QString& argument, std::string& name, std::string& problem) {
    name = LocalPath(argument);
    std::string shown, foreign;
    for (qsizetype i = 0; i < argument.size(); ++i) {
        const int kept = KeptByte(argument, i);
        if (kept < 0) continue;
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(kept));
        if (!foreign.empty()) foreign += ' ';
        foreign += hex;
    }
    if (foreign.empty()) return true;
    for (std::size_t i = 0; i < name.size();) {
        if (const std::size_t n = Utf8Length(name, i)) {
            shown += name.substr(i, n);
            i += n;
            continue;
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(name[i++]));
        shown += hex;
    }
    problem = "이름 \"" + shown + "\"에 UTF-8 글자가 아닌 바이트(" + foreign +
              ")가 있어 이 이름은 쓰지 않습니다. 다른 인코딩(EUC-KR 등)의 터미널에서 입력한 이름으로 보입니다. "
              "터미널의 문자 인코딩을 UTF-8로 맞춘 뒤 다시 입력하십시오.";
    return false;
}

bool StampNameArgument(const QString& argument, std::string& name) {
    std::string problem;
    if (!NameArgument(argument, name, problem)) {
        ReportFailure(problem);
        return false;
    }
    if (IsBlankName(name)) {
        ReportFailure("이름을 입력해 주십시요.");
        return false;
    }
    return true;
}

void ConsoleMessageBox::MsgBox(const std::string& prompt, int /*style: every message is worth stderr*/) {
    ReportFailure(prompt);
}

void StoreFile(const std::string& path, const std::string& name, const std::string& file) {
    OpenedDatabase opened(path, false);
    LocalFileSystem files;
    ConsoleMessageBox console;
    const long unkept = CountUnkeptRows(opened.db(), name);
    if (!StorePicture(opened.db(), name, file, files, console))
        throw Error(err::FileNotFound, "저장에 실패했습니다.");
    WarnUnkept(name, unkept);
}
