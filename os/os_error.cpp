#include "os/os_error.h"

#include <cerrno>

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

void RaiseErrno(int e, const std::string& context) { throw ErrnoError(e, context); }
