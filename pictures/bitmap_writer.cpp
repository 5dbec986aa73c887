// Saving pictures as bitmap files that are known to be whole.
#include <QImageWriter>
#include <optional>
#include <vector>

#include "os/byte_order.h"
#include "os/error.h"
#include "pictures/pictures.h"
#include "text/korean.h"

namespace {

// The encoder's output, gathered into pieces of 64 KiB (the encoder writes a
// few bytes at a time) and written into a BinaryFile. The file's Error is
// kept for the caller, since no exception may pass through Qt's code; the
// encoder only sees a failed write.
class FileSink : public QIODevice {
public:
    explicit FileSink(BinaryFile& file) : file_(file) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
    bool isSequential() const override { return true; }

    // Writes what is gathered; false when the file refused it.
    bool Flush() {
        if (failure) return false;
        try {
            if (!pending_.empty()) file_.Write(pending_);
        } catch (const Error& e) {
            failure = e;
        }
        pending_.clear();
        return !failure;
    }

    std::optional<Error> failure;
    qint64 written = 0;
    unsigned char head[6] = {};

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        if (failure) return -1;
        pending_.insert(pending_.end(), data, data + size);
        if (pending_.size() >= kPiece && !Flush()) return -1;
        for (qint64 i = 0; i < size && written + i < qint64(sizeof head); ++i) head[written + i] = data[i];
        written += size;
        return size;
    }

private:
    static constexpr std::size_t kPiece = 64 * 1024;
    BinaryFile& file_;
    std::vector<std::uint8_t> pending_;
};

}  // namespace

void QtPictureService::WriteBitmap(const QImage& picture, BinaryFile& file, const std::string& name) {
    FileSink sink(file);
    QImageWriter writer(&sink, "bmp");
    const bool encoded = writer.write(picture) && sink.Flush();
    if (sink.failure) throw *sink.failure;
    if (!encoded)
        throw Error(err::PathFileAccess,
                    "그림을 '" + name + "'에 저장할 수 없습니다 (" + writer.errorString().toStdString() + ").");
    // Bytes 2 to 5 of a bitmap file hold the size of the whole file, little-endian.
    const std::int64_t declared = sink.written < qint64(sizeof sink.head)
                                      ? -1
                                      : std::int64_t{LoadLittle<std::uint32_t>(sink.head + 2)};
    const std::int64_t length = file.Length();
    if (sink.written != declared || length != declared)
        throw Error(err::DeviceIO, "그림 파일 " + WithParticle("'" + name + "'", Particle::IGa) + " 다 쓰이지 않았습니다 (" + std::to_string(length) +
                                       " 바이트, 머리글로는 " + std::to_string(declared) + " 바이트).");
}

void PictureService::SavePicture(const QImage& picture, const std::string& path) {
    LocalFileSystem files;
    auto file = files.OpenForWriting(path);
    file->Truncate(0);
    WriteBitmap(picture, *file, path);
    file->Close();
}
