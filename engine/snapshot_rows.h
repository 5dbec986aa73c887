#pragma once
// Inside the engine layer: the cells a recordset reads, and a snapshot's rows.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

#include "engine/engine.h"

// A blob left in its table, read by its row's key when asked for.
struct LazyBlob {
    long long rowid;
    std::int64_t size;
    std::uint32_t version = 0;
    std::uint32_t table = 0;
};

// A long blob that a snapshot read whole and keeps in its temporary file.
struct SpilledBlob {
    std::uint64_t offset;
    std::int64_t size;
};

// A value as read, a LazyBlob or a SpilledBlob: kept per cell of a snapshot,
// so it stays small.
using CellValue = std::variant<std::monostate, long long, double, std::string, Bytes, LazyBlob, SpilledBlob>;

struct Cell {
    CellValue value;
    const LazyBlob* Lazy() const { return std::get_if<LazyBlob>(&value); }
    const SpilledBlob* Spilled() const { return std::get_if<SpilledBlob>(&value); }
    // The size of a long value kept outside the cell, or -1.
    std::int64_t OutsideSize() const {
        if (auto l = Lazy()) return l->size;
        if (auto s = Spilled()) return s->size;
        return -1;
    }
    void Set(Variant v) {
        std::visit([this](auto&& x) { value = std::move(x); }, std::move(v));
    }
    // The value as the field shows it; a value kept outside must be read instead.
    Variant Take() {
        return std::visit(
            [](auto&& v) -> Variant {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, LazyBlob> || std::is_same_v<T, SpilledBlob>) return {};
                else return std::move(v);
            },
            value);
    }
};

// A snapshot's rows, their cells kept in blocks of a fixed number of rows:
// a long result grows without moving what it holds, so each cell's memory is
// touched once (fresh pages cost more than the copying here).
class SnapshotRows {
public:
    void SetWidth(std::size_t width) { width_ = std::max<std::size_t>(width, 1); }
    // Appends a row of empty cells and returns its first cell.
    Cell* Add() {
        if (count_ % kBlockRows == 0) blocks_.push_back(std::make_unique<Cell[]>(kBlockRows * width_));
        Cell* row = blocks_.back().get() + (count_ % kBlockRows) * width_;
        ++count_;
        return row;
    }
    const Cell* operator[](std::size_t row) const {
        return blocks_[row / kBlockRows].get() + (row % kBlockRows) * width_;
    }
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    void clear() {
        blocks_.clear();
        count_ = 0;
    }

private:
    static constexpr std::size_t kBlockRows = 256;
    std::vector<std::unique_ptr<Cell[]>> blocks_;
    std::size_t width_ = 1;
    std::size_t count_ = 0;
};
