#include "os/os_error.h"

#include <cstring>

std::string SystemWords(int e) { return std::strerror(e); }
