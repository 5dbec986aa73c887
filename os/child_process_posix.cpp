#include "os/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "os/error.h"
#include "os/os_error.h"
#include "os/retry.h"
#include "os/unique_fd.h"
#include "text/korean.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// The address space now in use, so the limit adds to what the process already maps.
std::size_t CurrentAddressSpace() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    unsigned long pages = 0;
    if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
    std::fclose(f);
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

void LimitChild(const ChildLimits& limits) {
    ::alarm(static_cast<unsigned>(std::max<long long>(1, limits.time.count() / 1000 + 1)));
    // The address sanitizer reserves terabytes of shadow memory up front.
    if (ChildMemoryIsLimited()) {
        rlim_t cap = static_cast<rlim_t>(CurrentAddressSpace() + limits.memoryBytes);
        struct rlimit rl {cap, cap};
        ::setrlimit(RLIMIT_AS, &rl);
    }
}

// A watcher: only async-signal-safe calls from here to its task, since the
// parent may have threads.
void Detach(int& fd) {
    // Its own session, so that Ctrl-C on the terminal ends only the parent.
    ::setsid();
    if (fd != 3) {
        ::dup2(fd, 3);
        ::close(fd);
        fd = 3;
    }
    // Holding none of the parent's files: no database, no pipe of a shell.
    for (int std : {0, 1, 2}) ::close(std);
    ::syscall(SYS_close_range, 4u, ~0u, 0u);
}

// The task's own diagnostics (a library's) never reach the parent's terminal.
void Quiet() {
    if (UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC)); null) {
        ::dup2(null.get(), STDOUT_FILENO);
        ::dup2(null.get(), STDERR_FILENO);
    }
}

[[noreturn]] void RunInChild(const ChildTask& task, const std::vector<std::string>& args, const ChildOptions& options,
                             int fd) {
    int status = childstatus::Failed;
    try {
        if (options.outlivesParent) Detach(fd);
        if (options.limits) LimitChild(*options.limits);
        if (!options.outlivesParent) Quiet();
        ChildPipe pipe(fd);
        status = task.run(pipe, args);
    } catch (const std::bad_alloc&) {
        status = childstatus::OutOfMemory;
    } catch (...) {
        status = childstatus::Failed;
    }
    ::_exit(status);
}

}  // namespace

bool ChildMemoryIsLimited() { return !kSanitized; }

bool ChildPipe::Write(const void* data, std::size_t size) {
    auto p = static_cast<const char*>(data);
    const int fd = static_cast<int>(handle_);
    const ssize_t n = TransferAll(size, [&](std::size_t done) { return ::write(fd, p + done, size - done); });
    return n == static_cast<ssize_t>(size);
}

std::size_t ChildPipe::Read(void* data, std::size_t size) {
    const ssize_t n = RetryInterrupted([&] { return ::read(static_cast<int>(handle_), data, size); });
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

std::string DescribeChildExit(const ChildExit& exit) {
    switch (exit.how) {
    case ChildExit::How::TimeLimit: return "시간 제한에 걸렸습니다";
    case ChildExit::How::MemoryLimit: return "메모리 제한에 걸렸습니다";
    case ChildExit::How::Killed:
    case ChildExit::How::Signalled:
        return "신호 " + WithParticle(std::to_string(exit.code), Particle::EuroRo) + " 끝났습니다 — " + ::strsignal(exit.code);
    case ChildExit::How::Exited: break;
    }
    return exit.code == 0 ? std::string() : "상태 " + WithParticle(std::to_string(exit.code), Particle::EuroRo) + " 끝났습니다";
}

struct ChildProcess::Impl {
    pid_t pid = -1;
    UniqueFd fd;
    bool killed = false;
    ChildExit exit;

    ~Impl() {
        fd.reset();
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            Reap();
        }
    }

    int Reap() {
        int status = 0;
        RetryInterrupted([&] { return ::waitpid(pid, &status, 0); });
        pid = -1;
        return status;
    }
};

ChildProcess::ChildProcess(const ChildTask& task, const std::vector<std::string>& args, const ChildOptions& options)
    : impl_(std::make_unique<Impl>()) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) RaiseErrno(errno, options.startFailure);
    const bool fromChild = options.direction == ChildPipeDirection::FromChild;
    UniqueFd ours(fromChild ? ends[0] : ends[1]), theirs(fromChild ? ends[1] : ends[0]);
    std::fflush(nullptr);  // nothing buffered here is written twice
    const pid_t pid = ::fork();
    if (pid < 0) RaiseErrno(errno, options.startFailure);
    if (pid == 0) {
        ours.reset();
        RunInChild(task, args, options, theirs.release());
    }
    impl_->pid = pid;
    impl_->fd = std::move(ours);
}

ChildProcess::~ChildProcess() = default;
ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&&) noexcept = default;

std::optional<std::size_t> ChildProcess::Read(std::span<std::uint8_t> into, std::chrono::milliseconds wait) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + wait;
    for (;;) {
        struct pollfd p {impl_->fd.get(), POLLIN, 0};
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const int rc = ::poll(&p, 1, std::max(static_cast<int>(left.count()), 1));
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0) throw Error(err::DeviceIO, std::string("읽기 과정을 기다릴 수 없습니다: ") + std::strerror(errno));
        if (rc == 0) return std::nullopt;
        const ssize_t n = RetryInterrupted([&] { return ::read(impl_->fd.get(), into.data(), into.size()); });
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
}

bool ChildProcess::Write(std::span<const std::uint8_t> bytes) {
    if (!impl_->fd) return false;
    ChildPipe ours(impl_->fd.get());
    return ours.Write(bytes.data(), bytes.size());
}

ChildExit ChildProcess::Finish(bool kill) {
    // Killed before its pipe closes, so that its end is ours to tell, not a SIGPIPE's.
    if (kill && impl_->pid > 0) {
        ::kill(impl_->pid, SIGKILL);
        impl_->killed = true;
    }
    impl_->fd.reset();
    if (impl_->pid <= 0) return impl_->exit;
    const int status = impl_->Reap();
    ChildExit& e = impl_->exit;
    if (WIFSIGNALED(status)) {
        e.code = WTERMSIG(status);
        e.how = e.code == SIGALRM ? ChildExit::How::TimeLimit
                : impl_->killed   ? ChildExit::How::Killed
                                  : ChildExit::How::Signalled;
    } else {
        e.code = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
        e.how = e.code == childstatus::OutOfMemory ? ChildExit::How::MemoryLimit : ChildExit::How::Exited;
    }
    return e;
}

std::optional<int> RunChildTask(int, char*[], std::initializer_list<const ChildTask*>) { return std::nullopt; }
