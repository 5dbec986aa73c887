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

inline Outcome RunProgram(const QString& program, const QStringList& args, const std::string& cwd = {},
                      const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    if (!cwd.empty()) p.setWorkingDirectory(QString::fromStdString(cwd));
    p.start(program, args);
    Outcome r;
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit) {
        r.err = "did not finish: " + p.errorString().toStdString();
        return r;
    }
    r.status = p.exitCode();
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

inline Outcome RunTool(const QStringList& args, const std::string& cwd = {},
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    return RunProgram(QStringLiteral(KALDORIA_DB), args, cwd, env);
}

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
