// Fields: a column's value in the current row, or in the row being added.
#include <algorithm>
#include <cstdio>

#include "engine/engine_impl.h"

bool IsNull(const Variant& v) { return std::holds_alternative<std::monostate>(v); }

std::string TextOf(const Variant& v) {
    if (auto p = std::get_if<long long>(&v)) return std::to_string(*p);
    if (auto d = std::get_if<double>(&v)) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15g", *d);
        return buf;
    }
    if (auto t = std::get_if<std::string>(&v)) return *t;
    if (auto b = std::get_if<Bytes>(&v)) return std::string(b->begin(), b->end());
    return {};
}

const std::string& Field::Name() const {
    rs_->CheckIndex(index_);
    return rs_->names[static_cast<std::size_t>(index_)];
}

Variant Field::Value() const {
    rs_->CheckOpen();
    rs_->CheckIndex(index_);
    if (rs_->adding) {
        auto& edit = rs_->edits[static_cast<std::size_t>(index_)];
        if (auto& stage = rs_->stages[static_cast<std::size_t>(index_)]) return stage->Read(0, stage->Size());
        return edit ? *edit : Variant{};
    }
    Cell cell = rs_->CurrentCell(index_);
    if (const std::int64_t size = cell.OutsideSize(); size >= 0)
        return rs_->ReadOutside(index_, cell, 0, size);
    return cell.Take();
}

void Field::SetValue(const Variant& value) {
    rs_->CheckOpen();
    rs_->CheckIndex(index_);
    if (!rs_->adding) throw Error(err::UpdateWithoutAddNew, "AddNew 없이 열 " + Name() + "에 값을 넣을 수 없습니다.");
    rs_->edits[static_cast<std::size_t>(index_)] = value;
    rs_->stages[static_cast<std::size_t>(index_)].reset();
}

std::int32_t Field::FieldSize() const {
    rs_->CheckOpen();
    rs_->CheckIndex(index_);
    std::int64_t size = 0;
    if (rs_->adding) {
        auto& stage = rs_->stages[static_cast<std::size_t>(index_)];
        size = stage ? static_cast<std::int64_t>(stage->Size()) : static_cast<std::int64_t>(TextOf(Value()).size());
    } else {
        Cell cell = rs_->CurrentCell(index_);
        size = cell.OutsideSize();
        if (size < 0) size = static_cast<std::int64_t>(TextOf(cell.Take()).size());
    }
    if (size > INT32_MAX) throw Error(err::InvalidEngineArgument, "열 " + Name() + "의 값이 너무 큽니다.");
    return static_cast<std::int32_t>(size);
}

Bytes Field::GetChunk(std::int32_t offset, std::int32_t count) const {
    rs_->CheckOpen();
    rs_->CheckIndex(index_);
    if (offset < 0 || count < 0)
        throw Error(err::InvalidEngineArgument, "GetChunk의 위치나 길이가 음수입니다 (열 " + Name() + ").");
    Variant value;
    if (rs_->adding) {
        if (auto& stage = rs_->stages[static_cast<std::size_t>(index_)])
            return stage->Read(static_cast<std::uint64_t>(offset), static_cast<std::uint64_t>(count));
        value = Value();
    } else {
        Cell cell = rs_->CurrentCell(index_);
        if (cell.OutsideSize() >= 0) return rs_->ReadOutside(index_, cell, offset, count);
        value = cell.Take();
    }
    // A value held in memory: its bytes, or its text's.
    const std::string all = TextOf(value);
    const std::size_t from = std::min<std::size_t>(static_cast<std::size_t>(offset), all.size());
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), all.size() - from);
    return Bytes(all.begin() + static_cast<std::ptrdiff_t>(from), all.begin() + static_cast<std::ptrdiff_t>(from + n));
}

void Field::AppendChunk(std::span<const std::uint8_t> bytes) {
    rs_->CheckOpen();
    rs_->CheckIndex(index_);
    if (!rs_->adding)
        throw Error(err::UpdateWithoutAddNew, "AddNew 없이 열 " + Name() + "에 AppendChunk를 할 수 없습니다.");
    auto& stage = rs_->stages[static_cast<std::size_t>(index_)];
    if (!stage) {
        stage = std::make_unique<ChunkStage>();
        auto& edit = rs_->edits[static_cast<std::size_t>(index_)];
        if (edit && !IsNull(*edit)) {
            std::string before = TextOf(*edit);
            stage->Append(std::span(reinterpret_cast<const std::uint8_t*>(before.data()), before.size()));
        }
        edit.reset();
    }
    stage->Append(bytes);
}

