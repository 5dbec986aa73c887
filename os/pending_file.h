#pragma once
// A new file that appears under its name whole or not at all: written
// without a name, or under a fresh hidden one, and given its name only when
// Publish is called, never over anything. Dropped unpublished, it is gone.
// A killed program leaves nothing where the system has files without a name
// (Linux); elsewhere at most a hidden file, never a half-written one under
// the name.
#include <optional>
#include <string>

#include "os/leftovers.h"
#include "os/unique_fd.h"

class PendingFile {
public:
    // A new file in `folder`; raises an Error naming the folder when none can be made.
    explicit PendingFile(const std::string& folder);
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // For writing and flushing, until Publish.
    int Fd() const { return fd_.get(); }

    // Closes the file and gives it the name `path` (in its folder) unless
    // something already has that name: false then, and the file is still
    // pending, to be published under another name. Any other failure raises
    // an Error naming `path`.
    bool Publish(const std::string& path);

private:
    UniqueFd fd_;
    std::string named_;                 // the hidden name, where the file was made with one
    std::optional<LeftoverFiles> guard_;  // removes the hidden name unless published
};
