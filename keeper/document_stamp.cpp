#include "keeper/document_stamp.h"

#include <algorithm>
#include <cerrno>

#include "keeper/book.h"
#include "keeper/document_png.h"
#include "keeper/stored_picture.h"
#include "os/error.h"
#include "pdf/digest.h"
#include "os/files.h"
#include "os/os_error.h"
#include "os/paths.h"
#include "os/pending_file.h"
#include "os/process.h"
#include "os/retry.h"
#include "store/save.h"
#include "text/korean.h"

namespace {

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::string MarkText(const QString& mark) { return Quoted(mark.toStdString()); }

// The whole of IN, read once: what is searched is what is stamped.
QByteArray ReadWhole(const std::string& path) {
    const UniqueFd fd = OpenForReading(path);
    if (!fd) RaiseErrnoAt(errno, "문서 " + WithParticle(Quoted(path), Particle::EulReul) + " 읽을 수 없습니다", path);
    const PathFacts facts = StatOpen(fd.get());
    if (facts.folder) throw Error(err::InvalidFileFormat, WithParticle(Quoted(path), Particle::EunNeun) + " 폴더입니다. PDF 파일을 주십시오.");
    QByteArray bytes;
    char chunk[1 << 16];
    for (;;) {
        const long long n = RetryInterrupted([&] { return ReadSome(fd.get(), chunk, sizeof chunk); });
        if (n < 0) RaiseErrno(errno, "문서 " + Quoted(path) + " 읽기 실패");
        if (n == 0) break;
        bytes.append(chunk, static_cast<qsizetype>(n));
    }
    return bytes;
}

void WriteAll(int fd, const QByteArray& bytes, const std::string& path) {
    const auto size = static_cast<std::size_t>(bytes.size());
    const auto n = TransferAll(size, [&](std::size_t done) { return WriteSome(fd, bytes.constData() + done, size - done); });
    if (n < 0) RaiseErrno(errno, "파일 " + Quoted(path) + " 쓰기 실패");
    if (!FlushToDisk(fd)) RaiseErrno(errno, "파일 " + Quoted(path) + " 쓰기 실패");
}

// OUT must be a new file in a folder that exists, and not IN.
void CheckOutput(const std::string& input, const std::string& output) {
    const PathFacts in = StatPath(input), out = StatPath(output);
    if (in.Exists() && out.Exists() && in.device == out.device && in.file == out.file)
        throw Error(err::PathFileAccess, "찍은 문서는 새 파일로 씁니다: 원본 " + WithParticle(Quoted(input), Particle::EulReul) +
                                             " 덮어쓰지 않습니다. 다른 이름을 주십시오.");
    if (out.Exists() && out.folder)
        throw Error(err::PathFileAccess, WithParticle(Quoted(output), Particle::EunNeun) + " 폴더입니다. 찍은 문서를 쓸 새 파일의 "
                                         "이름을 주십시오 (예: " + JoinPath(output, "찍은 문서.pdf") + ").");
    RefuseTakenName(output);
    if (const PathFacts folder = StatPath(FolderOf(output)); !folder.Exists() || !folder.folder)
        RaiseErrnoAt(ENOENT, "파일 " + WithParticle(Quoted(output), Particle::EulReul) + " 만들 수 없습니다", output);
}

}  // namespace

std::string Millimetres(double mm) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", mm);
    return text;
}

std::string StampedBy(const LedgerEntry& e) {
    if (e.role.empty()) return e.user;
    const std::string who = e.role + (e.address.empty() ? std::string() : "@" + e.address);
    return e.user.empty() ? who : who + " (" + e.user + ")";
}

Placement PlaceSeal(const PdfDocument& doc, const SealPlace& place, const std::string& shown) {
    const int pages = doc.PageCount();
    if (place.page && (*place.page < 1 || *place.page > pages))
        throw Error(err::InvalidArgument, Quoted(shown) + "에는 " + std::to_string(*place.page) + "쪽이 없습니다 (1쪽부터 " +
                                              std::to_string(pages) + "쪽까지 있습니다).");
    if (place.nth < 1) throw Error(err::InvalidArgument, "몇 번째 표시인지는 1부터 셉니다.");
    Placement placed;
    if (place.atMm) {
        placed.page = place.page ? *place.page - 1 : pages - 1;
        const QSizeF size = doc.PageSizeMm(placed.page);
        const QPointF at = *place.atMm;
        if (at.x() < 0 || at.y() < 0 || at.x() > size.width() || at.y() > size.height())
            throw Error(err::InvalidArgument, "자리 " + Millimetres(at.x()) + "," + Millimetres(at.y()) + " mm는 " +
                                                  std::to_string(placed.page + 1) + "쪽(" + Millimetres(size.width()) + " × " +
                                                  Millimetres(size.height()) + " mm) 밖입니다.");
        placed.centreMm = at;
        return placed;
    }
    if (place.mark.trimmed().isEmpty()) throw Error(err::InvalidArgument, "찾을 표시가 비어 있습니다.");
    const auto onPage = [&](int index) -> bool {
        const auto marks = doc.Find(index, place.mark);
        if (static_cast<int>(marks.size()) < place.nth) {
            if (!place.page) return false;
            throw Error(err::ItemNotFound,
                        Quoted(shown) + "의 " + std::to_string(index + 1) + "쪽에서 " +
                            WithParticle(MarkText(place.mark) + (place.nth > 1 ? "의 " + std::to_string(place.nth) + "번째 것" : std::string()),
                                         Particle::EulReul) +
                            " 찾을 수 없습니다 (그 쪽에 " + std::to_string(marks.size()) + "개 있습니다). 자리를 --at X,Y(mm)로 "
                            "주거나 다른 쪽이나 글자를 주십시오.");
        }
        placed.page = index;
        placed.centreMm = marks[static_cast<std::size_t>(place.nth - 1)].center();
        placed.onMark = true;
        return true;
    };
    if (place.page) {
        onPage(*place.page - 1);
        return placed;
    }
    // The mark an office signs is at the end: the last page that has it.
    for (int index = pages - 1; index >= 0; --index)
        if (onPage(index)) return placed;
    throw Error(err::ItemNotFound, Quoted(shown) + "의 어느 쪽에서도 " + WithParticle(MarkText(place.mark), Particle::EulReul) +
                                       (place.nth > 1 ? " " + std::to_string(place.nth) + "개" : std::string()) +
                                       " 찾을 수 없습니다. 글자로 된 표시가 없는 문서(스캔한 문서 등)라면 자리를 --at X,Y(mm)로 "
                                       "주십시오.");
}

