#pragma once
// What every kaldoria-db command shares: exit statuses, parsing a command's
// own arguments, reporting failures on the console and opening a database.
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <string>

#include "desktop/messagebox.h"
#include "pictures/pictures.h"
#include "os/temp_file.h"
#include "engine/engine.h"
#include "keeper/book.h"

// Exit statuses of every command; `check` adds the last two.
namespace exitcode {
constexpr int Ok = 0;
constexpr int Failure = 1;
constexpr int Usage = 2;
constexpr int IntegrityFailure = 3;
constexpr int UnreadablePictures = 4;
}  // namespace exitcode

// A command's entry point. `arguments` starts with "kaldoria-db <command>"
// and holds the command's own arguments after it, ready for
// QCommandLineParser::parse. Returns the exit status.
using CommandFunction = int (*)(const QStringList& arguments);

// Parses `arguments` and wants exactly `positionals` positional arguments
// (one of several counts when given as a list). On --help prints the help and
// returns exitcode::Ok in `status`; on a usage error prints it with the help
// and returns exitcode::Usage. Returns true when the command should go on.
bool ParseCommandLine(QCommandLineParser& parser, const QStringList& arguments, std::initializer_list<int> positionals,
                      int& status);

// The command's help, its usage line naming "kaldoria-db <command>".
std::string HelpText(const QCommandLineParser& parser, const QString& command);

// Prints "kaldoria-db: <problem>", the command's usage line and where its
// help is on stderr; returns exitcode::Usage.
int ReportUsage(const QCommandLineParser& parser, const QStringList& arguments, const std::string& problem);

// Prints "kaldoria-db: <description> (오류 <number>)" on stderr, the number
// at the end of the description's first line: the words a clerk reads come
// first, the number stays for callers; returns exitcode::Failure.
int ReportError(const Error& e);
// Prints "kaldoria-db: <message>" on stderr; returns exitcode::Failure.
int ReportFailure(const std::string& message);
// Tells on stderr that `count` rows of `name` left without their pictures.
void WarnUnkept(const std::string& name, long count);
// A line on stdout.
void Say(const std::string& line);
// A progress line on a terminal: `text` from the line's start, shown at once;
// EndProgress ends the line.
void ShowProgress(const std::string& text);
void EndProgress();

// A command-line argument as text. Each byte that is not part of a UTF-8
// character (a terminal in another encoding, EUC-KR say) becomes the lone
// surrogate U+DC80…U+DCFF, so that it is neither lost nor mistaken for U+FFFD.
QString ArgumentText(const char* raw);

// A path from the command line as the file system spells it: the bytes it
// was given, those kept by ArgumentText included.
std::string LocalPath(const QString& path);

// A name from the command line as UTF-8. A name holding bytes that are not
// UTF-8 is refused: returns false with `problem` naming those bytes.
bool NameArgument(const QString& argument, std::string& name, std::string& problem);

// A stamp's name from the command line, by the rules every command that
// stores or finds a stamp shares: UTF-8 (NameArgument) and not blank.
// Reports the problem and returns false otherwise.
bool StampNameArgument(const QString& argument, std::string& name);

// The message-box seam on the console: messages go to stderr.
class ConsoleMessageBox : public MessageBox {
public:
    void MsgBox(const std::string& prompt, int style) override;
};

// The help's words for a command's PATH argument.
inline constexpr const char* kDatabaseArgument = "데이터베이스 파일 (예: dojang.mdb)";
// Said by list and check when they found and rolled back an unfinished save.
inline constexpr const char* kRolledBack =
    "끝나지 않은 저장: 저장하던 프로그램이 중간에 끝나 남은 저널로 저장 전 상태로 되돌렸습니다";

// Stores `file` under `name` in the book at `path`: the window's save, its
// delete-then-insert in one transaction.
void StoreFile(const std::string& path, const std::string& name, const std::string& file);


