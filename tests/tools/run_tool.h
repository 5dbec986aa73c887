#pragma once
// Runs the built programs as child processes and collects what they print.
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <string>

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Windows programs end their lines with CR LF; the tests read LF as on Linux
// (a lone CR, as of a progress line, stays).
inline std::string UnixLines(std::string text) {
#ifdef _WIN32
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
#endif
    return text;
}

// `input`, when given, is written to the program's standard input.
inline Outcome RunProgram(const QString& program, const QStringList& args, const std::string& cwd = {},
                      const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                      const std::string& input = {}) {
    QProcess p;
    p.setProcessEnvironment(env);
    if (!cwd.empty()) p.setWorkingDirectory(QString::fromStdString(cwd));
    p.start(program, args);
    if (!input.empty()) p.write(input.data(), static_cast<qint64>(input.size()));
    p.closeWriteChannel();
    Outcome r;
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit) {
        r.err = "did not finish: " + p.errorString().toStdString();
        return r;
    }
    r.status = p.exitCode();
    r.out = UnixLines(p.readAllStandardOutput().toStdString());
    r.err = UnixLines(p.readAllStandardError().toStdString());
    return r;
}

inline Outcome RunTool(const QStringList& args, const std::string& cwd = {},
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    return RunProgram(QStringLiteral(KALDORIA_DB), args, cwd, env);
}

inline QString Q(const std::string& s) { return QString::fromStdString(s); }

// The sqlite3 shell on `db`, the SQL on its standard input: Windows' command
// line would not carry a Korean name to it.
inline Outcome RunSqliteShell(const std::string& db, const std::string& sql) {
    return RunProgram("sqlite3", {Q(db)}, {}, QProcessEnvironment::systemEnvironment(), sql + "\n");
}
