#pragma once
// Shared by the reliability driver and tests.
//
// Picture files whose bytes tell which save wrote them: a header naming the
// picture and its generation, then bytes derived from both. A stored value
// is "complete" only when the header parses and every byte after it matches,
// so a torn or mixed value can never pass for a good one.
#include <cstdint>
#include <optional>
#include <string>

#include "engine/engine.h"

struct PictureStamp {
    std::string name;
    long long generation = 0;
};

// The bytes of generation `generation` of `name`, `size` bytes past the header.
Bytes StampedPicture(const std::string& name, long long generation, std::size_t size);
// The stamp of a complete value; nothing for a torn, mixed or foreign one.
std::optional<PictureStamp> ReadStamp(const Bytes& value);

// The window's start-up reads on the database in `appFolder`: OpenPICDB, the
// name list read through a snapshot, then the picture named "도장" (when
// there is one) written to the transfer file. Returns the number of names.
long StartUpReads(const std::string& appFolder);
// The same reads on a database already open.
long ReadStartUp(Database& dbsPIC, const std::string& appFolder);
