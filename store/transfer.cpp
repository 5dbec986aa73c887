#include "store/transfer.h"

#include <vector>

#include "text/korean.h"

bool FileToPICField(const std::string& path, LongBinaryField& field, FileSystem& files, MessageBox& messages) {
    if (path.empty() || !files.FileExists(path)) {
        messages.MsgBox("파일이 존재하지 않습니다.", vbOKOnly);
        return false;
    }
    auto file = files.OpenBinary(path);
    std::int64_t length = file->Length();
    if (length > INT32_MAX)
        throw Error(err::InvalidArgument, "파일 " + WithParticle("'" + path + "'", Particle::IGa) + " 너무 커서 저장할 수 없습니다.");
    const std::int32_t whole = static_cast<std::int32_t>(length) / kChunkSize;
    const std::int32_t rest = static_cast<std::int32_t>(length) % kChunkSize;

    std::vector<std::uint8_t> buffer(kChunkSize);
    for (std::int32_t k = 1; k <= whole; ++k) {
        file->Read(buffer);
        field.AppendChunk(buffer);
    }
    if (rest > 0) {
        std::vector<std::uint8_t> last(static_cast<std::size_t>(rest));
        file->Read(last);
        field.AppendChunk(last);
    }
    file->Close();
    return true;
}

void PICFieldToFile(const LongBinaryField& field, const std::string& transferPath, FileSystem& files) {
    auto file = files.CreateReplacing(transferPath);
    const std::int32_t size = field.FieldSize();
    const std::int32_t whole = size / kChunkSize;
    const std::int32_t rest = size % kChunkSize;
    for (std::int32_t k = 0; k < whole; ++k) file->Write(field.GetChunk(k * kChunkSize, kChunkSize));
    if (rest > 0) file->Write(field.GetChunk(whole * kChunkSize, rest));
    file->Close();
}
