#pragma once
// The application folder: where the program keeps its two files.
#include <string>

// The folder of the running executable, without a trailing separator.
std::string ApplicationFolder();
