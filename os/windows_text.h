#pragma once
// Windows only: the program speaks UTF-8 and Windows' wide API speaks
// UTF-16, so every path and text crosses here; and Windows' error codes
// become the errno values the rest of os/ reports with.
#include <string>

#include <windows.h>

// UTF-8 to UTF-16 and back; invalid sequences become U+FFFD.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

// A path for the wide file API: UTF-16 with backslashes, and, when it is too
// long for the classic limit of 260 characters, made absolute under "\\?\"
// so that Windows takes it whole.
std::wstring WidePath(const std::string& utf8);

// The errno value for a Windows error code (EIO for one without a match).
int ErrnoOf(DWORD code);
// Sets errno from GetLastError() and returns false, for the API's failure paths.
bool FailWithLastError();
