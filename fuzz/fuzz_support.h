#pragma once
// Shared by the fuzz targets: a private scratch folder and a byte-file writer.
#include <cstddef>
#include <cstdint>
#include <string>

// A folder of this process's own, on a memory file system when there is one,
// emptied at start and removed at exit.
const std::string& ScratchFolder();
// Removes every entry of the scratch folder.
void ClearScratch();
void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size);
bool FileEquals(const std::string& path, const std::uint8_t* data, std::size_t size);
// Stops the run with a message: libFuzzer records the input as a crash.
[[noreturn]] void Fail(const std::string& what);
