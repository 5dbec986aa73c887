// The promises of the file services that hold on every system, with the
// dangers Windows has in place of POSIX ones: a link planted where a file is
// replaced, a file another program holds open, a read-only file, a path past
// the classic 260 characters, Korean names.
#include <filesystem>

#include "os/files.h"
#include "os/paths.h"
#include "support.h"

#ifdef _WIN32
#include <windows.h>

#include "os/windows_text.h"
#endif

namespace {

namespace fs = std::filesystem;

fs::path FsPath(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

void Replace(const std::string& path, const Bytes& bytes) {
    auto file = LocalFileSystem().CreateReplacing(path);
    file->Write(bytes);
    file->Close();
}

Bytes Read(const std::string& path) {
    auto file = LocalFileSystem().OpenBinary(path);
    Bytes bytes(static_cast<std::size_t>(file->Length()));
    file->Read(bytes);
    return bytes;
}

TEST(LocalFiles, KoreanNamesPastTheClassicPathLimit) {
    TempDir dir;
    std::string folder = dir.path();
    while (folder.size() < 300) folder = JoinPath(folder, "도장 보관함 폴더");
    fs::create_directories(FsPath(folder));
    const std::string path = JoinPath(folder, "임시 도장.bmp");
    ASSERT_GT(path.size(), 300u);

    Replace(path, PatternBytes(5000));
    Replace(path, PatternBytes(7000, 2));
    EXPECT_EQ(Read(path), PatternBytes(7000, 2));
    EXPECT_TRUE(LocalFileSystem().FileExists(path));
    EXPECT_EQ(StatPath(path).size, 7000);
    EXPECT_EQ(FolderOf(path), folder);
    EXPECT_EQ(BaseNameOf(path), "임시 도장.bmp");
    // Nothing but the file itself is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(FsPath(folder)), fs::directory_iterator()), 1);
    LocalFileSystem().Kill(path);
    EXPECT_FALSE(PathTaken(path));
}

TEST(LocalFiles, ReplacingTakesTheLinksPlaceAndLeavesItsTargetAlone) {
    TempDir dir;
    const std::string target = dir.File("중요한 파일");
    const std::string link = dir.File("temp.bmp");
    WriteBytes(target, PatternBytes(100));
    std::error_code e;
    fs::create_symlink(FsPath(target), FsPath(link), e);
    if (e) GTEST_SKIP() << "this system lets no one here make a symbolic link: " << e.message();

    Replace(link, PatternBytes(300, 3));
    EXPECT_EQ(ReadBytes(target), PatternBytes(100));
    EXPECT_FALSE(fs::is_symlink(FsPath(link)));
    EXPECT_EQ(Read(link), PatternBytes(300, 3));
}

TEST(LocalFiles, ANewFileIsNeverMadeThroughADanglingLink) {
    TempDir dir;
    const std::string missing = dir.File("없는 곳");
    const std::string link = dir.File("백업.mdb");
    std::error_code e;
    fs::create_symlink(FsPath(missing), FsPath(link), e);
    if (e) GTEST_SKIP() << "this system lets no one here make a symbolic link: " << e.message();

    EXPECT_TRUE(PathTaken(link));
    EXPECT_EQ(ErrorOf([&] { RefuseTakenName(link); }).Number(), err::PathFileAccess);
    UniqueFd fd = CreateNewFile(link);
    EXPECT_FALSE(fd);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_FALSE(fs::exists(FsPath(missing)));
}

TEST(LocalFiles, AReadOnlyFileIsReportedAsSuch) {
#ifndef _WIN32
    GTEST_SKIP() << "POSIX permission bits are tested as an unprivileged user with the tools";
#else
    TempDir dir;
    const std::string path = dir.File("읽기 전용.bmp");
    WriteBytes(path, PatternBytes(10));
    ASSERT_TRUE(SetFileAttributesW(WidePath(path).c_str(), FILE_ATTRIBUTE_READONLY));

    const Error writing = ErrorOf([&] { LocalFileSystem().OpenForWriting(path); });
    EXPECT_EQ(writing.Number(), err::PermissionDenied);
    EXPECT_NE(std::string(writing.what()).find("읽기 전용"), std::string::npos) << writing.what();
    const Error replacing = ErrorOf([&] { Replace(path, PatternBytes(20)); });
    EXPECT_EQ(replacing.Number(), err::PermissionDenied);
    EXPECT_NE(std::string(replacing.what()).find("읽기 전용"), std::string::npos) << replacing.what();
    EXPECT_FALSE(MayReadAndWrite(path));
    EXPECT_EQ(ReadBytes(path), PatternBytes(10));
    SetFileAttributesW(WidePath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"읽기 전용.bmp"});
#endif
}

TEST(LocalFiles, AFileAnotherProgramHoldsOpenIsReportedAsSuch) {
#ifndef _WIN32
    GTEST_SKIP() << "POSIX has no mandatory locks: a rename replaces a file others hold open";
#else
    TempDir dir;
    const std::string path = dir.File("temp.bmp");
    WriteBytes(path, PatternBytes(10));
    // As an image viewer holds a picture: open, sharing nothing.
    HANDLE held = CreateFileW(WidePath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const Error e = ErrorOf([&] { Replace(path, PatternBytes(20)); });
    CloseHandle(held);
    EXPECT_NE(std::string(e.what()).find("다른 프로그램이"), std::string::npos) << e.what();
    EXPECT_EQ(ReadBytes(path), PatternBytes(10));
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"temp.bmp"});
#endif
}

}  // namespace
