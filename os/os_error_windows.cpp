#include "os/os_error.h"

#include <cerrno>
#include <cstring>

// The C runtime's texts are English; the reasons a Windows user meets most
// get the program's own words, since they say what to do.
std::string SystemWords(int e) {
    switch (e) {
    case EBUSY: return "다른 프로그램이 이 파일을 열어 두고 있습니다. 그 프로그램을 닫고 다시 하십시오";
    case EROFS: return "읽기 전용 파일입니다 (파일 속성에서 '읽기 전용'을 끄십시오)";
    case EACCES: return "접근이 거부되었습니다";
    case ENOENT: return "파일이나 폴더가 없습니다";
    case EEXIST: return "이미 있습니다";
    case ENOSPC: return "디스크 공간이 부족합니다";
    case ENAMETOOLONG: return "경로가 너무 깁니다";
    default: return std::strerror(e);
    }
}
