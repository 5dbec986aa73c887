#include "engine/postgres/libpq_files.h"

#include <cstdlib>

#include "os/paths.h"

// Named as the user types them: the home folder is each user's own.
LibpqUserFiles UserLibpqFiles() { return {"~/.pgpass", "~/.pg_service.conf", "~/.postgresql/root.crt", true}; }

std::string IgnoredPasswordFile() {
    const char* env = std::getenv("PGPASSFILE");
    const char* home = std::getenv("HOME");
    const std::string file = env && *env ? env : std::string(home ? home : "") + "/.pgpass";
    const PathFacts facts = StatPath(file);
    if (!facts.Exists() || !facts.regular || (facts.permissions & 077) == 0) return {};
    return file;
}
