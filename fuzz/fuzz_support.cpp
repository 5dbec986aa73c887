#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

namespace {
struct Scratch {
    std::string path;
    Scratch() {
        fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        fs::path dir = base / ("kaldoria-fuzz-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = dir.string();
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};
}  // namespace

const std::string& ScratchFolder() {
    static const Scratch scratch;
    return scratch.path;
}

void ClearScratch() {
    for (const auto& e : fs::directory_iterator(ScratchFolder())) fs::remove_all(e.path());
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) Fail("cannot write " + path);
    if (size && std::fwrite(data, 1, size, f) != size) Fail("short write " + path);
    std::fclose(f);
}

bool FileEquals(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::vector<char> got((std::istreambuf_iterator<char>(in)), {});
    return got.size() == size && (size == 0 || std::memcmp(got.data(), data, size) == 0);
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "FUZZ INVARIANT BROKEN: %s\n", what.c_str());
    std::abort();
}
