// export: writes stored values back to files byte for byte, or as PNGs for
// documents, never over an existing file.
#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "os/files.h"
#include "os/flush_together.h"
#include "os/os_error.h"
#include "os/paths.h"
#include "os/pending_file.h"
#include "os/process.h"
#include "os/retry.h"
#include "os/unique_fd.h"
#include "store/names.h"
#include "store/save.h"
#include "store/transfer.h"
#include "text/korean.h"
#include "tools/cli/command.h"
#include "keeper/stored_picture.h"
#include "tools/commands.h"
#include "keeper/document_png.h"

namespace {

// A file being exported: written without its name, flushed, then given
// the first free name of its candidates, so a file under a stamp's name is
// always whole, and nothing there is ever overwritten.
class ExportFile {
public:
    explicit ExportFile(const std::string& folder) : file_(folder), folder_(folder) {}

    // The disk starts on what each call wrote at once, so that a flush waits
    // only for the last of it.
    void Write(const std::uint8_t* data, std::size_t size) {
        const auto n = TransferAll(size, [&](std::size_t done) { return WriteSome(file_.Fd(), data + done, size - done); });
        if (n < 0) RaiseErrno(errno, "폴더 '" + folder_ + "'에 파일 쓰기 실패");
        // Only a hint: its failure is ignored, the flush reports any.
        StartWriteBack(file_.Fd(), written_, static_cast<std::int64_t>(size));
        written_ += static_cast<std::int64_t>(size);
    }

    int Fd() const { return file_.Fd(); }
    // Gives the file the name `path`; false, changing nothing, when it is taken.
    bool Publish(const std::string& path) { return file_.Publish(path); }

private:
    PendingFile file_;
    std::string folder_;
    std::int64_t written_ = 0;
};

// Files written whole but not yet on the disk, flushed together: export
// --all writes a batch of files, flushes them side by side, so the disk's
// waits overlap instead of adding up, and only then names them and counts
// them as exported. A program stopped before that leaves none of them.
class FlushBatch {
public:
    // Open files are held until the flush: the batch stays well under any
    // system's limit of open files.
    static constexpr std::size_t kFiles = 128;

    explicit FlushBatch(std::string folder) : folder_(std::move(folder)) {}

    // `base` and `extension` make the file's names: base.ext, base-2.ext, …
    void Add(std::unique_ptr<ExportFile> file, std::string base, std::string extension) {
        files_.push_back({std::move(file), std::move(base), std::move(extension)});
    }
    bool Full() const { return files_.size() >= kFiles; }

    // Flushes, names and returns how many; raises an Error on a failure, and
    // the files not yet named are then gone.
    std::size_t Flush() {
        std::vector<int> fds;
        for (const auto& f : files_) fds.push_back(f.file->Fd());
        if (!FlushTogether(fds)) RaiseErrno(errno, "폴더 '" + folder_ + "'에 쓴 파일을 디스크에 기록하지 못했습니다");
        // Collisions, with each other or with files already there, are numbered.
        for (auto& f : files_) {
            long n = 1;
            while (!f.file->Publish(f.base + (n > 1 ? "-" + std::to_string(n) : std::string()) + f.extension)) ++n;
        }
        SyncFolder(folder_);
        const std::size_t n = files_.size();
        files_.clear();
        return n;
    }

private:
    struct Pending {
        std::unique_ptr<ExportFile> file;
        std::string base, extension;
    };
    std::string folder_;
    std::vector<Pending> files_;
};

// Writes the field's bytes, chunk by chunk, into a new file in `folder`, and
// returns it, written but neither flushed nor named. Any failure raises an
// Error, and the file is gone.
std::unique_ptr<ExportFile> WriteNewFile(const LongBinaryField& pic, const std::string& folder) {
    auto made = std::make_unique<ExportFile>(folder);
    ExportFile& file = *made;
    const std::int32_t size = pic.FieldSize();
    // Chunks go out a few MiB at a time.
    constexpr std::size_t kBatch = 4 << 20;
    Bytes batch;
    batch.reserve(kBatch + static_cast<std::size_t>(kChunkSize));
    for (std::int32_t offset = 0; offset < size; offset += kChunkSize) {
        const Bytes chunk = pic.GetChunk(offset, std::min(kChunkSize, size - offset));
        batch.insert(batch.end(), chunk.begin(), chunk.end());
        if (batch.size() < kBatch && size - offset > kChunkSize) continue;
        file.Write(batch.data(), batch.size());
        batch.clear();
    }
    return made;
}

// One row's file: the stored value as it is or, with PNG options, the PNG
// made of its picture.
class RowContent {
public:
    RowContent(const Field& pic, const std::optional<PngOptions>& png) : pic_(pic) {
        if (!png) return;
        try {
            QImage picture;
            const StoredPicture stored = InspectPicture(pic_, &picture);
            outOfMemory_ = stored.outOfMemory;
            if (stored.readable) {
                DocumentPng made = EncodePng(picture, *png);
                png_ = std::move(made.png);
                dpi_ = made.dpi;
            }
            else problem_ = stored.problem;
        } catch (const std::bad_alloc&) {
            outOfMemory_ = true;
            problem_ = "메모리가 부족해 PNG를 만들지 못했습니다 (값이 손상된 것은 아닙니다)";
        } catch (const Error& e) {
            // A picture with no ink or no paper is named like any row that makes no PNG.
            if (e.Number() != err::OutOfMemory && e.Number() != err::InvalidPicture) throw;
            outOfMemory_ = e.Number() == err::OutOfMemory;
            problem_ = e.Description();
        }
    }

