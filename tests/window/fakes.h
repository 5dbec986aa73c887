#pragma once
// Fakes for the window tests: a message box and an open-file dialog that
// answer as scripted, and file and picture services that fail on demand
// around the real ones.
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "desktop/filedialog.h"
#include "desktop/messagebox.h"
#include "pictures/pictures.h"
#include "os/error.h"
#include "os/files.h"
#include "support.h"

// Records every message; `onShow` runs while a message is up, the way a test
// looks at the window behind a modal box.
struct ScriptedMessageBox : RecordingMessageBox {
    std::function<void(const std::string&, int)> onShow;
    void MsgBox(const std::string& prompt, int style) override {
        RecordingMessageBox::MsgBox(prompt, style);
        if (onShow) onShow(prompt, style);
    }
    std::vector<std::string> Prompts() const {
        std::vector<std::string> p;
        for (const auto& [text, style] : shown) p.push_back(text);
        return p;
    }
};

// Each ShowOpen takes the next answer: a path chosen, or nullopt for Cancel.
// Like the real dialog, a cancel leaves the earlier file name in place.
struct ScriptedFileDialog : FileDialog {
    std::deque<std::optional<std::string>> answers;
    std::vector<std::string> filters;
    std::string filter;
    std::string fileName;
    int opened = 0;
    void SetFilter(const std::string& f) override {
        filter = f;
        filters.push_back(f);
    }
    bool ShowOpen() override {
        ++opened;
        if (answers.empty()) return false;
        auto answer = answers.front();
        answers.pop_front();
        if (!answer) return false;
        fileName = *answer;
        return true;
    }
    std::string FileName() const override { return fileName; }
};

// The real file services, with faults to order: a path that looks missing,
// a path that cannot be deleted, and reads that fail after some bytes (a
// disk gone bad under the transfer).
struct FaultyFileSystem : LocalFileSystem {
    std::string hidden;      // FileExists says no
    std::string undeletable; // Kill raises
    std::string failingRead; // reads fail once `readLimit` bytes were read
    std::int64_t readLimit = 0;
    std::vector<std::string> calls;

    bool FileExists(const std::string& path) override {
        calls.push_back("FileExists " + path);
        if (path == hidden) return false;
        return LocalFileSystem::FileExists(path);
    }
    void Kill(const std::string& path) override {
        calls.push_back("Kill " + path);
        if (path == undeletable) throw Error(err::PermissionDenied, "'" + path + "'를 지울 수 없습니다.");
        LocalFileSystem::Kill(path);
    }
    std::unique_ptr<BinaryFile> OpenBinary(const std::string& path) override {
        calls.push_back("OpenBinary " + path);
        auto file = LocalFileSystem::OpenBinary(path);
        if (path != failingRead) return file;
        return std::make_unique<FailingReads>(std::move(file), readLimit, path);
    }

private:
    struct FailingReads : BinaryFile {
        FailingReads(std::unique_ptr<BinaryFile> f, std::int64_t limit, std::string p)
            : inner(std::move(f)), left(limit), path(std::move(p)) {}
        std::int64_t Length() override { return inner->Length(); }
        void Read(std::span<std::uint8_t> into) override {
            if (static_cast<std::int64_t>(into.size()) > left)
                throw Error(err::DeviceIO, "'" + path + "'를 읽는 중 장치 오류가 났습니다.");
            left -= static_cast<std::int64_t>(into.size());
            inner->Read(into);
        }
        void Write(std::span<const std::uint8_t> bytes) override { inner->Write(bytes); }
        void Truncate(std::int64_t length) override { inner->Truncate(length); }
        void Close() override { inner->Close(); }
        std::unique_ptr<BinaryFile> inner;
        std::int64_t left;
        std::string path;
    };
};

// The real picture codec; `onSave` runs first and may throw, the way a full
// disk or an exhausted heap would.
struct FaultyPictureService : QtPictureService {
    std::function<void(const std::string&)> onSave;
    std::vector<std::string> loaded;
    QImage LoadPicture(const std::string& path) override {
        loaded.push_back(path);
        return QtPictureService::LoadPicture(path);
    }
    void WriteBitmap(const QImage& picture, BinaryFile& file, const std::string& name) override {
        if (onSave) onSave(name);
        QtPictureService::WriteBitmap(picture, file, name);
    }
};
