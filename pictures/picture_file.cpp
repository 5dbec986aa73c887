#include "pictures/picture_file.h"

#include <cerrno>
#include <vector>

#include "os/os_error.h"
#include "os/paths.h"
#include "os/retry.h"
#include "text/korean.h"

namespace {

// Fills `into` from the file's start, less where the file is shorter.
std::size_t ReadHead(int fd, std::vector<std::uint8_t>& into, const std::string& path) {
    const auto n = TransferAll(into.size(), [&](std::size_t done) {
        return ReadSomeAt(fd, into.data() + done, into.size() - done, static_cast<std::int64_t>(done));
    });
    if (n < 0) RaiseErrno(errno, "그림 파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " 읽을 수 없습니다");
    return static_cast<std::size_t>(n);
}

}  // namespace

PictureFile OpenPictureFile(const std::string& path) {
    PictureFile file;
    file.fd = OpenForReading(path);
    if (!file.fd) {
        const int e = errno;
        const char* why = e == ENOENT ? "찾을 수 없습니다" : e == EACCES || e == EPERM ? "읽을 권한이 없습니다" : "열 수 없습니다";
        RaiseErrnoAt(e, "그림 파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " " + why, path);
    }
    const PathFacts st = StatOpen(file.fd.get());
    if (!st.Exists()) RaiseErrno(st.error, "그림 파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " 열 수 없습니다");
    if (st.folder) throw Error(err::PathFileAccess, WithParticle("'" + path + "'", Particle::EunNeun) + " 파일이 아니라 폴더입니다.");
    if (!st.regular)
        throw Error(err::PathFileAccess,
                    WithParticle("'" + path + "'", Particle::EunNeun) + " 일반 파일이 아니어서 (FIFO, 장치 따위) 그림으로 열지 않습니다.");
    file.length = static_cast<std::uint64_t>(st.size);

    std::vector<std::uint8_t> head(kBitmapHeadBytes);
    head.resize(ReadHead(file.fd.get(), head, path));
    file.bitmap = CheckBitmap(head, file.length);
    if (!file.bitmap.problem.empty()) RaiseInvalidPicture(path, file.bitmap.problem);
    return file;
}

void RaiseInvalidPicture(const std::string& path, const std::string& problem) {
    throw Error(err::InvalidPicture, WithParticle("'" + path + "'", Particle::EunNeun) + " " + problem + ".");
}
