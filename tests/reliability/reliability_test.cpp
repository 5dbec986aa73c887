// The save path and the start-up against hostile names, full disks, bad
// transfer files and bad database files: every failure is a clear Error, and
// no stored row is lost or changed by it.
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QPushButton>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <thread>

#include "os/error.h"
#include "reliability_support.h"
#include "store/connection.h"
#include "store/save.h"
#include "store/transfer.h"
#include "support.h"
#include "tests/tools/run_tool.h"
#include "window/frmpicture.h"

namespace fs = std::filesystem;

namespace {

using Rows = std::vector<std::pair<std::string, Bytes>>;

const std::vector<std::string>& HostileNames() {
    static const std::vector<std::string> names = {
        "it's",
        "\"quoted\"",
        "x' OR '1'='1",
        "'; DROP TABLE pic_list; --",
        "'",
        "''",
        "%",
        "_",
        "a%b_c",
        "back\\slash\\",
        "tab\there",
        "line\nbreak\r\n",
        std::string(10000, 'k'),
        "도장",
        "e\xcc\x81 a\xcc\x8a",                       // combining marks
        "\xf0\x9f\x98\x80\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd",  // emoji, one with a skin tone
        "  lead and trail  ",
        " ",
        "x",
    };
    return names;
}

struct NoDialog : FileDialog {
    void SetFilter(const std::string&) override {}
    bool ShowOpen() override { return false; }
    std::string FileName() const override { return {}; }
};

// A folder with dojang.mdb holding one row for each hostile name.
struct Folder {
    TempDir dir;
    const std::string db = dir.File(kDatabaseFileName);
    Folder() {
        CreatePICDB(db);
        // "도장" is shown at start, so it holds a real bitmap.
        for (const auto& n : HostileNames()) RawInsert(db, &n, n == "도장" ? Bitmap() : StampedPicture(n, 0, 300));
    }
    static Bytes Bitmap() {
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(QColor(200, 30, 30));
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "BMP");
        return Bytes(data.begin(), data.end());
    }
};

// Runs `body` while no file of this process may grow past `bytes`, as on a
// full disk; writes past it fail instead of raising SIGXFSZ.
template <class Body>
void WithFileSizeLimit(rlim_t bytes, Body body) {
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit capped = old;
    capped.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &capped);
    try {
        body();
    } catch (...) {
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        throw;
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
}

struct Window {
    RecordingMessageBox messages;
    PosixFileSystem files;
    QtPictureService pictures;
    NoDialog dialog;
    std::unique_ptr<frmPicture> w;
    explicit Window(const std::string& folder) {
        w = std::make_unique<frmPicture>(DesktopServices{messages, files, pictures, dialog, folder});
        if (w->Loaded()) w->show();
    }
    void Save(const std::string& name) {
        w->findChild<QComboBox*>("cboName")->setEditText(QString::fromStdString(name));
        w->findChild<QPushButton*>("cmdSave")->click();
    }
    int LastStyle() const { return messages.shown.empty() ? -1 : messages.shown.back().second; }
};

// ---------------------------------------------------------------- full disk

TEST(FullDisk, StorePictureOnACappedDatabaseRaisesDiskFullAndKeepsEveryRow) {
    Folder folder;
    const Rows before = RawRows(folder.db);
    const std::string file = folder.dir.File("picture.bmp");
    WriteBytes(file, StampedPicture("도장", 1, 300000));
    Workspace wrk;
    Database dbs;
    OpenPICDB(wrk, dbs, folder.dir.path());
    // No page may be added to the file: the new row cannot fit.
    dbs.Execute("PRAGMA max_page_count = " + std::to_string(fs::file_size(folder.db) / 4096), dbFailOnError);
    PosixFileSystem files;
    RecordingMessageBox messages;
    try {
        StorePicture(dbs, "도장", file, files, messages);
        FAIL() << "the save went through";
    } catch (const Error& e) {
        EXPECT_EQ(e.Number(), err::DiskFullEngine) << e.Description();
        EXPECT_FALSE(e.Description().empty());
    }
    EXPECT_FALSE(dbs.InTransaction());
    ClosePICDB(wrk, dbs);
    EXPECT_EQ(RawRows(folder.db), before);
}

