#pragma once
// The one mapping from a failed system call's errno to the system's Error.
#include <string>

#include "os/error.h"

// err::FileNotFound, err::PermissionDenied, err::DiskFull, err::DeviceIO or
// err::PathFileAccess for `e`; the description is `context` followed by
// SystemWords(e).
Error ErrnoError(int e, const std::string& context);

// The reason for `e` in Korean, saying what to do where there is something
// to do. A reason without Korean words of its own is named by its number,
// with the system's own words after a "—" for an administrator.
std::string SystemWords(int e);

// Throws ErrnoError(e, context).
[[noreturn]] void RaiseErrno(int e, const std::string& context);

// RaiseErrno for a call on `path`: when `path` was not found because its
// folder is missing, the reason names that folder instead.
[[noreturn]] void RaiseErrnoAt(int e, const std::string& context, const std::string& path);
