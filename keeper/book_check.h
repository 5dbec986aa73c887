#pragma once
// Every stored value of pic_list read as a picture, as `check` and the
// manager's check read them.
#include <functional>
#include <string>
#include <vector>

#include "engine/engine.h"

struct UnreadableRow {
    long row = 0;        // 1 for the first row, in table order
    Variant name;
    std::string problem; // as Describe says it
    bool outOfMemory = false;  // not read for want of memory: nothing said of the value
};

struct PictureCheck {
    long rows = 0;
    std::vector<UnreadableRow> unreadable;  // out-of-memory rows included, marked
    bool cancelled = false;
    long Unreadable() const;
    long Unchecked() const;
};

// Walks pic_list read-only. `step` is called after each row with the count
// so far; returning false stops the walk (cancelled).
PictureCheck CheckPictures(Database& db, const std::function<bool(long)>& step = {});
