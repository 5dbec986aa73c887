#include "os/pending_file.h"

#include <cerrno>

#include "os/files.h"
#include "os/os_error.h"
#include "os/paths.h"
#include "text/korean.h"

PendingFile::PendingFile(const std::string& folder) : fd_(CreateUnnamedIn(folder)) {
    if (fd_) return;
    // Without unnamed files: a fresh hidden name, removed unless published.
    fd_ = CreateFreshBeside(JoinPath(folder, "새 파일"), named_);
    guard_.emplace(std::vector<std::string>{named_}, LeftoverFiles::Watch::WhileRunning);
}

bool PendingFile::Publish(const std::string& path) {
    if (named_.empty()) {
        if (!NameUnnamed(fd_.get(), path)) {
            if (errno == EEXIST) return false;
            RaiseErrnoAt(errno, "파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " 만들 수 없습니다", path);
        }
        if (fd_.Close() != 0) RaiseErrno(errno, "파일 '" + path + "' 닫기 실패");
        return true;
    }
    // Windows renames only a file no one holds open.
    if (fd_ && fd_.Close() != 0) RaiseErrno(errno, "파일 '" + path + "' 닫기 실패");
    if (!RenameWithoutReplacing(named_, path)) {
        if (errno == EEXIST) return false;
        RaiseErrnoAt(errno, "파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " 만들 수 없습니다", path);
    }
    guard_->Keep();
    return true;
}
