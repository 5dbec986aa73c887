#include "os/os_error.h"

#include <cerrno>
#include <cstring>

#include "os/files.h"
#include "os/paths.h"
#include "text/korean.h"

Error ErrnoError(int e, const std::string& context) {
    int number = err::PathFileAccess;
    switch (e) {
    case ENOENT: number = err::FileNotFound; break;
    case EACCES:
    case EPERM:
    case EROFS: number = err::PermissionDenied; break;
    case ENOSPC:
#ifdef EDQUOT  // not on Windows
    case EDQUOT:
#endif
    case EFBIG: number = err::DiskFull; break;
    case EIO: number = err::DeviceIO; break;
    default: break;
    }
    return Error(number, context + ": " + SystemWords(e));
}

std::string SystemWords(int e) {
    switch (e) {
    case ENOENT: return "파일이나 폴더가 없습니다. 경로를 확인하십시오";
    case EACCES:
    case EPERM: return "권한이 없습니다. 파일과 폴더의 권한을 확인하거나 관리자에게 요청하십시오";
#ifdef _WIN32
    // The C runtime says EROFS for a file marked read-only, EBUSY for one
    // another program holds open.
    case EROFS: return "읽기 전용 파일입니다. 파일 속성에서 '읽기 전용'을 끄십시오";
    case EBUSY: return "다른 프로그램이 이 파일을 열어 두고 있습니다. 그 프로그램을 닫고 다시 하십시오";
#else
    case EROFS: return "읽기 전용으로 연결된 디스크입니다. 쓸 수 있는 곳을 고르십시오";
    case EBUSY: return "다른 프로그램이 사용하고 있습니다. 잠시 뒤에 다시 하십시오";
    case ESTALE: return "네트워크 파일 시스템의 파일이 서버에서 바뀌었습니다. 다시 하십시오";
#endif
#ifdef EDQUOT
    case EDQUOT: return "디스크 할당량을 다 썼습니다. 파일을 정리하거나 관리자에게 할당량을 요청하십시오";
#endif
    case EEXIST: return "같은 이름이 이미 있습니다";
    case ENOSPC: return "디스크 공간이 부족합니다. 공간을 비운 뒤 다시 하십시오";
    case EFBIG: return "파일이 이 파일 시스템에 비해 너무 큽니다";
    case ENAMETOOLONG: return "경로가 너무 깁니다. 더 짧은 이름이나 폴더를 고르십시오";
    case EISDIR: return "파일이 아니라 폴더입니다";
    case ENOTDIR: return "경로 중간에 폴더가 아닌 파일이 있습니다. 경로를 확인하십시오";
    case EIO: return "디스크나 네트워크에서 읽기/쓰기 오류가 났습니다. 장치와 연결을 확인하십시오";
    case EMFILE:
    case ENFILE: return "열린 파일이 너무 많습니다. 다른 프로그램을 닫고 다시 하십시오";
    case ENOMEM: return "메모리가 부족합니다. 다른 프로그램을 닫고 다시 하십시오";
    case EXDEV: return "다른 디스크로는 바로 옮길 수 없습니다";
    case ETIMEDOUT: return "시간 안에 응답이 없습니다. 연결을 확인하고 다시 하십시오";
    default: return "시스템 오류 " + std::to_string(e) + " — " + std::strerror(e);
    }
}

void RaiseErrno(int e, const std::string& context) { throw ErrnoError(e, context); }

void RaiseErrnoAt(int e, const std::string& context, const std::string& path) {
    if (e == ENOENT || e == ENOTDIR) {
        const std::string folder = FolderOf(path);
        if (const PathFacts facts = StatPath(folder); !facts.Exists() || !facts.folder)
            throw Error(err::FileNotFound, context + ": 폴더 " + WithParticle("'" + folder + "'", Particle::IGa) +
                                               " 없습니다. 폴더 이름을 확인하거나 그 폴더를 먼저 만드십시오.");
        if (e == ENOENT) throw Error(err::FileNotFound, context + ": 그런 이름의 파일이 없습니다. 이름을 확인하십시오.");
    }
    RaiseErrno(e, context);
}
