#pragma once
// The one mapping from a failed system call's errno to the system's Error.
#include <string>

#include "os/error.h"

// err::FileNotFound, err::PermissionDenied, err::DiskFull, err::DeviceIO or
// err::PathFileAccess for `e`; the description is `context` followed by the
// system's own words for `e`.
Error ErrnoError(int e, const std::string& context);

// The system's own words for `e`.
std::string SystemWords(int e);

// Throws ErrnoError(e, context).
[[noreturn]] void RaiseErrno(int e, const std::string& context);
