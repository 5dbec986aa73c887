#include "pictures/pictures.h"

#include <QFile>
#include <QImageReader>

#include <new>

#include "os/error.h"
#include "os/process.h"
#include "pictures/picture_file.h"
#include "text/korean.h"

QImage QtPictureService::LoadPicture(const std::string& path) {
    if (path.empty()) return {};
    const PictureFile file = OpenPictureFile(path);
    // The decoder reads the very file that was checked, not whatever the path names by then.
    QFile device;
    if (!device.open(file.fd.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        throw Error(err::PathFileAccess, "그림 파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " 열 수 없습니다.");
    QImageReader reader(&device);
    ReadProblem problem;
    QImage image = ReadWithinLimit(reader, problem);
    if (!problem.tooLarge.empty()) RaiseInvalidPicture(path, problem.tooLarge);
    if (!problem.noMemory.empty()) RaiseOutOfMemory("그림 파일 '" + path + "'", problem.noMemory);
    if (image.isNull())
        RaiseInvalidPicture(path, "읽을 수 있는 그림 파일이 아닙니다 (" + reader.errorString().toStdString() + ")");
    return image;
}

QByteArray PictureFormatOf(const std::string& path) {
    const PictureFile file = OpenPictureFile(path);
    QFile device;
    if (!device.open(file.fd.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        throw Error(err::PathFileAccess, "그림 파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " 열 수 없습니다.");
    return QImageReader::imageFormat(&device);
}

namespace {

// Whether memory for a decoded picture of `bytes`, with room for the
// decoder's own buffers, cannot be had now. Asked of the kernel directly, so
// that a memory limit answers and no page is touched.
bool MemoryShort(std::uint64_t bytes) {
    return !MemoryAvailable(bytes + (std::uint64_t{64} << 20));
}

std::string Grouped(std::uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
        out.push_back(digits[i]);
    }
    return out;
}

}  // namespace

QImage ReadWithinLimit(QImageReader& reader, ReadProblem& problem) {
    // Qt's own limit (128 MiB by default) is raised to ours, checked first.
    QImageReader::setAllocationLimit(static_cast<int>(kMaxPictureBytes >> 20));
    const QSize size = reader.size();
    std::uint64_t bytes = 0;
    if (size.isValid()) {
        const QImage::Format format = reader.imageFormat();
        const unsigned bits = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
        const auto width = static_cast<std::uint64_t>(size.width()), height = static_cast<std::uint64_t>(size.height());
        problem.tooLarge = SizeProblem(width, height, bits);
        // Qt's GIF decoder opens fewer pixels than the limit: one short of it.
        if (problem.tooLarge.empty() && reader.format() == "gif" && width * height >= kMaxPicturePixels)
            problem.tooLarge = "GIF로는 너무 큰 그림입니다 (" + std::to_string(width) + "×" + std::to_string(height) +
                               " 픽셀: GIF는 16384×16384보다 적은 픽셀만 열 수 있습니다). PNG나 BMP로 바꾸어 주십시오";
        if (!problem.tooLarge.empty()) return {};
        // Decoders may make a 32-bit image whatever the file holds.
        bytes = width * 4 * height;
    }
    QImage image;
    bool thrown = false;
    try {
        image = reader.read();
    } catch (const std::bad_alloc&) {
        thrown = true;
    }
    if (image.isNull() && (thrown || (bytes > 0 && MemoryShort(bytes))))
        problem.noMemory = "메모리가 부족해 그림을 풀지 못했습니다 (" +
                           (size.isValid() ? Grouped(static_cast<std::uint64_t>(size.width())) + "×" +
                                                 Grouped(static_cast<std::uint64_t>(size.height())) + " 픽셀, 풀면 약 " +
                                                 Grouped((bytes + (1u << 20) - 1) >> 20) + " MiB"
                                           : std::string("크기 모름")) +
                           ")";
    return image;
}

void RaiseOutOfMemory(const std::string& what, const std::string& noMemory) {
    throw Error(err::OutOfMemory, what + ": " + noMemory + ". 그림이 손상된 것은 아닙니다. 메모리를 더 쓸 수 있을 때 "
                                                        "(다른 프로그램을 닫거나 메모리 제한을 늘린 뒤) 다시 하십시오.");
}
