#include "os/leftovers.h"

#include <cstdint>

namespace {

constexpr char kKeep = 'k';

}  // namespace

// The watcher. On POSIX it is a fork of a process that may have threads:
// only async-signal-safe calls (read, unlink) from here on.
int LeftoverFiles::RunWatcher(ChildPipe& parent, const std::vector<std::string>& paths) {
    char verdict = 0;
    if (parent.Read(&verdict, 1) != 1 || verdict != kKeep)
        for (const auto& path : paths) Remove(path);
    return 0;
}

const ChildTask& LeftoverFiles::WatcherTask() {
    static constexpr ChildTask kTask{"leftovers", &LeftoverFiles::RunWatcher};
    return kTask;
}

LeftoverFiles::LeftoverFiles(std::vector<std::string> paths, Watch watch) : paths_(std::move(paths)) {
    if (watch == Watch::WhileRunning) return;
    ChildOptions options;
    options.direction = ChildPipeDirection::ToChild;
    options.outlivesParent = true;
    options.startFailure = "정리 감시 프로세스를 시작할 수 없습니다";
    watcher_.emplace(WatcherTask(), paths_, options);
}

LeftoverFiles::~LeftoverFiles() {
    if (!kept_)
        for (const auto& p : paths_) Remove(p);
    Stop(0);
}

void LeftoverFiles::Keep() {
    kept_ = true;
    Stop(kKeep);
}

void LeftoverFiles::Stop(char verdict) {
    if (!watcher_) return;
    if (verdict) watcher_->Write({reinterpret_cast<const std::uint8_t*>(&verdict), 1});
    watcher_->Finish();
    watcher_.reset();
}