    // Why the value makes no PNG; empty when it does or none is wanted.
    const std::string& Problem() const { return problem_; }
    // The PNG could not be made for want of memory: the value itself may be sound.
    bool OutOfMemory() const { return outOfMemory_; }

    // A warning for a printed size that leaves the picture under kPrintDpi,
    // where it prints blocky; empty otherwise.
    std::string LowResolution(const std::optional<PngOptions>& png) const {
        if (!png_ || !png->millimetres || dpi_ <= 0 || dpi_ >= kPrintDpi) return {};
        const long needed = std::lround(std::ceil(kPrintDpi * *png->millimetres / 25.4));
        char mm[32];
        std::snprintf(mm, sizeof mm, "%g", *png->millimetres);
        return std::string("경고: ") + mm + " mm로 놓으면 " + std::to_string(std::lround(std::floor(dpi_))) +
               " dpi밖에 되지 않아 인쇄하면 거칠게 보입니다 (" + std::to_string(static_cast<long>(kPrintDpi)) +
               " dpi 이상이 좋습니다: " + (png->crop ? "도장 부분의 " : "") + "긴 변이 " + std::to_string(needed) +
               " 픽셀 이상인 그림을 저장해 쓰십시오)";
    }

    // "PNG, 1234 바이트", or the stored value's size.
    std::string Summary() const {
        return png_ ? "PNG, " + std::to_string(png_->size()) + " 바이트" : std::to_string(pic_.FieldSize()) + " 바이트";
    }

