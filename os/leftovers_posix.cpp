#include <unistd.h>

#include "os/leftovers.h"

// Also called by the forked watcher: unlink alone is async-signal-safe.
void LeftoverFiles::Remove(const std::string& path) { ::unlink(path.c_str()); }
