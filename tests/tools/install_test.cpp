// `make install` / `make uninstall` (scripts/install.sh) against a temporary
// home folder whose name holds a blank, the way a user's desktop would see it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDeadlineTimer>
#include <filesystem>
#include <fstream>
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

    for (const char* program : {"kaldoria", "kaldoria-db"}) {
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
    for (const std::string& gone : {app + "/kaldoria", app + "/kaldoria-db", transfer, entry, icon})
        EXPECT_FALSE(fs::exists(gone)) << gone;
    EXPECT_EQ(ReadBytes(app + "/dojang.mdb"), filled);
    EXPECT_EQ(Uninstall().status, 0);  // nothing left to remove is no failure
}

TEST_F(InstallTest, RefusesABuildFolderWithoutThePrograms) {
    Outcome r = Script({Q(dir.path())});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("kaldoria"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(home));
}

}  // namespace
