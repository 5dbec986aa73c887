#include "engine/postgres/libpq_files.h"

#include <cstdlib>

#include "os/paths.h"

namespace {

// The file a name of UserLibpqFiles() means: "~/" is the home folder.
std::string RealPath(const std::string& shown) {
    if (shown.rfind("~/", 0) != 0) return shown;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + shown.substr(1);
}

// The first bytes of a file, as many as it has up to `count`.
std::string Head(const std::string& path, std::size_t count) {
    const UniqueFd fd = OpenForReading(path);
    std::string bytes(count, '\0');
    const long long n = fd ? ReadSome(fd.get(), bytes.data(), count) : -1;
    bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return bytes;
}

}  // namespace

std::string HandSavedFileProblem(const std::string& file, const std::string& what) {
    const std::string path = RealPath(file);
    const PathFacts facts = StatPath(path);
    if (!facts.Exists()) {
        if (!StatPath(path + ".txt").regular) return {};
        return what + "이 이름 끝에 '.txt'가 붙은 채 저장되어 있어 찾지 못했습니다 (" + file + ".txt). 끝의 "
               "'.txt'를 지워 이름을 정확히 다음과 같이 맞추십시오: " + file + " (Windows 탐색기에서는 '보기'의 "
               "'파일 확장명'을 켜야 .txt가 보입니다).";
    }
    if (!facts.regular) return {};
    const std::string head = Head(path, 3);
    if (head == "\xEF\xBB\xBF")
        return what + "(" + file + ")이 바이트 순서 표시(BOM)로 시작해 첫 줄을 읽지 못했습니다. 메모장에서 열어 "
               "'다른 이름으로 저장'의 인코딩을 'UTF-8'(BOM 없음)로 골라 다시 저장하십시오.";
    if (head.rfind("\xFF\xFE", 0) == 0 || head.rfind("\xFE\xFF", 0) == 0)
        return what + "(" + file + ")이 유니코드(UTF-16)로 저장되어 읽지 못했습니다. 메모장에서 열어 "
               "'다른 이름으로 저장'의 인코딩을 'UTF-8'로 골라 다시 저장하십시오.";
    return {};
}
