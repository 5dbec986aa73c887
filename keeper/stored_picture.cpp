#include "keeper/stored_picture.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

#include "pictures/picture_header.h"
#include "pictures/pictures.h"
#include "store/transfer.h"

FieldDevice::FieldDevice(const LongBinaryField& field) : FieldDevice(field, field.FieldSize()) {}

FieldDevice::FieldDevice(const LongBinaryField& field, qint64 size) : field_(field), size_(size) {
    // Unbuffered, so that pos() is where the next chunk is read from.
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 FieldDevice::readData(char* data, qint64 maxSize) {
    qint64 done = 0;
    while (done < maxSize && pos() + done < size_) {
        const auto count = static_cast<std::int32_t>(std::min<qint64>({maxSize - done, kChunkSize, size_ - pos() - done}));
        const Bytes chunk = field_.GetChunk(static_cast<std::int32_t>(pos() + done), count);
        if (chunk.empty()) break;
        std::memcpy(data + done, chunk.data(), chunk.size());
        done += static_cast<qint64>(chunk.size());
    }
    return done;
}

StoredPicture InspectPicture(const Field& pic, QImage* decoded) {
    StoredPicture result;
    result.bytes = pic.FieldSize();
    if (result.bytes == 0) {
        // Only an empty value is read whole to tell Null from nothing.
        result.null = IsNull(pic.Value());
        result.problem = result.null ? "값이 없습니다 (Null)" : "빈 값입니다 (0 바이트)";
        return result;
    }
    // The header is read with one chunk; a bitmap's check needs no device.
    const Bytes head = pic.GetChunk(0, static_cast<std::int32_t>(std::min<qint64>(kBitmapHeadBytes, result.bytes)));
    const BitmapCheck bitmap = CheckBitmap(head, static_cast<std::uint64_t>(result.bytes));
    if (bitmap.bitmap) {
        static const QByteArray bmp("bmp");  // shared, not made for every row
        result.format = bmp;
        result.problem = bitmap.problem;
        result.readable = bitmap.problem.empty();
        result.size = QSize(bitmap.width, bitmap.height);
        // Decoded only for a caller that wants the picture itself.
        if (!result.readable || !decoded) return result;
    }
    // A value the header read holds whole is decoded from memory: a value
    // that is no picture at all is then turned down without a trip to the
    // engine for every plug-in's look at its first bytes.
    FieldDevice field(pic, result.bytes);
    QByteArray whole;
    QBuffer held(&whole);
    QIODevice* device = &field;
    if (static_cast<qint64>(head.size()) == result.bytes) {
        whole = QByteArray(reinterpret_cast<const char*>(head.data()), static_cast<qsizetype>(head.size()));
        held.open(QIODevice::ReadOnly);
        device = &held;
    }
    QImageReader reader(device);
    result.format = reader.format();
    // No decoder claims the value: asking again (size, read) would only
    // repeat the same guess over every plug-in.
    if (result.format.isEmpty() && reader.error() == QImageReader::UnsupportedFormatError) {
        result.problem = "읽을 수 있는 그림이 아닙니다 (" + reader.errorString().toStdString() + ")";
        return result;
    }
    ReadProblem problem;
    QImage image = ReadWithinLimit(reader, problem);
    if (image.isNull()) {
        result.readable = false;
        result.outOfMemory = !problem.noMemory.empty();
        result.problem = !problem.tooLarge.empty()  ? problem.tooLarge
                         : result.outOfMemory      ? problem.noMemory + " (값이 손상된 것은 아닙니다)"
                                                   : "읽을 수 있는 그림이 아닙니다 (" + reader.errorString().toStdString() + ")";
        return result;
    }
    result.readable = true;
    result.size = image.size();
    if (decoded) *decoded = std::move(image);
    return result;
}

std::string Describe(const StoredPicture& picture) {
    if (!picture.readable) return picture.problem;
    std::string format = picture.format.toStdString();
    for (char& c : format) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return std::to_string(picture.size.width()) + "×" + std::to_string(picture.size.height()) + " " + format;
}
