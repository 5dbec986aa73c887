// The chunked transfer between files and long binary fields, and the save's
// replace-in-one-transaction.
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdio>

#include <numeric>

#include "engine/workspace/workspace.h"
#include "store/connection.h"
#include "store/save.h"
#include "store/transfer.h"
#include "save_contract.h"
#include "support.h"

#include <sqlite3.h>

namespace {

// Logs every AppendChunk size and every GetChunk offset and count.
struct RecordingField : LongBinaryField {
    Bytes held;
    std::vector<std::size_t> appended;
    mutable std::vector<std::pair<std::int32_t, std::int32_t>> reads;

    std::int32_t FieldSize() const override { return static_cast<std::int32_t>(held.size()); }
    Bytes GetChunk(std::int32_t offset, std::int32_t count) const override {
        reads.emplace_back(offset, count);
        return Bytes(held.begin() + offset, held.begin() + offset + count);
    }
    void AppendChunk(std::span<const std::uint8_t> bytes) override {
        appended.push_back(bytes.size());
        held.insert(held.end(), bytes.begin(), bytes.end());
    }
};

// A file system whose files fail after a given number of bytes, and which
// counts the files still open.
struct FailingFileSystem : LocalFileSystem {
    std::int64_t failAfter = -1;  // bytes read or written before the failure
    int open = 0;

