#pragma once
// Helpers shared by the tests: temporary folders, raw SQLite access that
// bypasses the engine layer, byte files, raised errors and recording fakes.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "os/error.h"
#include "desktop/messagebox.h"
#include "engine/engine.h"
#include "os/files.h"

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // Names of the entries in the folder, sorted.
    std::vector<std::string> Entries() const;

private:
    std::string path_;
};

// A UTF-8 path for std::filesystem: on Windows a plain string would be read
// in the system's code page, which may not hold a Korean name.
std::filesystem::path PathOf(const std::string& utf8);

Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);
// Deterministic bytes with plenty of zeros among them.
Bytes PatternBytes(std::size_t n, unsigned seed = 1);

// Runs SQL on a file with SQLite directly, as another program would.
void RawSql(const std::string& dbPath, const std::string& sql);
// Rows of (name, pic) read directly, in rowid order; a Null name reads as "<NULL>".
std::vector<std::pair<std::string, Bytes>> RawRows(const std::string& dbPath);
// A database made the way the sqlite3 shell makes one.
void MakePictureDb(const std::string& dbPath);
void RawInsert(const std::string& dbPath, const std::string* name, const Bytes& pic);

// The Error that `body` raises; the test fails when it raises none.
template <typename Body>
Error ErrorOf(Body&& body) {
    try {
        body();
    } catch (const Error& e) {
        return e;
    }
    ADD_FAILURE() << "no Error raised";
    return Error(0, "");
}

// Runs `body` in a child process, as the unprivileged user "nobody" when the
// tests run as root, and returns its exit status. On Windows `body` runs in
// this process (its result, 98 when it throws): there the read-only
// attribute binds every user.
int RunAsUnprivileged(const std::function<int()>& body);

struct RecordingMessageBox : MessageBox {
    std::vector<std::pair<std::string, int>> shown;
    void MsgBox(const std::string& prompt, int style) override { shown.emplace_back(prompt, style); }
};
