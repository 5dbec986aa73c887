#include "engine/chunk_stage.h"

#include <algorithm>
#include <cassert>

void ChunkStage::Append(std::span<const std::uint8_t> bytes) {
    if (!spill_ && memory_.size() + bytes.size() <= kMemoryLimit) {
        // Reserving once spares the page faults of repeated regrowth, which
        // cost more than the copies here.
        if (memory_.capacity() == 0) memory_.reserve(kMemoryLimit);
        memory_.insert(memory_.end(), bytes.begin(), bytes.end());
    } else {
        if (!spill_) {
            spill_.emplace();
            spill_->WriteAt(memory_, 0);
            Bytes().swap(memory_);
        }
        spill_->WriteAt(bytes, size_);
    }
    size_ += bytes.size();
    // The bytes live in exactly one place: memory until the limit, then the file.
    assert(spill_ ? memory_.empty() : memory_.size() == size_);
}

Bytes ChunkStage::Read(std::uint64_t offset, std::uint64_t count) const {
    const std::uint64_t from = std::min(offset, size_);
    const std::uint64_t n = std::min(count, size_ - from);
    if (!spill_) return Bytes(memory_.begin() + static_cast<std::ptrdiff_t>(from),
                              memory_.begin() + static_cast<std::ptrdiff_t>(from + n));
    Bytes out(static_cast<std::size_t>(n));
    spill_->ReadAt(out, from);
    return out;
}

void ChunkStage::ForEachPiece(const std::function<void(std::span<const std::uint8_t>, std::uint64_t)>& sink) const {
    if (!spill_) {
        assert(memory_.size() == size_);
        sink(std::span<const std::uint8_t>(memory_), 0);
        return;
    }
    Bytes buf(256 * 1024);
    for (std::uint64_t done = 0; done < size_;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), size_ - done));
        spill_->ReadAt(std::span(buf.data(), want), done);
        sink(std::span<const std::uint8_t>(buf.data(), want), done);
        done += want;
    }
}
