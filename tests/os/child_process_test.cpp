// The child process and its pipe: what the child streams, the limits it runs
// under, its being killed, dropped or killing its own parent. The same test
// bodies run on Linux (fork) and on Windows (the program started again, in a
// job object), so this file keeps to portable code.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "os/child_process.h"
#include "os/leftovers.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }
std::string Utf8Of(const fs::path& path) {
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

// Job object limits are not enforced by Wine (8.0): the Windows build's
// limits are proven on Windows only.
bool UnderWine() {
#ifdef _WIN32
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
}

// --- the children's tasks -----------------------------------------------------

// Sends its arguments back, each ended by a zero byte, and exits with status 7.
int Echo(ChildPipe& pipe, const std::vector<std::string>& args) {
    for (const auto& a : args)
        if (!pipe.Write(a.c_str(), a.size() + 1)) return 1;
    return 7;
}

// Streams bytes until the parent goes.
int Stream(ChildPipe& pipe, const std::vector<std::string>&) {
    const std::vector<char> chunk(64 * 1024, 'x');
    while (pipe.Write(chunk.data(), chunk.size())) {
    }
    return 3;
}

// Streams a little, then dies without any cleaning up.
int StreamThenAbort(ChildPipe& pipe, const std::vector<std::string>&) {
    const std::vector<char> chunk(64 * 1024, 'x');
    for (int i = 0; i < 16; ++i) pipe.Write(chunk.data(), chunk.size());
    std::abort();
}

// Takes memory in pieces of 1 MiB, each written to, up to 256 MiB.
int Hog(ChildPipe& pipe, const std::vector<std::string>&) {
    std::vector<std::vector<char>> held;
    for (int i = 0; i < 256; ++i) held.emplace_back(std::size_t{1} << 20, 'm');
    pipe.Write("all", 3);
    return 0;
}

// Computes until it is stopped.
int Spin(ChildPipe&, const std::vector<std::string>&) {
    volatile std::uint64_t n = 0;
    for (;;) n = n + 1;
}

// Appends to the file args[0] every few milliseconds, for ever.
int Tick(ChildPipe& pipe, const std::vector<std::string>& args) {
    pipe.Write("t", 1);
    for (;;) {
        std::ofstream(PathOf(args[0]), std::ios::app) << 't';
        std::this_thread::sleep_for(5ms);
    }
}

// Makes the file args[0] under a LeftoverFiles guard (keeping it when args[1]
// is "keep"), says so, and dies as a killed process does: no destructor runs.
int GuardThenDie(ChildPipe& pipe, const std::vector<std::string>& args) {
    LeftoverFiles guard({args[0]});
    std::ofstream(PathOf(args[0])) << "half made";
    if (args[1] == "keep") guard.Keep();
    pipe.Write("r", 1);
    std::abort();
}

constexpr ChildTask kEcho{"echo", Echo}, kStream{"stream", Stream}, kStreamThenAbort{"stream-abort", StreamThenAbort},
    kHog{"hog", Hog}, kSpin{"spin", Spin}, kTick{"tick", Tick}, kGuardThenDie{"guard-die", GuardThenDie};

// --- helpers ------------------------------------------------------------------

ChildOptions Limited(std::size_t memoryBytes = std::size_t{512} << 20, std::chrono::milliseconds time = 60s) {
    ChildOptions options;
    options.limits = ChildLimits{memoryBytes, time};
    return options;
}

// Everything the child sends until its end closes; fails the test on a wait
// of more than 20 s.
std::string ReadToEnd(ChildProcess& child) {
    std::string all;
    std::uint8_t buffer[4096];
    for (;;) {
        const auto n = child.Read(buffer, 20s);
        if (!n) {
            ADD_FAILURE() << "the child neither wrote nor ended within 20 s";
            return all;
        }
        if (*n == 0) return all;
        all.append(reinterpret_cast<const char*>(buffer), *n);
    }
}

class TempFolder {
public:
    TempFolder() : path_(fs::temp_directory_path() / PathOf("kaldoria-자식-" + std::to_string(std::rand()))) {
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return Utf8Of(path_ / PathOf(name)); }

private:
    fs::path path_;
};

std::uintmax_t SizeOf(const std::string& path) {
    std::error_code ec;
    const auto size = fs::file_size(PathOf(path), ec);
    return ec ? 0 : size;
}

// --- the tests ----------------------------------------------------------------

TEST(ChildProcess, ReceivesItsArgumentsAndItsExitStatusIsRead) {
    // Korean, blanks, quotes, backslashes before a quote and at the end: what
    // Windows command lines get wrong.
    const std::vector<std::string> args = {"C:\\도장 폴더\\dojang.mdb", "\"따옴표\" 안", "끝에\\\\", "", "a\\\"b"};
    ChildProcess child(kEcho, args, Limited());
    std::string expected;
    for (const auto& a : args) expected += a + '\0';
    EXPECT_EQ(ReadToEnd(child), expected);
    const ChildExit exit = child.Finish();
    EXPECT_EQ(exit.how, ChildExit::How::Exited);
    EXPECT_EQ(exit.code, 7);
    EXPECT_EQ(DescribeChildExit(exit), "상태 7로 끝났습니다");
}

struct LimitCase {
    const char* name;
    const ChildTask* task;
    ChildOptions options;
    ChildExit::How expected;
    const char* words;
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }

class ChildLimitsTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ChildLimitsTest, EndTheChildAndAreReportedAsSuch) {
    if (UnderWine()) GTEST_SKIP() << "Wine does not enforce a job object's limits";
    if (!ChildMemoryIsLimited() && GetParam().expected == ChildExit::How::MemoryLimit)
        GTEST_SKIP() << "the address sanitizer's reservation leaves no room for a memory limit";
    ChildProcess child(*GetParam().task, {}, GetParam().options);
    EXPECT_EQ(ReadToEnd(child), "");
    const ChildExit exit = child.Finish();
    EXPECT_EQ(exit.how, GetParam().expected) << DescribeChildExit(exit);
    EXPECT_EQ(DescribeChildExit(exit), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    ChildProcess, ChildLimitsTest,
    ::testing::Values(LimitCase{"MemoryBeyondTheLimit", &kHog, Limited(std::size_t{32} << 20),
                                ChildExit::How::MemoryLimit, "메모리 제한에 걸렸습니다"},
                      LimitCase{"TimeBeyondTheLimit", &kSpin, Limited(std::size_t{512} << 20, 1s),
                                ChildExit::How::TimeLimit, "시간 제한에 걸렸습니다"}),
    [](const auto& info) { return std::string(info.param.name); });

struct MidStreamCase {
    const char* name;
    const ChildTask* task;
    bool killedByTheParent;
};

void PrintTo(const MidStreamCase& c, std::ostream* os) { *os << c.name; }

class ChildEndsMidStream : public ::testing::TestWithParam<MidStreamCase> {};

TEST_P(ChildEndsMidStream, TheStreamEndsAndTheChildIsNotTakenForFinished) {
    ChildProcess child(*GetParam().task, {}, Limited());
    std::uint8_t buffer[64 * 1024];
    std::size_t got = 0;
    while (got < (std::size_t{1} << 20)) {
        const auto n = child.Read(buffer, 20s);
        ASSERT_TRUE(n && *n > 0) << "after " << got << " bytes";
        got += *n;
    }
    if (GetParam().killedByTheParent) {
        const auto before = std::chrono::steady_clock::now();
        const ChildExit exit = child.Finish(true);
        EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
        EXPECT_EQ(exit.how, ChildExit::How::Killed) << DescribeChildExit(exit);
        return;
    }
    got += ReadToEnd(child).size();
    EXPECT_EQ(got, std::size_t{16} << 16);  // all it sent, then the end
    const ChildExit exit = child.Finish();
    EXPECT_FALSE(exit.Clean()) << DescribeChildExit(exit);
    EXPECT_NE(DescribeChildExit(exit), "");
}

INSTANTIATE_TEST_SUITE_P(ChildProcess, ChildEndsMidStream,
                         ::testing::Values(MidStreamCase{"KilledByTheParent", &kStream, true},
                                           MidStreamCase{"DiesOfItself", &kStreamThenAbort, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ChildProcess, DroppingTheHandleEndsTheChild) {
    TempFolder folder;
    const std::string ticks = folder.File("ticks");
    auto dropped = std::chrono::steady_clock::now();
    {
        ChildProcess child(kTick, {ticks}, Limited());
        std::uint8_t started = 0;
        ASSERT_EQ(child.Read({&started, 1}, 20s), std::optional<std::size_t>(1));
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (SizeOf(ticks) < 3 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
        ASSERT_GE(SizeOf(ticks), 3u) << "the child never ticked";
        dropped = std::chrono::steady_clock::now();
    }
    // Not left to run into its time limit (a minute) either.
    EXPECT_LT(std::chrono::steady_clock::now() - dropped, 10s);
    // Ended, not merely left alone: nothing more is written.
    const auto size = SizeOf(ticks);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(SizeOf(ticks), size);
}

struct GuardCase {
    const char* name;
    bool kept;
};

void PrintTo(const GuardCase& c, std::ostream* os) { *os << c.name; }

class LeftoversOfAKilledProcess : public ::testing::TestWithParam<GuardCase> {};

// The process that guards the file is a child here, so that it can die as a
// killed one does; it outlives no one, but must be free to start its watcher.
TEST_P(LeftoversOfAKilledProcess, AreRemovedUnlessKept) {
    TempFolder folder;
    const std::string file = folder.File("반쯤 만든 책.mdb");
    ChildOptions options;
    options.outlivesParent = true;
    ChildProcess guard(kGuardThenDie, {file, GetParam().kept ? "keep" : "drop"}, options);
    EXPECT_EQ(ReadToEnd(guard), "r");
    EXPECT_FALSE(guard.Finish().Clean());
    if (GetParam().kept) {
        EXPECT_TRUE(fs::exists(PathOf(file)));  // Keep returned after the watcher had ended
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (fs::exists(PathOf(file)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(fs::exists(PathOf(file)));
}

INSTANTIATE_TEST_SUITE_P(ChildProcess, LeftoversOfAKilledProcess,
                         ::testing::Values(GuardCase{"KilledBeforeKeep", false}, GuardCase{"KilledAfterKeep", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

int main(int argc, char** argv) {
    if (auto status = RunChildTask(argc, argv,
                                   {&kEcho, &kStream, &kStreamThenAbort, &kHog, &kSpin, &kTick, &kGuardThenDie,
                                    &LeftoverFiles::WatcherTask()}))
        return *status;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
