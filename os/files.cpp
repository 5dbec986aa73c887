#include "os/files.h"

#include "os/paths.h"

Error NameTakenError(const std::string& path, int number) {
    return Error(number, "'" + path + "'이(가) 이미 있습니다. 덮어쓰지 않습니다.");
}

std::string FreshNameBeside(const std::string& path, const std::function<bool(const std::string&)>& attempt) {
    const std::string base = "." + BaseNameOf(path) + ".";
    const bool bare = BaseNameOf(path) == path;
    for (int n = 0; n < 1000; ++n) {
        const std::string name = base + std::to_string(ProcessId()) + "-" + std::to_string(n);
        const std::string candidate = bare ? name : JoinPath(FolderOf(path), name);
        if (attempt(candidate)) return candidate;
    }
    throw Error(err::PathFileAccess, "'" + FolderOf(path) + "' 폴더에 쓸 새 이름이 남아 있지 않습니다.");
}