TEST(FullDisk, StorePictureMeetingAFileSizeLimitRaisesAndKeepsEveryRow) {
    Folder folder;
    const Rows before = RawRows(folder.db);
    const std::string file = folder.dir.File("picture.bmp");
    WriteBytes(file, StampedPicture("it's", 1, 200000));
    Workspace wrk;
    Database dbs;
    OpenPICDB(wrk, dbs, folder.dir.path());
    PosixFileSystem files;
    RecordingMessageBox messages;
    WithFileSizeLimit(fs::file_size(folder.db), [&] {
        EXPECT_THROW(StorePicture(dbs, "it's", file, files, messages), Error);
    });
    ClosePICDB(wrk, dbs);
    EXPECT_EQ(RawRows(folder.db), before);
}

TEST(FullDisk, TheWindowsSaveReportsItAndTheWindowStaysUsable) {
    Folder folder;
    // Rows big enough that the picture box's own bitmap still fits under the cap.
    for (int i = 0; i < 4; ++i) {
        std::string n = "big " + std::to_string(i);
        RawInsert(folder.db, &n, StampedPicture(n, 0, 100000));
    }
    const Rows before = RawRows(folder.db);
    Window window(folder.dir.path());
    ASSERT_TRUE(window.w->Loaded());
    window.messages.shown.clear();
    WithFileSizeLimit(fs::file_size(folder.db), [&] { window.Save("새 도장"); });
    ASSERT_EQ(window.messages.shown.size(), 1u);
    EXPECT_EQ(window.LastStyle(), vbCritical);
    EXPECT_TRUE(window.w->isVisible());
    EXPECT_EQ(RawRows(folder.db), before);

    // Room again: the same window saves.
    window.Save("새 도장");
    EXPECT_EQ(window.messages.shown.back().first, "   저장 되었습니다.  ");
    EXPECT_EQ(RawRows(folder.db).size(), before.size() + 1);
}

// A device that keeps half of each write and says nothing.
TEST(FullDisk, ABitmapWrittenShortWithoutAnErrorIsStillCaught) {
    struct HalfWrites : BinaryFile {
        std::unique_ptr<BinaryFile> inner;
        std::int64_t Length() override { return inner->Length(); }
        void Read(std::span<std::uint8_t> into) override { inner->Read(into); }
        void Write(std::span<const std::uint8_t> bytes) override { inner->Write(bytes.first(bytes.size() / 2)); }
        void Truncate(std::int64_t length) override { inner->Truncate(length); }
        void Close() override { inner->Close(); }
    } file;
    TempDir dir;
    file.inner = PosixFileSystem().CreateReplacing(dir.File("temp.bmp"));
    try {
        QtPictureService().WriteBitmap(QImage(40, 30, QImage::Format_RGB32), file, "temp.bmp");
        ADD_FAILURE() << "a short bitmap passed";
    } catch (const Error& e) {
        EXPECT_EQ(e.Number(), err::DeviceIO) << e.Description();
    }
}

// ---------------------------------------------------------------- transfer file

