#pragma once
// A task run in a child process, for work that must not harm this process (a
// reader of files that may be hostile, under limits) or that must outlive it
// (a watcher that cleans up after a killed process). The child and this
// process share one pipe, used in one direction.
//
// On POSIX the child is a fork of this process and runs its task at once. On
// Windows, which cannot fork, the program starts itself again with a first
// argument no user types; its main() hands that to RunChildTask before
// anything else (Qt included), so every program that starts a task must list
// the task there.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The child's end of the pipe, handed to its task.
class ChildPipe {
public:
    explicit ChildPipe(std::intptr_t handle) : handle_(handle) {}  // a descriptor or a HANDLE
    // Writes all of `size` bytes; false once this process has closed its end.
    bool Write(const void* data, std::size_t size);
    // Reads up to `size` bytes, waiting for them; 0 once this process has
    // closed its end (or the read failed).
    std::size_t Read(void* data, std::size_t size);

private:
    std::intptr_t handle_;
};

struct ChildTask {
    const char* name;  // one word, unique among a program's tasks
    // Runs in the child with the arguments the child was started with and
    // returns its exit status. The child ends when it returns or throws: on
    // POSIX it never unwinds into the code that started it.
    int (*run)(ChildPipe& pipe, const std::vector<std::string>& args);
};

// Exit statuses the child's runner keeps for itself.
namespace childstatus {
constexpr int OutOfMemory = 120;  // the task raised std::bad_alloc
constexpr int Failed = 121;       // the task raised anything else
constexpr int UnknownTask = 122;  // (Windows) the program does not list the task
}  // namespace childstatus

struct ChildLimits {
    // Memory the child may take beyond what it starts with. POSIX: address
    // space added to the fork's (not under AddressSanitizer, which reserves
    // terabytes); Windows: committed memory, plus a fixed allowance for the
    // program's own start.
    std::size_t memoryBytes = std::size_t{512} << 20;
    // POSIX: wall-clock time (SIGALRM), whole seconds, rounded up and at
    // least one; Windows: user-mode CPU time (the job's limit). The parent
    // bounds the wall-clock time of its own reads itself.
    std::chrono::milliseconds time{30 * 60'000};
};

// False where this build cannot cap a child's memory: under AddressSanitizer,
// whose shadow reservation leaves no address space to limit.
bool ChildMemoryIsLimited();

enum class ChildPipeDirection { FromChild, ToChild };

struct ChildOptions {
    ChildPipeDirection direction = ChildPipeDirection::FromChild;
    std::optional<ChildLimits> limits;
    // A child that lives on when this process is killed (a watcher): on
    // POSIX in its own session (Ctrl-C on the terminal ends only this
    // process) and holding none of this process's files; on Windows outside
    // the job that ends the other children with this process. Otherwise the
    // child's standard output and error go nowhere.
    bool outlivesParent = false;
    // The words an Error begins with when the child cannot be started.
    std::string startFailure = "자식 프로세스를 시작할 수 없습니다";
};

struct ChildExit {
    enum class How {
        Exited,       // `code` is its exit status
        Signalled,    // ended by signal `code` (POSIX) or exception `code` (Windows)
        TimeLimit,    // its time limit ended it
        MemoryLimit,  // it ran out of the memory it may use
        Killed,       // this process ended it
    };
    How how = How::Exited;
    int code = 0;
    bool Clean() const { return how == How::Exited && code == 0; }
};

// How a child ended, as words for a message: empty when cleanly, else for
// example "시간 제한에 걸렸습니다" or "상태 3으로 끝났습니다".
std::string DescribeChildExit(const ChildExit& exit);

// One started child. Dropped, it kills the child if it has not been
// finished and waits for it: no child outlives its handle unnoticed.
class ChildProcess {
public:
    // Starts `task` with `args`. Raises an Error (options.startFailure and the
    // system's words) when the child cannot be started.
    ChildProcess(const ChildTask& task, const std::vector<std::string>& args, const ChildOptions& options);
    ~ChildProcess();
    ChildProcess(ChildProcess&&) noexcept;
    ChildProcess& operator=(ChildProcess&&) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // (FromChild) Reads up to into.size() bytes, waiting at most `wait`:
    // nullopt when nothing came in that time, 0 once the child's end has
    // closed (it ended, or was killed), else the bytes read. Raises an Error
    // when waiting itself fails.
    std::optional<std::size_t> Read(std::span<std::uint8_t> into, std::chrono::milliseconds wait);
    // (ToChild) Writes all of `bytes`; false when the child has gone.
    bool Write(std::span<const std::uint8_t> bytes);
    // Closes this end of the pipe, which the child notices, ends the child
    // first when `kill` is set, waits for it and says how it ended. Later
    // calls return the same answer.
    ChildExit Finish(bool kill = false);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// For main(), before anything else: when this process is a child started by
// ChildProcess (on Windows), runs the named one of `tasks` and returns its
// exit status, for main to return; otherwise nullopt. On Windows a program
// starts only the tasks it lists here (others raise an Error at the start,
// rather than running the program's main in the child); on POSIX always
// nullopt, and nothing happens.
std::optional<int> RunChildTask(int argc, char* argv[], std::initializer_list<const ChildTask*> tasks);