    // A new file in `folder` with the row's content, neither flushed nor named.
    std::unique_ptr<ExportFile> WriteIn(const std::string& folder) const {
        if (!png_) return WriteNewFile(pic_, folder);
        auto file = std::make_unique<ExportFile>(folder);
        file->Write(reinterpret_cast<const std::uint8_t*>(png_->constData()), static_cast<std::size_t>(png_->size()));
        return file;
    }

private:
    Field pic_;
    std::optional<QByteArray> png_;
    std::string problem_;
    bool outOfMemory_ = false;
    double dpi_ = 0;
};

// A file name for a stored name: separators and control characters become
// "_", a leading dot gets a "_" before it (no hidden files, no "." or ".."),
// an empty or blank name (IsBlankName, the window's own test) becomes
// "이름 없음", and very long names are cut.
std::string SafeBaseName(const Variant& name) {
    const QString text = QString::fromStdString(TextOf(name));
    QString safe;
    for (QChar c : text) {
        const bool unsafe = c == u'/' || c == u'\\' || c.category() == QChar::Other_Control;
        safe += unsafe ? QChar(u'_') : c;
    }
    if (IsBlankName(TextOf(name))) safe = QStringLiteral("이름 없음");
    if (safe.startsWith(u'.')) safe.prepend(u'_');
    while (safe.toUtf8().size() > 200) {
        safe.chop(1);
        if (!safe.isEmpty() && safe.back().isHighSurrogate()) safe.chop(1);
    }
    return safe.toStdString();
}

int ExportOne(Database& db, const std::string& wanted, const std::string& file, const std::optional<PngOptions>& png) {
    // The statement start-up reads "도장" with: the rows the save of this name replaces.
    Recordset rs = db.OpenRecordset("SELECT * FROM pic_list " + NameCondition(wanted), dbOpenSnapshot);
    const long matches = rs.RecordCount();
    if (matches == 0) return ReportFailure("이름이 " + ShownName(wanted) + "인 그림이 없습니다.");
    // The first row of the name is the one the window shows.
    const RowContent content(rs.Fields("pic"), png);
    if (!content.Problem().empty())
        return ReportFailure(ShownName(wanted) + ": " + content.Problem() + ". PNG로 내보낼 수 없습니다.");
    // Refused before anything is written: a name something has, a missing folder.
    if (PathTaken(file)) return ReportError(NameTakenError(file));
    if (const PathFacts folder = StatPath(FolderOf(file)); !folder.Exists() || !folder.folder)
        RaiseErrnoAt(ENOENT, "파일 " + WithParticle("'" + file + "'", Particle::EulReul) + " 만들 수 없습니다", file);
    {
        const auto written = content.WriteIn(FolderOf(file));
        if (!FlushToDisk(written->Fd())) RaiseErrno(errno, "파일 '" + file + "' 쓰기 실패");
        if (!written->Publish(file)) return ReportError(NameTakenError(file));
        SyncFolder(FolderOf(file));
    }
    const std::string summary = content.Summary();
    rs.Close();
    Say(ShownName(wanted) + " → '" + file + "' (" + summary + ")");
    if (const std::string warning = content.LowResolution(png); !warning.empty())
        ReportFailure(ShownName(wanted) + ": " + warning + ".");
    if (matches > 1)
        ReportFailure("이 이름의 행이 " + std::to_string(matches) + "개 있어, 창에서처럼 첫 번째 행을 내보냈습니다.");
    return exitcode::Ok;
}

// A row that is no picture makes no PNG: it is named, the rest are written,
// and the command ends with exitcode::Failure.
int ExportAll(Database& db, const std::string& dir, const std::optional<PngOptions>& png) {
    if (const PathFacts facts = StatPath(dir); facts.Exists() && !facts.folder)
        return ReportFailure(WithParticle("'" + dir + "'", Particle::EunNeun) + " 폴더가 아닙니다.");
    if (!MakeFolders(dir)) return ReportFailure("폴더 " + WithParticle("'" + dir + "'", Particle::EulReul) + " 만들 수 없습니다: " + SystemWords(errno));

    const std::string extension = png ? ".png" : ".bmp";
    const bool terminal = IsTerminal(stdout);
    Recordset rs = db.OpenRecordset("pic_list", dbOpenTable, dbReadOnly);
    const long total = rs.RecordCount();
    long row = 0, done = 0, skipped = 0, noMemory = 0;
    bool progressShown = false;  // the progress line waits for its end of line
    FlushBatch batch(dir);
    // The count shown is of files on the disk: a batch is counted once flushed.
    auto flush = [&] {
        done += static_cast<long>(batch.Flush());
        if (terminal) {
            ShowProgress("내보내는 중 " + std::to_string(done) + "/" + std::to_string(total));
            progressShown = true;
        }
    };
    for (; !rs.EOF_(); rs.MoveNext()) {
        ++row;
        const Variant name = rs.Fields("pic_name").Value();
        const RowContent content(rs.Fields("pic"), png);
        if (!content.Problem().empty()) {
            if (std::exchange(progressShown, false)) EndProgress();
            ReportFailure(std::to_string(row) + "번째 행 " + ShownName(name) + ": " + content.Problem() +
                          ". 건너뜁니다.");
            ++(content.OutOfMemory() ? noMemory : skipped);
            continue;
        }
        batch.Add(content.WriteIn(dir), JoinPath(dir, SafeBaseName(name)), extension);
        if (const std::string warning = content.LowResolution(png); !warning.empty()) {
            if (std::exchange(progressShown, false)) EndProgress();
            ReportFailure(std::to_string(row) + "번째 행 " + ShownName(name) + ": " + warning + ".");
        }
        if (batch.Full()) flush();
    }
    flush();
    rs.Close();
    if (progressShown) EndProgress();
    Say("그림 " + std::to_string(done) + "개를 '" + dir + "'에 내보냈습니다.");
    if (noMemory > 0)
        ReportFailure("메모리가 부족해 " + std::to_string(noMemory) +
                      "개는 PNG로 내보내지 못했습니다. 메모리를 더 쓸 수 있을 때 다시 하십시오.");
    if (skipped > 0) return ReportFailure("그림이 아닌 값 " + std::to_string(skipped) + "개는 내보내지 않았습니다.");
    if (noMemory > 0) return exitcode::Failure;
    return exitcode::Ok;
}

}  // namespace