TEST(TransferFile, ADirectoryInItsPlaceIsReportedAndNothingStoredIsTouched) {
    Folder folder;
    fs::create_directory(TransferFilePath(folder.dir.path()));
    fs::path inside = fs::path(TransferFilePath(folder.dir.path())) / "keep";
    WriteBytes(inside.string(), {1, 2, 3});
    const Rows before = RawRows(folder.db);

    // The store functions.
    {
        Workspace wrk;
        Database dbs;
        OpenPICDB(wrk, dbs, folder.dir.path());
        PosixFileSystem files;
        RecordingMessageBox messages;
        EXPECT_FALSE(StorePicture(dbs, "도장", TransferFilePath(folder.dir.path()), files, messages));
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].first, "파일이 존재하지 않습니다.");
        Recordset rs = dbs.OpenRecordset("SELECT * FROM pic_list WHERE  pic_name = '도장'", dbOpenSnapshot);
        EXPECT_THROW(PICFieldToFile(rs.Fields("pic"), TransferFilePath(folder.dir.path()), files), Error);
        rs.Close();
        ClosePICDB(wrk, dbs);
    }
    EXPECT_EQ(RawRows(folder.db), before);

    // The window's start-up and save.
    fs::remove_all(TransferFilePath(folder.dir.path()));
    Window window(folder.dir.path());
    ASSERT_TRUE(window.w->Loaded());
    fs::remove(TransferFilePath(folder.dir.path()));
    fs::create_directory(TransferFilePath(folder.dir.path()));
    WriteBytes(inside.string(), {1, 2, 3});
    window.messages.shown.clear();
    window.Save("도장");
    ASSERT_EQ(window.messages.shown.size(), 1u);
    EXPECT_EQ(window.LastStyle(), vbCritical);
    EXPECT_NE(window.messages.shown[0].first.find("temp.bmp"), std::string::npos) << window.messages.shown[0].first;
    EXPECT_TRUE(window.w->isVisible());
    EXPECT_EQ(ReadBytes(inside.string()), (Bytes{1, 2, 3}));
    EXPECT_EQ(RawRows(folder.db), before);

    Window second(folder.dir.path());
    EXPECT_FALSE(second.w->Loaded());
    EXPECT_EQ(second.LastStyle(), vbCritical);
    EXPECT_EQ(RawRows(folder.db), before);
}

