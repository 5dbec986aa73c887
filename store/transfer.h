#pragma once
// Moves a picture's bytes between a file and the long binary field `pic` in
// chunks of 32000 bytes, so that no picture is ever held in memory whole.
#include <cstdint>
#include <string>

#include "desktop/messagebox.h"
#include "engine/engine.h"
#include "os/files.h"

inline constexpr std::int32_t kChunkSize = 32000;

// Appends the whole file at `path` to `field` (a field of a row begun with
// AddNew). When the path is empty or no file is there, tells the user
// "파일이 존재하지 않습니다." and returns false with nothing appended.
// Raises the file services' and the engine's errors; the file is closed on
// every path.
bool FileToPICField(const std::string& path, LongBinaryField& field, FileSystem& files, MessageBox& messages);

// Writes the field's bytes to a new file that then replaces the transfer file
// at `transferPath` (FileSystem::CreateReplacing): afterwards the file holds
// exactly the field's bytes, and a link planted there has been replaced, not
// followed. Every failure is raised and leaves the old transfer file as it was.
void PICFieldToFile(const LongBinaryField& field, const std::string& transferPath, FileSystem& files);
