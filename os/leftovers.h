#pragma once
// The one guard for "a new file, removed unless it is finished": files made
// while something is built (a backup, a converted database, an exported
// picture, a file about to replace another) are removed again unless Keep()
// says they were handed over. A destructor cannot run when the process is
// killed (kill -9, an out-of-memory kill, the task manager), so for files
// worth it a small watcher process removes them then.
#include <optional>
#include <string>
#include <vector>

#include "os/child_process.h"

class LeftoverFiles {
public:
    enum class Watch {
        AlsoWhenKilled,  // a watcher process: for a whole book, not for every file of an export
        WhileRunning,    // the destructor alone
    };
    // Guards `paths` (which need not exist yet). Raises an Error when the
    // watcher cannot be started.
    explicit LeftoverFiles(std::vector<std::string> paths, Watch watch = Watch::AlsoWhenKilled);
    // Removes the files unless Keep() was called, and the watcher with them.
    ~LeftoverFiles();
    LeftoverFiles(const LeftoverFiles&) = delete;
    LeftoverFiles& operator=(const LeftoverFiles&) = delete;

    // The files were handed over (renamed to their final names): nothing is
    // removed, now or when the process ends.
    void Keep();

    // The watcher, for the list of tasks in a program's main() (os/child_process.h).
    static const ChildTask& WatcherTask();

private:
    static int RunWatcher(ChildPipe& parent, const std::vector<std::string>& paths);
    // Removes one file if it is there; quietly, as nobody is left to tell.
    static void Remove(const std::string& path);
    void Stop(char verdict);
    std::vector<std::string> paths_;
    bool kept_ = false;
    std::optional<ChildProcess> watcher_;  // its end of the pipe closing, with no word sent, tells it to remove
};