DocumentSeal PrepareSeal(const QImage& picture, double sizeMm) {
    if (!(sizeMm >= kMinMillimetres && sizeMm <= kMaxMillimetres))
        throw Error(err::InvalidArgument, "도장의 크기는 " + Millimetres(kMinMillimetres) + " mm에서 " + Millimetres(kMaxMillimetres) +
                                              " mm 사이로 주십시오.");
    PngOptions options;
    options.transparent = options.crop = true;
    options.millimetres = sizeMm;
    const DocumentPicture prepared = PrepareDocumentPicture(picture, options);
    const double mmPerPixel = 25.4 / prepared.dpi;
    return {prepared.image, QSizeF(prepared.image.width() * mmPerPixel, prepared.image.height() * mmPerPixel)};
}

BookSeal ReadSeal(Database& db, const std::string& name, double sizeMm) {
    Recordset rs = db.OpenRecordset("SELECT pic FROM pic_list " + NameCondition(name), dbOpenSnapshot);
    if (rs.EOF_()) throw Error(err::ItemNotFound, "이름이 " + ShownName(name) + "인 도장이 없습니다.");
    const Field pic = rs.Fields("pic");
    QImage picture;
    const StoredPicture stored = InspectPicture(pic, &picture);
    if (!stored.readable)
        throw Error(stored.outOfMemory ? err::OutOfMemory : err::InvalidPicture,
                    ShownName(name) + ": " + stored.problem + ". 문서에 찍을 수 없습니다.");
    Sha256 hash;
    for (std::int32_t at = 0; at < stored.bytes;) {
        const Bytes chunk = pic.GetChunk(at, static_cast<std::int32_t>(std::min<qint64>(1 << 20, stored.bytes - at)));
        if (chunk.empty()) break;
        hash.Add(chunk.data(), chunk.size());
        at += static_cast<std::int32_t>(chunk.size());
    }
    rs.Close();
    try {
        return {PrepareSeal(picture, sizeMm), hash.Hex()};
    } catch (const Error& e) {
        if (e.Number() != err::InvalidPicture) throw;
        throw Error(e.Number(), ShownName(name) + ": " + e.Description() + ". 문서에 찍을 수 없습니다.");
    }
}

StampResult StampDocument(Database& db, const StampRequest& request) {
    CheckOutput(request.input, request.output);
    const BookSeal seal = ReadSeal(db, request.name, request.sizeMm);
    const PdfDocument doc(ReadWhole(request.input), request.input);
    StampResult result;
    result.placement = PlaceSeal(doc, request.place, request.input);
    result.sealMm = seal.seal.sizeMm;
    const QByteArray stamped = doc.WithSeal(result.placement.page, seal.seal.image, result.placement.centreMm, seal.seal.sizeMm);
    result.inputBytes = doc.Bytes().size();
    result.outputBytes = stamped.size();

    PendingFile file(FolderOf(request.output));
    WriteAll(file.Fd(), stamped, request.output);
    LedgerEntry entry;
    entry.user = LoginUserName();
    entry.name = request.name;
    entry.pictureSha256 = seal.sha256;
    entry.document = BaseNameOf(request.input);
    entry.page = result.placement.page + 1;
    entry.xMm = result.placement.centreMm.x();
    entry.yMm = result.placement.centreMm.y();
    entry.sizeMm = request.sizeMm;
    entry.outputSha256 = Sha256Hex(stamped);
    entry.purpose = request.purpose;
    // The row and the file come together: the file is named inside the
    // row's transaction, and taken away again if the commit fails.
    Transaction t(db);
    result.entry = AddLedgerEntry(db, entry);
    if (!file.Publish(request.output)) throw NameTakenError(request.output);
    try {
        SyncFolder(FolderOf(request.output));
        t.Commit();
    } catch (...) {
        RemoveQuietly(request.output);
        throw;
    }
    return result;
}