int RunExport(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "저장된 값을 바이트 그대로, 또는 문서에 붙일 PNG로 파일에 내보냅니다. 있는 파일은\n"
        "덮어쓰지 않고, 저장된 행은 바꾸지 않습니다.\n"
        "  export PATH NAME FILE   이름이 NAME인 첫 번째 행을 새 파일 FILE로\n"
        "  export PATH --all DIR   모든 행을 폴더 DIR(없으면 만듭니다) 안의 '<이름>.bmp' 파일로\n"
        "                          (PNG이면 '<이름>.png'). 파일 이름에서 경로 구분자와 제어 문자는\n"
        "                          '_'가 되고, 겹치는 이름에는 '-2', '-3'...이 붙습니다.\n"
        "PNG 옵션은 저장된 값이 그림일 때만 쓸 수 있습니다. --all에서 그림이 아닌 행은 알리고\n"
        "건너뛴 뒤 나머지를 내보내며, 상태 1로 끝납니다.");
    parser.addPositionalArgument("PATH", kDatabaseArgument);
    // One entry for both forms, so the usage line shows only forms the command takes.
    parser.addPositionalArgument("NAME FILE", "내보낼 그림의 이름과 새로 만들 파일 (--all이면 폴더 DIR 하나)",
                                 "NAME FILE | --all DIR");
    const QCommandLineOption all("all", "모든 행을 폴더 안에 내보냅니다.");
    const QCommandLineOption pngOption("png", "저장된 바이트 대신 그림을 PNG로 씁니다.");
    const QCommandLineOption transparent(
        "transparent", "종이는 투명하게, 인주는 불투명하게, 가장자리는 부드럽게 한 PNG로 씁니다 (--png 포함).");
    const QCommandLineOption crop(
        "crop", "잉크 둘레의 종이를 잘라 고른 여백만 남기고, --size가 종이가 아니라 도장 자체를 재게 합니다 (--png 포함).");
    const QCommandLineOption size(
        "size",
        "문서에 놓였을 때 긴 변(--crop이면 도장의 긴 변)이 MM 밀리미터가 되도록 PNG의 해상도를 정합니다 (5–100, 픽셀은 "
        "그대로; --png 포함). 300 dpi에 못 미치면 표준 오류에 경고합니다.",
        "MM");
    parser.addOptions({all, pngOption, transparent, crop, size});
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {2, 3}, status)) return status;
    const QStringList args = parser.positionalArguments();
    if (args.size() != (parser.isSet(all) ? 2 : 3)) {
        return ReportUsage(parser, arguments,
                           parser.isSet(all) ? "인수가 너무 많습니다: --all에는 PATH와 DIR만 줍니다."
                                             : "인수가 모자랍니다. 빠진 인수: FILE. 모든 도장을 폴더에 내보내려면 "
                                               "--all DIR을 줍니다.");
    }
    // Every PNG option means a PNG: the stored bytes are a bitmap, whose
    // size could not be set without changing them.
    std::optional<PngOptions> png;
    if (parser.isSet(pngOption) || parser.isSet(transparent) || parser.isSet(crop) || parser.isSet(size)) {
        png.emplace().transparent = parser.isSet(transparent);
        png->crop = parser.isSet(crop);
        if (parser.isSet(size)) {
            bool ok = false;
            const double millimetres = parser.value(size).toDouble(&ok);
            if (!ok || !(millimetres >= kMinMillimetres && millimetres <= kMaxMillimetres))
                return ReportFailure("--size에는 " + std::to_string(static_cast<int>(kMinMillimetres)) + "에서 " +
                                     std::to_string(static_cast<int>(kMaxMillimetres)) +
                                     " 사이의 밀리미터 수를 주십시오 (받은 값: '" + parser.value(size).toStdString() + "').");
            png->millimetres = millimetres;
        }
    }
    std::string name, problem;
    if (!parser.isSet(all) && !NameArgument(args[1], name, problem)) return ReportFailure(problem);
    try {
        OpenedDatabase opened(LocalPath(args[0]), true);
        if (parser.isSet(all)) return ExportAll(opened.db(), LocalPath(args[1]), png);
        return ExportOne(opened.db(), name, LocalPath(args[2]), png);
    } catch (const Error& e) {
        return ReportError(e);
    }
}
