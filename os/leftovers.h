#pragma once
// Files a command makes under hidden names while it builds something (a
// backup, a converted database) and removes again if it does not finish.
// A destructor cannot run when the process is killed (kill -9, an
// out-of-memory kill), so a small watcher process removes them then.
#include <string>
#include <sys/types.h>
#include <vector>

#include "os/unique_fd.h"

class LeftoverFiles {
public:
    // Starts the watcher for `paths` (which need not exist yet). Raises an
    // Error when it cannot be started.
    explicit LeftoverFiles(std::vector<std::string> paths);
    // Removes the files unless Keep() was called, and the watcher with them.
    ~LeftoverFiles();
    LeftoverFiles(const LeftoverFiles&) = delete;
    LeftoverFiles& operator=(const LeftoverFiles&) = delete;

    // The files were handed over (renamed to their final names): nothing is
    // removed, now or when the process ends.
    void Keep();

private:
    void Stop(char verdict);
    std::vector<std::string> paths_;
    UniqueFd alive_;  // its end closing, with no word sent, tells the watcher to remove
    pid_t watcher_ = -1;
};
