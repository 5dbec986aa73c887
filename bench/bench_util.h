#pragma once
// Small helpers the benchmarks share: clocks, medians, child processes with
// their peak memory, the process's own memory figures and a description of
// the machine. Benchmarks print plain text; nothing here is used by the
// program itself.
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "desktop/filedialog.h"
#include "desktop/messagebox.h"
#include "pictures/pictures.h"

namespace bench {

// Desktop seams for driving the window without a screen to click on.
struct RecordingBox : MessageBox {
    std::vector<std::string> shown;
    void MsgBox(const std::string& prompt, int) override { shown.push_back(prompt); }
};

struct CancelDialog : FileDialog {
    void SetFilter(const std::string&) override {}
    bool ShowOpen() override { return false; }
    std::string FileName() const override { return {}; }
};


inline double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// A "Key:   123 kB" figure of /proc/self/status, in KiB; -1 when absent.
inline long StatusKib(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(key);
    while (std::getline(in, line))
        if (line.compare(0, n, key) == 0 && line.size() > n && line[n] == ':') return std::atol(line.c_str() + n + 1);
    return -1;
}

// Starts VmHWM afresh from the current resident size (Linux 4.0 and later);
// where that is refused the peak simply counts from process start.
inline void ResetPeak() {
    int fd = ::open("/proc/self/clear_refs", O_WRONLY);
    if (fd < 0) return;
    [[maybe_unused]] ssize_t n = ::write(fd, "5", 1);
    ::close(fd);
}

struct ChildResult {
    int status = -1;         // exit status, or -1 when killed
    std::string out;         // everything the child wrote to stdout and stderr
    long maxRssKib = 0;      // the child's peak resident size
    double wallSeconds = 0;  // fork to exit
};

// Runs `argv` with `input` on its standard input and waits for it.
inline ChildResult Run(const std::vector<std::string>& argv, const std::string& input = "",
                       const std::vector<std::string>& env = {}) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("pipe failed");
    const double start = Now();
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::close(in[0]), ::close(in[1]), ::close(out[0]), ::close(out[1]);
        for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::perror(args[0]);
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    // Inputs are a few lines: they fit the pipe, so writing first cannot block.
    if (!input.empty()) {
        [[maybe_unused]] ssize_t written = ::write(in[1], input.data(), input.size());
    }
    ::close(in[1]);
    ChildResult r;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(out[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    r.wallSeconds = Now() - start;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.maxRssKib = usage.ru_maxrss;
    return r;
}

// One side of a comparison: each run's wall time and the largest peak memory.
struct Side {
    std::vector<double> seconds;
    long peakKib = 0;
    void Add(const ChildResult& r) {
        seconds.push_back(r.wallSeconds);
        peakKib = std::max(peakKib, r.maxRssKib);
    }
};

// A child that failed stops the benchmark with what it printed.
inline ChildResult Checked(ChildResult r, const char* what) {
    if (r.status != 0) throw std::runtime_error(std::string(what) + " failed: " + r.out);
    return r;
}

// A file of `size` bytes: `head` followed by random bytes drawn from `seed`.
inline void RandomFile(const std::string& path, std::size_t size, unsigned seed, const std::string& head = {}) {
    std::mt19937_64 rng(seed);
    std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot write " + path);
    std::fwrite(head.data(), 1, std::min(head.size(), size), f);
    for (std::size_t done = std::min(head.size(), size); done < size;) {
        for (auto& w : block) w = rng();
        std::size_t n = std::min(size - done, block.size() * 8);
        std::fwrite(block.data(), 1, n, f);
        done += n;
    }
    if (std::fclose(f) != 0) throw std::runtime_error("cannot write " + path);
}

inline bool SameBytes(const std::string& a, const std::string& b) {
    namespace fs = std::filesystem;
    if (!fs::exists(b) || fs::file_size(a) != fs::file_size(b)) return false;
    std::FILE* fa = std::fopen(a.c_str(), "rb");
    std::FILE* fb = std::fopen(b.c_str(), "rb");
    std::vector<char> ba(1 << 20), bb(1 << 20);
    bool same = fa && fb;
    while (same) {
        std::size_t na = std::fread(ba.data(), 1, ba.size(), fa);
        std::size_t nb = std::fread(bb.data(), 1, bb.size(), fb);
        if (na != nb || std::memcmp(ba.data(), bb.data(), na) != 0) same = false;
        if (na == 0) break;
    }
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

// The value after "key=" in a child's "key=value ..." report.
inline double Field(const std::string& text, const std::string& key) {
    std::size_t at = text.find(key + "=");
    if (at == std::string::npos) throw std::runtime_error("no " + key + " in: " + text);
    return std::atof(text.c_str() + at + key.size() + 1);
}

// One line on the machine: cores, processor, memory, and the file system
// that `folder` lives on.
inline std::string Machine(const std::string& folder) {
    std::string cpu = "?", mem = "?", fsType = "?", device = "?";
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line))
        if (line.rfind("model name", 0) == 0) {
            cpu = line.substr(line.find(':') + 2);
            break;
        }
    long memKib = 0;
    std::ifstream meminfo("/proc/meminfo");
    while (std::getline(meminfo, line))
        if (line.rfind("MemTotal:", 0) == 0) memKib = std::atol(line.c_str() + 9);
    char memText[32];
    std::snprintf(memText, sizeof memText, "%.0f GiB", memKib / 1048576.0);
    mem = memText;
    // The longest mount point that is a prefix of the folder.
    std::ifstream mounts("/proc/mounts");
    std::size_t best = 0;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string dev, point, type;
        fields >> dev >> point >> type;
        if (folder.rfind(point, 0) == 0 && point.size() >= best) {
            best = point.size();
            device = dev;
            fsType = type;
        }
    }
    struct statvfs vfs {};
    double diskGib = ::statvfs(folder.c_str(), &vfs) == 0 ? 1.0 * vfs.f_blocks * vfs.f_frsize / (1 << 30) : 0;
    char text[512];
    std::snprintf(text, sizeof text, "%ld cores, %s, %s memory, %s %s (%.0f GiB)", ::sysconf(_SC_NPROCESSORS_ONLN),
                  cpu.c_str(), mem.c_str(), fsType.c_str(), device.c_str(), diskGib);
    return text;
}

// The executable of this process, for running itself as a child.
inline std::string SelfPath() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n < 0) throw std::runtime_error("readlink /proc/self/exe failed");
    return std::string(buf, static_cast<std::size_t>(n));
}

// A benchmark's main: runs `body`, turning an exception into a message and exit status 1.
template <typename Body>
int Main(const char* name, Body&& body) {
    try {
        return body();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
        return 1;
    }
}

inline std::string Format(const char* fmt, double a) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, a);
    return buf;
}

// Start-up timings: the parent's clock goes to a child of this benchmark in
// `startEnv`, and the child measures from it with SinceStart.
inline double SinceStart(const char* startEnv) {
    const char* start = std::getenv(startEnv);
    return start ? Now() - std::atof(start) : -1;
}

// Runs this benchmark again with `args` on the offscreen platform, the
// clock started just before; throws when the child fails.
inline ChildResult RunTimedChild(const std::vector<std::string>& args, const char* startEnv) {
    std::vector<std::string> argv = {SelfPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    auto r = Run(argv, "", {"QT_QPA_PLATFORM=offscreen", std::string(startEnv) + "=" + Format("%.9f", Now())});
    if (r.status != 0) throw std::runtime_error("child " + args[0] + " failed (" + std::to_string(r.status) + "): " + r.out);
    return r;
}

}  // namespace bench