TEST(TransferFile, OneThatCannotBeWrittenIsReportedAndNothingStoredIsTouched) {
    Folder folder;
    const Rows before = RawRows(folder.db);
    const Bytes content = ReadBytes(folder.db);
    Window window(folder.dir.path());
    ASSERT_TRUE(window.w->Loaded());
    // Room for less than the box's bitmap: the save must see the short file
    // before the database is touched, whatever room the database has.
    window.messages.shown.clear();
    WithFileSizeLimit(1000, [&] { window.Save("도장"); });
    ASSERT_EQ(window.messages.shown.size(), 1u);
    EXPECT_TRUE(window.messages.shown[0].first.find("오류 번호: " + std::to_string(err::DiskFull)) != std::string::npos &&
                window.messages.shown[0].first.find("temp.bmp") != std::string::npos)
        << window.messages.shown[0].first;
    EXPECT_EQ(window.LastStyle(), vbCritical);
    EXPECT_TRUE(window.w->isVisible());
    EXPECT_EQ(ReadBytes(folder.db), content);
    EXPECT_EQ(folder.dir.Entries(), std::vector<std::string>{kDatabaseFileName}) << "the old temp.bmp went first; "
                                                                                  "no partial file is left";

    // The store functions, with a picture file its reader may not open.
    const std::string file = folder.dir.File("locked.bmp");
    WriteBytes(file, StampedPicture("x", 1, 100));
    ::chmod(file.c_str(), 0);
    ::chmod(folder.db.c_str(), 0666);
    int code = RunAsUnprivileged([&] {
        Workspace wrk;
        Database dbs;
        OpenPICDB(wrk, dbs, folder.dir.path());
        PosixFileSystem files;
        RecordingMessageBox messages;
        try {
            StorePicture(dbs, "x", file, files, messages);
        } catch (const Error& e) {
            return e.Description().find("locked.bmp") != std::string::npos ? 0 : 2;
        }
        return 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(RawRows(folder.db), before);
}

// Links another user of a shared folder plants at temp.bmp, to a file of
// theirs (`victim`) or to a path there that does not exist (`made`); a plant
// fails quietly where something is in the way.
struct Plant {
    const char* label;
    int (*at)(const char* transfer, const char* victim, const char* made);
};
void PrintTo(const Plant& p, std::ostream* out) { *out << p.label; }

class PlantedTransferFile : public ::testing::TestWithParam<Plant> {};

// Before start-up, before a save, then as fast as a second thread can during
// saves (the race a delete-then-create loses).
TEST_P(PlantedTransferFile, IsReplacedNeverFollowed) {
    Folder folder;
    TempDir other;
    const std::string transfer = TransferFilePath(folder.dir.path()), victim = other.File("v"), made = other.File("m");
    const Bytes mine = PatternBytes(3000);
    WriteBytes(victim, mine);
    auto plant = [&] { GetParam().at(transfer.c_str(), victim.c_str(), made.c_str()); };
    plant();
    Window window(folder.dir.path());
    ASSERT_TRUE(window.w->Loaded());
    fs::remove(transfer);
    plant();
    window.Save("도장");
    EXPECT_EQ(window.messages.shown.back(), std::make_pair(std::string("   저장 되었습니다.  "), vbOKOnly));
    struct stat st {};
    EXPECT_TRUE(::lstat(transfer.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) << "not our own file";
    EXPECT_EQ(RawRows(folder.db).back(), std::make_pair(std::string("도장"), ReadBytes(transfer)));

    std::atomic<bool> stop{false};
    std::thread planter([&] {
        while (!stop) ::unlink(transfer.c_str()), plant();
    });
    window.messages.shown.clear();
    for (int i = 0; i < 40; ++i) window.Save("도장");
    stop = true;
    planter.join();
    EXPECT_EQ(ReadBytes(victim), mine);
    EXPECT_FALSE(fs::exists(made));
    // Each save stored the row or said why (the file taken away before it was read included).
    for (const auto& [text, style] : window.messages.shown)
        EXPECT_TRUE(text == "   저장 되었습니다.  " || text == "파일이 존재하지 않습니다." || style == vbCritical) << text;
}

INSTANTIATE_TEST_SUITE_P(Links, PlantedTransferFile,
                         ::testing::Values(Plant{"symlink", [](auto t, auto v, auto) { return ::symlink(v, t); }},
                                           Plant{"dangling_symlink", [](auto t, auto, auto m) { return ::symlink(m, t); }},
                                           Plant{"hard_link", [](auto t, auto v, auto) { return ::link(v, t); }}),
                         [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------- bad database files

struct BadFile {
    const char* label;
    // Prepares the folder; the database path is given.
    void (*make)(const std::string& db);
    bool unprivileged = false;  // refused only for someone other than the owner
    bool readOnlyFolder = false;
};

// Test names and failure messages show the case's label.
void PrintTo(const BadFile& file, std::ostream* out) { *out << file.label; }

void Good(const std::string& db) {
    CreatePICDB(db);
    std::string n = "도장";
    RawInsert(db, &n, Folder::Bitmap());
    for (int i = 0; i < 20; ++i) {
        std::string other = "name " + std::to_string(i);
        RawInsert(db, &other, StampedPicture(other, 0, 5000));
    }
}

void Truncate(const std::string& db, std::uintmax_t size) { fs::resize_file(db, size); }

const BadFile kBadFiles[] = {
    {"missing", [](const std::string&) {}},
    {"empty", [](const std::string& db) { WriteBytes(db, {}); }},
    {"text", [](const std::string& db) {
         std::string t = "이것은 데이타베이스가 아닙니다.\n";
         WriteBytes(db, Bytes(t.begin(), t.end()));
     }},
    {"truncated_header", [](const std::string& db) { Good(db); Truncate(db, 60); }},
    {"truncated_pages", [](const std::string& db) { Good(db); Truncate(db, fs::file_size(db) / 2 + 100); }},
    {"corrupt_pages", [](const std::string& db) {
         Good(db);
         Bytes b = ReadBytes(db);
         for (std::size_t i = 4096; i < b.size(); i += 3) b[i] = static_cast<std::uint8_t>(i * 31);
         WriteBytes(db, b);
     }},
    {"without_pic_list", [](const std::string& db) { RawSql(db, "CREATE TABLE pictures (pic_name TEXT, pic BLOB);"); }},
    {"pic_list_without_pic", [](const std::string& db) {
         RawSql(db, "CREATE TABLE pic_list (pic_name TEXT); INSERT INTO pic_list VALUES ('도장');");
     }},
    {"pic_list_without_pic_name", [](const std::string& db) {
         RawSql(db, "CREATE TABLE pic_list (name TEXT, pic BLOB); INSERT INTO pic_list VALUES ('도장', x'00');");
     }},
    {"read_only_file", [](const std::string& db) { Good(db); ::chmod(db.c_str(), 0444); }, true},
    {"in_read_only_folder", [](const std::string& db) { Good(db); ::chmod(db.c_str(), 0666); }, true, true},
};

class BadDatabase : public ::testing::TestWithParam<BadFile> {
protected:
    TempDir dir;
    const std::string db = dir.File(kDatabaseFileName);
    void SetUp() override {
        GetParam().make(db);
        if (GetParam().readOnlyFolder) ::chmod(dir.path().c_str(), 0555);
    }
    std::optional<Bytes> Content() const {
        if (!fs::exists(db)) return std::nullopt;
        return ReadBytes(db);
    }
};

// The start-up reads on the file, as another user where that matters; the
// Error's description must name the file, its folder, the table or the column.
int StartUpRefused(const std::string& folder) {
    try {
        StartUpReads(folder);
    } catch (const Error& e) {
        const std::string d = e.Description();
        for (const std::string& named : {std::string(kDatabaseFileName), folder, std::string("pic_list"),
                                         std::string("'pic'"), std::string("'pic_name'")})
            if (d.find(named) != std::string::npos) return 0;
        std::fprintf(stderr, "error %d: %s\n", e.Number(), d.c_str());
        return 2;
    }
    return 1;
}

TEST_P(BadDatabase, StartUpRaisesAClearErrorAndChangesNothing) {
    const auto content = Content();
    const auto entries = dir.Entries();
    int code = GetParam().unprivileged ? RunAsUnprivileged([&] { return StartUpRefused(dir.path()); })
                                       : StartUpRefused(dir.path());
    EXPECT_EQ(code, 0) << "1: no error, 2: the error names no file, table or column";
    EXPECT_EQ(Content(), content);
    EXPECT_EQ(dir.Entries(), entries);
}

bool HaveVirtualDisplay() {
    return std::system("command -v xvfb-run >/dev/null && command -v xdotool >/dev/null") == 0;
}

// Copies the real program into `folder`, its application folder, keeping the
// folder's permissions.
void CopyProgram(const std::string& folder) {
    struct stat st {};
    ::stat(folder.c_str(), &st);
    ::chmod(folder.c_str(), 0777);
    const std::string program = folder + "/kaldoria";
    fs::copy_file(KALDORIA_BINARY, program, fs::copy_options::overwrite_existing);
    ::chmod(program.c_str(), 0755);
    ::chmod(folder.c_str(), st.st_mode & 07777);
}

// Runs the copy of the program in `folder` under a virtual display, dismisses
// its first window titled "Kaldoria" with Return and returns "<exit status>
// <window id>", "<status> nobox" or "hung".
std::string RunProgram(const std::string& folder, bool unprivileged) {
    TempDir scratch;
    const std::string script = scratch.File("run.sh"), status = scratch.File("status");
    std::string text =
        "#!/bin/bash\n"
        "unset QT_QPA_PLATFORM\n"
        // Only the exit status and the box matter here; leaks are checked elsewhere.
        "export ASAN_OPTIONS=detect_leaks=0\n"
        "\"$1\" & pid=$!\n"
        "wid=$(timeout 60 xdotool search --sync --name '^Kaldoria$' | head -n 1)\n"
        "[ -n \"$wid\" ] && { sleep 0.3; xdotool windowactivate --sync \"$wid\" key --clearmodifiers Return "
        "|| xdotool key Return; }\n"
        "for i in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done\n"
        "kill -0 $pid 2>/dev/null && { kill -9 $pid; echo hung > \"$2\"; exit 0; }\n"
        "wait $pid; echo \"$? ${wid:-nobox}\" > \"$2\"\n";
    WriteBytes(script, Bytes(text.begin(), text.end()));
    ::chmod(script.c_str(), 0755);
    ::chmod(scratch.path().c_str(), 0777);
    std::string run = "xvfb-run -a " + script + " '" + folder + "/kaldoria' '" + status + "'";
    if (unprivileged && ::getuid() == 0) run = "runuser -u nobody -- " + run;
    if (std::system((run + " >/dev/null 2>&1").c_str()) != 0) return "xvfb-run failed";
    Bytes result = ReadBytes(status);
    return std::string(result.begin(), result.end());
}

void ExpectReportedFailure(const std::string& outcome) {
    EXPECT_NE(outcome.rfind("0 ", 0), 0u) << "exit status 0: " << outcome;
    EXPECT_EQ(outcome.find("hung"), std::string::npos) << outcome;
    EXPECT_EQ(outcome.find("nobox"), std::string::npos) << "no message box appeared: " << outcome;
    EXPECT_EQ(outcome.find("failed"), std::string::npos) << outcome;
}

// The real program against the file: the error box is dismissed with Return
// and the exit status must say failure.
TEST_P(BadDatabase, TheProgramReportsItAndExitsWithFailure) {
    if (!HaveVirtualDisplay()) GTEST_SKIP() << "xvfb-run and xdotool are needed";
    CopyProgram(dir.path());
    const auto content = Content();
    const auto entries = dir.Entries();
    ExpectReportedFailure(RunProgram(dir.path(), GetParam().unprivileged));
    EXPECT_EQ(Content(), content);
    EXPECT_EQ(dir.Entries(), entries);
}

INSTANTIATE_TEST_SUITE_P(Files, BadDatabase, ::testing::ValuesIn(kBadFiles),
                         [](const auto& info) { return std::string(info.param.label); });

// Held exclusively by another process for as long as the check runs.
TEST(BadDatabaseLocked, StartUpIsRefusedWhileAnotherProcessHoldsTheFile) {
    TempDir dir;
    const std::string db = dir.File(kDatabaseFileName);
    Good(db);
    const Bytes content = ReadBytes(db);
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    pid_t holder = ::fork();
    if (holder == 0) {
        sqlite3* raw = nullptr;
        sqlite3_open(db.c_str(), &raw);
        int ok = sqlite3_exec(raw, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr);
        char c = ok == SQLITE_OK ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        (void)!::read(done[0], &c, 1);
        sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(raw);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    try {
        StartUpReads(dir.path());
        ADD_FAILURE() << "opened a database held exclusively by another process";
    } catch (const Error& e) {
        EXPECT_NE(e.Description().find(kDatabaseFileName), std::string::npos) << e.Description();
    }
    if (HaveVirtualDisplay()) {
        CopyProgram(dir.path());
        ExpectReportedFailure(RunProgram(dir.path(), false));
        fs::remove(dir.File("kaldoria"));
    }
    (void)!::write(done[1], "x", 1);
    int status = 0;
    ::waitpid(holder, &status, 0);
    EXPECT_EQ(ReadBytes(db), content);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{kDatabaseFileName});
}

// ---------------------------------------------------------------- backup

TEST(Backup, TakenWhileAnotherProcessSavesIsWholeAndHoldsWhatWasCommittedBefore) {
    TempDir dir;
    const std::string db = dir.File(kDatabaseFileName), copy = dir.File("copy.mdb");
    CreatePICDB(db);
    for (const std::string& name : HostileNames()) RawInsert(db, &name, StampedPicture(name, 0, 300000));
    QProcess saver;  // new names and replacements of shared ones, without pause
    saver.start(KALDORIA_DRIVER, {"load", Q(db), Q(dir.path()), "0", "1000000"});
    ASSERT_TRUE(saver.waitForStarted());
    Rows before;
    for (int tries = 0; tries < 1000 && before.size() < HostileNames().size() + 10; ++tries) before = RawRows(db);
    const Outcome r = RunTool({"backup", Q(db), Q(copy)});
    EXPECT_EQ(saver.state(), QProcess::Running) << "the saver was saving all along";
    saver.kill();
    saver.waitForFinished();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(::RunProgram("sqlite3", {Q(copy), "PRAGMA integrity_check"}).out, "ok\n");
    const Rows copied = RawRows(copy);
    for (const auto& [name, pic] : copied) EXPECT_TRUE(ReadStamp(pic) && ReadStamp(pic)->name == name) << name;
    // Only the shared names are ever replaced; every other row must be there as it was.
    std::erase_if(before, [](const auto& row) { return row.first.starts_with("shared"); });
    for (const auto& row : before) EXPECT_NE(std::find(copied.begin(), copied.end(), row), copied.end()) << row.first;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
