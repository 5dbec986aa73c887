#pragma once
// Windows only: UTF-8 inside the program, UTF-16 at the Windows API, and
// Windows's own error codes as the system's Error.
#include <string>

#include "os/error.h"

std::wstring Utf16(const std::string& text);
std::string Utf8(const std::wstring& text);

// err::FileNotFound, err::PermissionDenied, err::DiskFull or
// err::PathFileAccess for `code` (GetLastError's); the description is
// `context` followed by the system's own words for `code`.
Error WindowsError(unsigned long code, const std::string& context);
