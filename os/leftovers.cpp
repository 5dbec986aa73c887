#include "os/leftovers.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "os/os_error.h"
#include "os/retry.h"

namespace {

constexpr char kKeep = 'k';

// The watcher: only async-signal-safe calls, since the parent may have threads.
[[noreturn]] void RunWatcher(int alive, int other, const std::vector<const char*>& paths) {
    ::close(other);
    // Its own session, so that Ctrl-C on the terminal ends only the command.
    ::setsid();
    if (alive != 3) {
        ::dup2(alive, 3);
        ::close(alive);
    }
    // Holding none of the parent's files: no database, no pipe of a shell.
    for (int fd : {0, 1, 2}) ::close(fd);
    ::syscall(SYS_close_range, 4u, ~0u, 0u);
    char verdict = 0;
    const ssize_t n = RetryInterrupted([&] { return ::read(3, &verdict, 1); });
    if (n != 1 || verdict != kKeep)
        for (const char* path : paths) ::unlink(path);
    ::_exit(0);
}

}  // namespace

LeftoverFiles::LeftoverFiles(std::vector<std::string> paths, Watch watch) : paths_(std::move(paths)) {
    if (watch == Watch::WhileRunning) return;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) RaiseErrno(errno, "정리 감시 프로세스를 시작할 수 없습니다");
    UniqueFd read(ends[0]);
    alive_.reset(ends[1]);
    std::vector<const char*> names;
    for (const auto& p : paths_) names.push_back(p.c_str());
    watcher_ = ::fork();
    if (watcher_ < 0) RaiseErrno(errno, "정리 감시 프로세스를 시작할 수 없습니다");
    if (watcher_ == 0) RunWatcher(read.get(), alive_.get(), names);
}

LeftoverFiles::~LeftoverFiles() {
    if (!kept_)
        for (const auto& p : paths_) ::unlink(p.c_str());
    Stop(0);
}

void LeftoverFiles::Keep() {
    kept_ = true;
    Stop(kKeep);
}

void LeftoverFiles::Stop(char verdict) {
    if (watcher_ < 0) return;
    if (verdict) (void)!::write(alive_.get(), &verdict, 1);
    alive_.reset();
    RetryInterrupted([&] { return ::waitpid(watcher_, nullptr, 0); });
    watcher_ = -1;
}
