// `make install` / `make uninstall` (scripts/install.sh) against a temporary
// home folder whose name holds a blank, the way a user's desktop would see it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDeadlineTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "run_tool.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

struct InstallTest : ::testing::Test {
    TempDir dir;
    std::string home = dir.File("my home");
    std::string app = home + "/.local/share/kaldoria";
    std::string entry = home + "/.local/share/applications/kaldoria.desktop";
    std::string managerEntry = home + "/.local/share/applications/kaldoria-manager.desktop";
    std::string icon = home + "/.local/share/icons/hicolor/scalable/apps/kaldoria.svg";

    QProcessEnvironment Env() const {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", Q(home));
        env.remove("XDG_DATA_HOME");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }
    Outcome Script(const QStringList& args) {
        return RunProgram("bash", QStringList{KALDORIA_SOURCE_DIR "/scripts/install.sh"} + args, dir.path(), Env());
    }
    Outcome Install() { return Script({KALDORIA_BIN_DIR}); }
    Outcome Uninstall() { return Script({"--uninstall"}); }

    // A shell command run with only the system's folders and, when asked,
    // ~/.local/bin on the PATH, as a new terminal of this user would have it.
    Outcome Shell(const std::string& command, bool withLocalBin = true) {
        auto env = Env();
        env.insert("PATH", Q((withLocalBin ? bin + ":" : std::string()) + "/usr/bin:/bin"));
        return RunProgram("bash", {"-c", Q(command)}, dir.path(), env);
    }
    std::string bin = home + "/.local/bin";
    std::string command = bin + "/kaldoria-db";
    std::string manFolder = home + "/.local/share/man/man1";
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Executable(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR);
}

TEST_F(InstallTest, InstallsAStartableCopyAndUninstallKeepsTheDatabase) {
    fs::create_directory(home);
    Outcome r = Install();
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    for (const char* program : {"kaldoria", "kaldoria-db", "kaldoria-manager"}) {
        EXPECT_TRUE(Executable(app + "/" + program)) << program;
        EXPECT_EQ(ReadBytes(app + "/" + program), ReadBytes(std::string(KALDORIA_BIN_DIR) + "/" + program));
    }
    auto rows = RawRows(app + "/dojang.mdb");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].first, "도장");
    EXPECT_TRUE(fs::is_regular_file(icon));

    const std::string text = ReadText(entry);
    EXPECT_TRUE(text.starts_with("[Desktop Entry]\n")) << text;
    EXPECT_NE(text.find("\nName[ko]=도장 관리 Kaldoria\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nExec=\"" + app + "/kaldoria\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nIcon=" + icon + "\n"), std::string::npos) << text;
    // Not even a hint from the validator, for either entry.
    for (const std::string& e : {entry, managerEntry}) {
        const Outcome valid = RunProgram("desktop-file-validate", {Q(e)}, dir.path(), Env());
        EXPECT_EQ(valid.status, 0) << valid.out << valid.err;
        EXPECT_EQ(valid.out + valid.err, "") << e;
    }
    EXPECT_NE(ReadText(managerEntry).find("\nName[ko]=도장 관리\n"), std::string::npos);
    EXPECT_NE(ReadText(managerEntry).find("\nExec=\"" + app + "/kaldoria-manager\"\n"), std::string::npos);
    // man finds the pages beside ~/.local/bin, as a login's PATH has it.
    for (const char* page : {"kaldoria", "kaldoria-db", "kaldoria-manager"}) {
        const Outcome found = Shell(std::string("man -w ") + page);
        EXPECT_EQ(found.out, manFolder + "/" + page + ".1\n") << found.err;
    }

    // The entry's program starts with the installed database: start-up writes
    // the stored "도장" to the transfer file beside it.
    QProcess window;
    window.setProcessEnvironment(Env());
    window.start(Q(app + "/kaldoria"), {});
    ASSERT_TRUE(window.waitForStarted());
    const std::string transfer = app + "/temp.bmp";
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && window.state() == QProcess::Running &&
           !(fs::exists(transfer) && ReadBytes(transfer) == rows[0].second))
        window.waitForFinished(50);
    EXPECT_EQ(window.state(), QProcess::Running) << window.readAllStandardError().toStdString();
    EXPECT_EQ(ReadBytes(transfer), rows[0].second);
    window.kill();
    window.waitForFinished();

    // A second install leaves a database that is already there alone.
    const std::string mine = "내 도장";
    RawInsert(app + "/dojang.mdb", &mine, {1, 2, 3});
    const Bytes filled = ReadBytes(app + "/dojang.mdb");
    ASSERT_EQ(Install().status, 0);
    EXPECT_EQ(ReadBytes(app + "/dojang.mdb"), filled);

    r = Uninstall();
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& gone : {app + "/kaldoria", app + "/kaldoria-db", app + "/kaldoria-manager", transfer, entry,
                                    managerEntry, icon, manFolder + "/kaldoria.1", manFolder + "/kaldoria-db.1",
                                    manFolder + "/kaldoria-manager.1"})
        EXPECT_FALSE(fs::exists(gone)) << gone;
    EXPECT_EQ(ReadBytes(app + "/dojang.mdb"), filled);
    EXPECT_EQ(Uninstall().status, 0);  // nothing left to remove is no failure
}

