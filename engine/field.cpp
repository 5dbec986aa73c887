// Fields: a column's value in the current row, or in the row being added.
#include <cstdint>
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

const std::string& Field::Name() const { return rs_->FieldName(index_); }

Variant Field::Value() const { return rs_->Value(index_); }

void Field::SetValue(const Variant& value) { rs_->SetValue(index_, value); }

std::int32_t Field::FieldSize() const {
    const std::int64_t size = rs_->Size(index_);
    if (size > INT32_MAX) throw Error(err::InvalidEngineArgument, "열 " + Name() + "의 값이 너무 큽니다.");
    return static_cast<std::int32_t>(size);
}

Bytes Field::GetChunk(std::int32_t offset, std::int32_t count) const {
    rs_->CheckOpen();
    rs_->CheckIndex(index_);
    if (offset < 0 || count < 0)
        throw Error(err::InvalidEngineArgument, "GetChunk의 위치나 길이가 음수입니다 (열 " + Name() + ").");
    return rs_->Chunk(index_, offset, count);
}

void Field::AppendChunk(std::span<const std::uint8_t> bytes) { rs_->Append(index_, bytes); }
