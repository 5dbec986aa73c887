// The save path and the start-up against hostile names, full disks, bad
// transfer files and bad database files: every failure is a clear Error, and
// no stored row is lost or changed by it.
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QPushButton>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <thread>

#include "engine/workspace/workspace.h"
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

#ifndef _WIN32
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
#endif

struct Window {
    RecordingMessageBox messages;
    LocalFileSystem files;
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
    LocalFileSystem files;
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
#ifdef _WIN32
    GTEST_SKIP() << "no file size limit on Windows to fill the disk with";
#else
    Folder folder;
    const Rows before = RawRows(folder.db);
    const std::string file = folder.dir.File("picture.bmp");
    WriteBytes(file, StampedPicture("it's", 1, 200000));
    Workspace wrk;
    Database dbs;
    OpenPICDB(wrk, dbs, folder.dir.path());
    LocalFileSystem files;
    RecordingMessageBox messages;
    WithFileSizeLimit(fs::file_size(folder.db), [&] {
        EXPECT_THROW(StorePicture(dbs, "it's", file, files, messages), Error);
    });
    ClosePICDB(wrk, dbs);
    EXPECT_EQ(RawRows(folder.db), before);
#endif
}

TEST(FullDisk, TheWindowsSaveReportsItAndTheWindowStaysUsable) {
#ifdef _WIN32
    GTEST_SKIP() << "no file size limit on Windows to fill the disk with";
#else
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
#endif
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
    file.inner = LocalFileSystem().CreateReplacing(dir.File("temp.bmp"));
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
        LocalFileSystem files;
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
#ifdef _WIN32
    GTEST_SKIP() << "no file size limit on Windows to fill the disk with, nor permission bits that stop a file's owner reading it";
#else
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
        LocalFileSystem files;
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
#endif
}

// Links another user of a shared folder plants at temp.bmp, to a file of
// theirs (`victim`) or to a path there that does not exist (`made`); a plant
// fails quietly where something is in the way.
struct Plant {
    const char* label;
    void (*at)(const char* transfer, const char* victim, const char* made);
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
    // (mingw's hard_link_count says 1 for every file: on Windows the check is the file kind only.)
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(transfer)) && fs::hard_link_count(transfer) == 1)
        << "not our own file";
    EXPECT_EQ(RawRows(folder.db).back(), std::make_pair(std::string("도장"), ReadBytes(transfer)));

    std::atomic<bool> stop{false};
    std::thread planter([&] {
        while (!stop) ::remove(transfer.c_str()), plant();
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
                         ::testing::Values(Plant{"symlink",
                                                 [](auto t, auto v, auto) {
                                                     std::error_code quietly;
                                                     fs::create_symlink(v, t, quietly);
                                                 }},
                                           Plant{"dangling_symlink",
                                                 [](auto t, auto, auto m) {
                                                     std::error_code quietly;
                                                     fs::create_symlink(m, t, quietly);
                                                 }},
                                           Plant{"hard_link",
                                                 [](auto t, auto v, auto) {
                                                     std::error_code quietly;
                                                     fs::create_hard_link(v, t, quietly);
                                                 }}),
                         [](const auto& info) { return std::string(info.param.label); });

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
