#include "os/flush_together.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

#include "os/paths.h"

namespace {

// Enough flushes in flight for the file system to commit them together; more
// threads only wait on the same commit.
constexpr std::size_t kFlushers = 8;

}  // namespace

bool FlushTogether(std::span<const int> fds) {
    std::atomic<std::size_t> next{0};
    std::atomic<int> firstError{0};
    auto flush = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < fds.size();) {
            if (FlushToDisk(fds[i])) continue;
            int none = 0;
            firstError.compare_exchange_strong(none, errno ? errno : EIO);
        }
    };
    std::vector<std::jthread> flushers;
    const std::size_t helpers = std::min(kFlushers, fds.size()) - (fds.empty() ? 0 : 1);
    for (std::size_t t = 0; t < helpers; ++t) flushers.emplace_back(flush);
    flush();  // this thread is one of them
    flushers.clear();
    if (const int e = firstError.load()) {
        errno = e;
        return false;
    }
    return true;
}
