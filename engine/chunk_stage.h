#pragma once
// Inside the engine layer: the bytes appended to a column of a new row, held
// until Update writes them. In memory up to a small limit, beyond it in an
// unnamed temporary file, so a large picture never sits in memory whole.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "engine/engine.h"
#include "os/temp_file.h"

class ChunkStage {
public:
    static constexpr std::size_t kMemoryLimit = 1 << 20;
    // Values up to this size go into the INSERT itself; larger ones are
    // written into a zeroblob, which spares SQLite a record copy of the value.
    static constexpr std::size_t kInlineLimit = 64 * 1024;

    // Raises an Error when the temporary file cannot be made or written.
    void Append(std::span<const std::uint8_t> bytes);
    std::uint64_t Size() const { return size_; }
    bool InMemory() const { return !spill_; }
    bool Inline() const { return InMemory() && size_ <= kInlineLimit; }
    // The staged bytes while they are in memory.
    const Bytes& Memory() const { return memory_; }

    // Up to `count` bytes from `offset` (fewer at the end).
    Bytes Read(std::uint64_t offset, std::uint64_t count) const;
    // Hands the staged bytes to `sink` in order, in pieces, with each piece's offset.
    void ForEachPiece(const std::function<void(std::span<const std::uint8_t>, std::uint64_t)>& sink) const;

private:
    Bytes memory_;
    std::optional<AnonymousFile> spill_;
    std::uint64_t size_ = 0;
};