    struct File : BinaryFile {
        FailingFileSystem& fs;
        std::unique_ptr<BinaryFile> inner;
        std::int64_t moved = 0;
        File(FailingFileSystem& f, std::unique_ptr<BinaryFile> i) : fs(f), inner(std::move(i)) { ++fs.open; }
        ~File() override { --fs.open; }
        void Spend(std::size_t n) {
            moved += static_cast<std::int64_t>(n);
            if (fs.failAfter >= 0 && moved > fs.failAfter) throw Error(err::DeviceIO, "장치 오류 (시험)");
        }
        std::int64_t Length() override { return inner->Length(); }
        void Read(std::span<std::uint8_t> into) override {
            Spend(into.size());
            inner->Read(into);
        }
        void Write(std::span<const std::uint8_t> bytes) override {
            Spend(bytes.size());
            inner->Write(bytes);
        }
        void Truncate(std::int64_t length) override { inner->Truncate(length); }
        void Close() override { inner->Close(); }
    };
    std::unique_ptr<BinaryFile> OpenBinary(const std::string& path) override {
        return std::make_unique<File>(*this, LocalFileSystem::OpenBinary(path));
    }
    std::unique_ptr<BinaryFile> CreateReplacing(const std::string& path) override {
        return std::make_unique<File>(*this, LocalFileSystem::CreateReplacing(path));
    }
};

struct Boundary {
    const char* name;
    std::size_t length;
    std::vector<std::size_t> chunks;
};
void PrintTo(const Boundary& b, std::ostream* os) { *os << b.name; }

class ChunkBoundaries : public ::testing::TestWithParam<Boundary> {};

TEST_P(ChunkBoundaries, FileToFieldAndBackMoveExactChunks) {
    const Boundary& b = GetParam();
    TempDir dir;
    LocalFileSystem files;
    RecordingMessageBox messages;
    const Bytes content = PatternBytes(b.length, static_cast<unsigned>(b.length));
    WriteBytes(dir.File("in.bmp"), content);

    RecordingField field;
    ASSERT_TRUE(FileToPICField(dir.File("in.bmp"), field, files, messages));
    EXPECT_EQ(field.appended, b.chunks);
    EXPECT_EQ(field.held, content);
    EXPECT_TRUE(messages.shown.empty());

    PICFieldToFile(field, dir.File("temp.bmp"), files);
    std::vector<std::pair<std::int32_t, std::int32_t>> expected;
    std::int32_t at = 0;
    for (std::size_t n : b.chunks) {
        expected.emplace_back(at, static_cast<std::int32_t>(n));
        at += static_cast<std::int32_t>(n);
    }
    EXPECT_EQ(field.reads, expected);
    EXPECT_EQ(ReadBytes(dir.File("temp.bmp")), content);
}

INSTANTIATE_TEST_SUITE_P(
    Transfer, ChunkBoundaries,
    ::testing::Values(Boundary{"empty_file", 0, {}}, Boundary{"one_byte_short_of_a_chunk", 31999, {31999}},
                      Boundary{"exactly_one_chunk", 32000, {32000}},
                      Boundary{"one_byte_over_a_chunk", 32001, {32000, 1}},
                      Boundary{"exactly_two_chunks", 64000, {32000, 32000}},
                      Boundary{"three_chunks_and_a_remainder", 3 * 32000 + 123, {32000, 32000, 32000, 123}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Transfer, MissingFileOrEmptyPathTellsTheUserOnceAndAppendsNothing) {
    TempDir dir;
    LocalFileSystem files;
    for (const std::string& path : {std::string(), dir.File("nowhere.bmp"), dir.path()}) {
        RecordingMessageBox messages;
        RecordingField field;
        EXPECT_FALSE(FileToPICField(path, field, files, messages)) << path;
        ASSERT_EQ(messages.shown.size(), 1u) << path;
        EXPECT_EQ(messages.shown[0], std::make_pair(std::string("파일이 존재하지 않습니다."), vbOKOnly));
        EXPECT_TRUE(field.appended.empty());
    }
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{});
}

// Run as an unprivileged user: root may open any file for writing.
TEST(Transfer, AFileTheUserMayOnlyReadIsStored) {
    TempDir dir;
    const std::string file = dir.File("read-only.bmp");
    const Bytes content = PatternBytes(70000);
    WriteBytes(file, content);
    ::chmod(file.c_str(), 0444);
    EXPECT_EQ(RunAsUnprivileged([&] {
                  LocalFileSystem files;
                  RecordingMessageBox messages;
                  RecordingField field;
                  try {
                      return FileToPICField(file, field, files, messages) && field.held == content ? 0 : 1;
                  } catch (const Error& e) {
                      std::fprintf(stderr, "%s\n", e.what());
                      return 2;
                  }
              }),
              0);
}

TEST(Transfer, LeftoverLongerTransferFileIsReplacedWhole) {
    TempDir dir;
    LocalFileSystem files;
    WriteBytes(dir.File("temp.bmp"), PatternBytes(100000, 9));
    RecordingField field;
    field.held = PatternBytes(10, 3);
    PICFieldToFile(field, dir.File("temp.bmp"), files);
    EXPECT_EQ(ReadBytes(dir.File("temp.bmp")), field.held);
}

TEST(Transfer, FailuresPartWayReachTheCallerWithTheFileClosed) {
    TempDir dir;
    FailingFileSystem files;
    RecordingMessageBox messages;
    WriteBytes(dir.File("in.bmp"), PatternBytes(100000));
    files.failAfter = 70000;

    RecordingField field;
    EXPECT_THROW(FileToPICField(dir.File("in.bmp"), field, files, messages), Error);
    EXPECT_EQ(files.open, 0);

    field.held = PatternBytes(100000);
    EXPECT_THROW(PICFieldToFile(field, dir.File("temp.bmp"), files), Error);
    EXPECT_EQ(files.open, 0);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.bmp"}) << "no part-written transfer file";
}

struct SaveOnDb : ::testing::Test {
    TempDir dir;
    std::string path = DatabasePath(dir.path());
    Workspace ws;
    Database db;
    LocalFileSystem files;
    RecordingMessageBox messages;
    void SetUp() override {
        MakePictureDb(path);
        std::string a = "도장", b = "other";
        RawInsert(path, &a, {1, 1});
        RawInsert(path, &b, {2});
        RawInsert(path, &a, {3, 3, 3});
        OpenPICDB(ws, db, dir.path());
    }
};

TEST_F(SaveOnDb, RoundTripThroughTheDatabaseIsExact) {
    const Bytes content = PatternBytes(5 * 32000 + 77, 4);  // zeros included
    WriteBytes(dir.File("in.bmp"), content);
    ASSERT_TRUE(StorePicture(db, "새 이름", dir.File("in.bmp"), files, messages));
    Recordset rs = db.OpenRecordset("SELECT * FROM pic_list WHERE  pic_name = '새 이름'", dbOpenSnapshot);
    ASSERT_EQ(rs.RecordCount(), 1);
    PICFieldToFile(rs.Fields("pic"), TransferFilePath(dir.path()), files);
    EXPECT_EQ(ReadBytes(TransferFilePath(dir.path())), content);
}

// The table of names in save_contract.h, on a local book; the server's tests
// run the same body on a linked one.
TEST_F(SaveOnDb, ReplacesEveryRowOfTheNameAndNoOther) {
    ExpectSaveReplacesEveryRowOfTheNameAndNoOther(db, dir.path(), [&] { return RawRows(path); });
}

TEST_F(SaveOnDb, MissingFileOrFailureLeavesEveryEarlierRow) {
    const auto before = RawRows(path);
    EXPECT_FALSE(StorePicture(db, "도장", dir.File("missing.bmp"), files, messages));
    EXPECT_EQ(RawRows(path), before);

    FailingFileSystem failing;
    failing.failAfter = 40000;
    WriteBytes(dir.File("in.bmp"), PatternBytes(100000));
    EXPECT_THROW(StorePicture(db, "도장", dir.File("in.bmp"), failing, messages), Error);
    EXPECT_EQ(failing.open, 0);
    EXPECT_EQ(RawRows(path), before);
    EXPECT_FALSE(db.InTransaction());
}

}  // namespace

namespace {

TEST_F(SaveOnDb, AMissingFileIsReportedOnlyAfterTheBookIsUnlocked) {
    ExpectNoLockWhileAMessageIsShown(db, [&] {
        // Another process's write, not waiting for the lock at all.
        sqlite3* other = nullptr;
        sqlite3_open_v2(path.c_str(), &other, SQLITE_OPEN_READWRITE, nullptr);
        const int rc = sqlite3_exec(other, "BEGIN IMMEDIATE; DELETE FROM pic_list WHERE pic_name = 'other'; COMMIT",
                                    nullptr, nullptr, nullptr);
        sqlite3_close(other);
        return rc == SQLITE_OK;
    });
    EXPECT_EQ(RawRows(path).size(), 2u) << "the two rows of 도장 are still there";
}

}  // namespace
