#pragma once
// Putting many files on the disk at once. A flush waits for the disk, and
// files flushed one after another pay that wait each; flushed side by side,
// the file system commits them together and the waits overlap.
#include <span>

// Flushes the data of every file in `fds` to the disk, several at a time,
// and returns once all of them are there. False with errno of the first
// failure; the other files are still flushed.
bool FlushTogether(std::span<const int> fds);
