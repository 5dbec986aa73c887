#include "tools/stored_picture.h"

#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <cstring>

#include "store/transfer.h"

FieldDevice::FieldDevice(const LongBinaryField& field) : field_(field), size_(field.FieldSize()) {
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

std::string BitmapShortfall(const QByteArray& head, qint64 actual) {
    if (head.size() < 6 || !head.startsWith("BM")) return {};
    const auto* b = reinterpret_cast<const unsigned char*>(head.constData());
    const qint64 declared = b[2] | (b[3] << 8) | (b[4] << 16) | (static_cast<qint64>(b[5]) << 24);
    if (declared <= actual) return {};
    return "잘린 비트맵입니다 (머리글에는 " + std::to_string(declared) + " 바이트, 실제로는 " +
           std::to_string(actual) + " 바이트)";
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
    FieldDevice device(pic);
    if (std::string cut = BitmapShortfall(device.peek(6), result.bytes); !cut.empty()) {
        result.problem = cut;
        return result;
    }
    QImageReader reader(&device);
    result.format = reader.format();
    const QImage image = reader.read();
    if (image.isNull()) {
        result.problem = "읽을 수 있는 그림이 아닙니다 (" + reader.errorString().toStdString() + ")";
        return result;
    }
    result.readable = true;
    result.size = image.size();
    if (decoded) *decoded = image;
    return result;
}

std::string Describe(const StoredPicture& picture) {
    if (!picture.readable) return picture.problem;
    return std::to_string(picture.size.width()) + "×" + std::to_string(picture.size.height()) + " " +
           picture.format.toUpper().toStdString();
}