TEST_F(InstallTest, PutsKaldoriaDbOnThePathAndTakesItAwayAgain) {
    fs::create_directory(home);
    const std::string usage = "kaldoria-db COMMAND";
    ASSERT_EQ(Shell("kaldoria-db --help").status, 127);  // none before

    ASSERT_EQ(Install().status, 0);
    EXPECT_EQ(fs::read_symlink(command), fs::path(app + "/kaldoria-db"));
    // From another folder, by name only: found on the PATH, finds its folder.
    Outcome r = Shell("cd / && kaldoria-db --help");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(usage), std::string::npos) << r.out;
    r = Shell("cd / && kaldoria-db list '" + app + "/dojang.mdb'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("도장"), std::string::npos) << r.out;

    ASSERT_EQ(Uninstall().status, 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(command))) << command;
    EXPECT_EQ(Shell("kaldoria-db --help").status, 127);
    EXPECT_TRUE(fs::is_regular_file(app + "/dojang.mdb"));
}

// What `make install` tells the user about reaching kaldoria-db: nothing
// when ~/.local/bin is on the PATH it runs with, to log in again when the
// login adds it (Debian's ~/.profile), else the line to add; in Korean in a
// Korean locale.
TEST_F(InstallTest, SaysWhatThePathNeeds) {
    const std::string line = "export PATH=\"$HOME/.local/bin:$PATH\"";
    const std::string debianProfile = "if [ -d \"$HOME/.local/bin\" ] ; then\n    PATH=\"$HOME/.local/bin:$PATH\"\nfi\n";
    struct Row {
        const char* name;
        std::string path;
        std::string profile;  // ~/.profile, none when empty
        const char* lang;
        const char* said;     // in the output, or nothing but the path when null
    };
    for (const Row& row : {Row{"not on the PATH", "/usr/bin:/bin", "", "C.UTF-8", "add this line to ~/.profile"},
                           Row{"a login adds it", "/usr/bin:/bin", debianProfile, "C.UTF-8", "log out and in again"},
                           Row{"in Korean", "/usr/bin:/bin", debianProfile, "ko_KR.UTF-8", "로그아웃했다가 다시 로그인하면"},
                           Row{"first on the PATH", bin + ":/usr/bin:/bin", "", "C.UTF-8", nullptr},
                           Row{"last, with a slash", "/usr/bin:/bin:" + bin + "/", "", "C.UTF-8", nullptr}}) {
        SCOPED_TRACE(row.name);
        fs::remove_all(home);
        fs::create_directory(home);
        if (!row.profile.empty()) std::ofstream(home + "/.profile") << row.profile;
        auto env = Env();
        env.insert("PATH", Q(row.path));
        env.remove("LC_ALL");
        env.remove("LC_MESSAGES");
        env.insert("LANG", row.lang);
        Outcome r = RunProgram("/bin/bash", {KALDORIA_SOURCE_DIR "/scripts/install.sh", KALDORIA_BIN_DIR}, dir.path(), env);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string told = r.out.substr(r.out.find("kaldoria-db: "));
        if (row.said) {
            EXPECT_NE(told.find(row.said), std::string::npos) << r.out;
        } else {
            EXPECT_EQ(told, "kaldoria-db: " + command + "\n");
        }
        EXPECT_EQ(told.find(line) != std::string::npos, row.profile.empty() && row.said) << r.out;
    }
}

// A kaldoria-db in ~/.local/bin that is not our link to the installed copy
// (another program's, a user's script, a link elsewhere) is neither replaced
// by install nor removed by uninstall.
TEST_F(InstallTest, LeavesAKaldoriaDbThatIsNotOursAlone) {
    struct Row {
        const char* name;
        std::function<void(const std::string&)> make;
        std::function<bool(const std::string&)> unchanged;
    };
    const std::string script = "#!/bin/sh\necho mine\n";
    const std::string elsewhere = "/usr/local/bin/kaldoria-db";
    const std::vector<Row> rows{
        {"a script of the user's",
         [&](const std::string& p) { std::ofstream(p) << script; },
         [&](const std::string& p) { return !fs::is_symlink(p) && ReadText(p) == script; }},
        {"a link to another copy",
         [&](const std::string& p) { fs::create_symlink(elsewhere, p); },
         [&](const std::string& p) { return fs::is_symlink(p) && fs::read_symlink(p) == elsewhere; }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(home);
        fs::create_directories(bin);
        row.make(command);
        Outcome r = Install();
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(row.unchanged(command));
        EXPECT_NE(r.err.find("not Kaldoria's"), std::string::npos) << r.err;
        EXPECT_TRUE(Executable(app + "/kaldoria-db"));
        ASSERT_EQ(Uninstall().status, 0);
        EXPECT_TRUE(row.unchanged(command));
    }
}

TEST_F(InstallTest, RefusesABuildFolderWithoutThePrograms) {
    Outcome r = Script({Q(dir.path())});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("kaldoria"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(home));
}

}  // namespace
