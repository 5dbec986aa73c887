// The floor for export --all: writes `count` files of a 102-byte bitmap into
// a folder as plainly as a program can while keeping each one durable, the
// way export does: each written without a name (O_TMPFILE) and its write-back
// started, a batch of 128
// flushed side by side by 8 threads, then named, and the folder flushed.
// No database, no names to make safe, no checks.
//   bench_parallel_writer DIR COUNT
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kBatch = 128;
constexpr int kThreads = 8;

void Flush(const std::vector<int>& fds) {
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < fds.size();)
            if (::fsync(fds[i]) != 0) std::perror("fsync"), std::exit(1);
    };
    std::vector<std::thread> threads;
    for (int t = 1; t < kThreads; ++t) threads.emplace_back(work);
    work();
    for (auto& t : threads) t.join();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DIR COUNT\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const long count = std::atol(argv[2]);
    unsigned char bitmap[102] = {'B', 'M', 102};
    const int folder = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (folder < 0) return std::perror("folder"), 1;
    std::vector<int> batch;
    for (long i = 1; i <= count; ++i) {
        const int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, bitmap, sizeof bitmap) != sizeof bitmap) return std::perror(dir.c_str()), 1;
        ::sync_file_range(fd, 0, sizeof bitmap, SYNC_FILE_RANGE_WRITE);  // the disk starts at once, as in export
        batch.push_back(fd);
        if (batch.size() < kBatch && i < count) continue;
        Flush(batch);
        const long first = i - static_cast<long>(batch.size()) + 1;
        for (std::size_t k = 0; k < batch.size(); ++k) {
            const std::string self = "/proc/self/fd/" + std::to_string(batch[k]);
            const std::string path = dir + "/stamp " + std::to_string(first + static_cast<long>(k)) + ".bmp";
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) return std::perror(path.c_str()), 1;
            ::close(batch[k]);
        }
        batch.clear();
        ::fsync(folder);
    }
    ::close(folder);
    return 0;
}
