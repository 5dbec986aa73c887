// Recordsets: moving over rows, adding a row, bookmarks; the same for every
// kind of database, which supplies the reads and the insert.
#include <cassert>
#include <cstring>

#include "engine/engine_impl.h"
#include "engine/sql_words.h"
#include "os/byte_order.h"
#include "text/korean.h"

namespace {

// A bookmark: the row key's id, version and table, or a snapshot's row number.
Bytes BookmarkOf(const RowKey& key) {
    Bytes b;
    b.reserve(16);
    AppendLittle(b, static_cast<std::uint64_t>(key.id));
    AppendLittle(b, key.version);
    AppendLittle(b, key.table);
    assert(b.size() == 16);
    return b;
}

static_assert(sizeof(RowKey::version) == 4 && sizeof(RowKey::table) == 4, "a bookmark holds 16 bytes");

RowKey KeyOf(const Bytes& b) {
    if (b.size() != 16) throw Error(err::InvalidEngineArgument, "책갈피가 올바르지 않습니다.");
    return {static_cast<long long>(LoadLittle<std::uint64_t>(b.data())), LoadLittle<std::uint32_t>(b.data() + 8),
            LoadLittle<std::uint32_t>(b.data() + 12)};
}

}  // namespace

void ConnectionImpl::Close() {
    for (auto& weak : recordsets)
        if (auto rs = weak.lock()) rs->Close();
    recordsets.clear();
    CloseConnection();
}

void RecordsetImpl::CheckOpen() const {
    if (closed) throw Error(err::ObjectClosed, "레코드셋이 닫혀 있습니다.");
    Connection().CheckOpen();
}

void RecordsetImpl::Close() {
    if (closed) return;
    Release();
    rows.clear();
    spill.reset();
    stages.clear();
    closed = true;
}

int RecordsetImpl::IndexOf(std::string_view name) const {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (SameIdentifier(names[i], name)) return static_cast<int>(i);
    throw Error(err::ItemNotFound, "열 " + WithParticle("'" + std::string(name) + "'", Particle::EulReul) + " 찾을 수 없습니다" +
                                       (table.empty() ? "." : " (테이블 " + table + ")."));
}

void RecordsetImpl::CheckIndex(int i) const {
    if (i < 0 || i >= static_cast<int>(names.size()))
        throw Error(err::ItemNotFound, "열 번호 " + WithParticle(std::to_string(i), Particle::IGa) + " 범위를 벗어났습니다.");
}

bool RecordsetImpl::AtEnd() {
    if (type != dbOpenTable) return pos >= rows.size();
    if (firstPending) {
        current = NextRow(std::nullopt);
        firstPending = false;
    }
    return !current.has_value();
}

void RecordsetImpl::RequireRow() {
    CheckOpen();
    if (AtEnd()) throw Error(err::NoCurrentRecord, "현재 레코드가 없습니다.");
}

Cell RecordsetImpl::CurrentCell(int i) {
    RequireRow();
    if (type != dbOpenTable) return rows[pos][static_cast<std::size_t>(i)];
    return TableCell(i);
}

void RecordsetImpl::Spill(Cell& cell, std::span<const std::uint8_t> bytes) {
    if (!spill) spill.emplace();
    spill->WriteAt(bytes, spillSize);
    cell.value = SpilledBlob{spillSize, static_cast<std::int64_t>(bytes.size())};
    spillSize += bytes.size();
}

Bytes RecordsetImpl::ReadOutside(int field, const Cell& cell, std::int64_t offset, std::int64_t count) {
    const std::int64_t size = cell.OutsideSize();
    const std::int64_t from = std::min(offset, size);
    const std::int64_t n = std::min(count, size - from);
    if (n <= 0) return {};
    if (const SpilledBlob* spilled = cell.Spilled()) {
        Bytes out(static_cast<std::size_t>(n));
        spill->ReadAt(out, spilled->offset + static_cast<std::uint64_t>(from));
        return out;
    }
    return ReadLazy(field, *cell.Lazy(), from, n);
}

RecordsetImpl& Recordset::impl() const {
    if (!impl_) throw Error(err::ObjectClosed, "레코드셋이 열려 있지 않습니다.");
    return *impl_;
}

long Recordset::RecordCount() const {
    auto& r = impl();
    r.CheckOpen();
    return r.type == dbOpenTable ? r.TableCount() : static_cast<long>(r.rows.size());
}

bool Recordset::EOF_() const {
    auto& r = impl();
    r.CheckOpen();
    return r.AtEnd();
}

void Recordset::MoveFirst() {
    auto& r = impl();
    r.CheckOpen();
    r.adding = false;
    if (r.type == dbOpenTable) {
        r.firstPending = false;
        r.current = r.NextRow(std::nullopt);
        if (!r.current) throw Error(err::NoCurrentRecord, "레코드가 없습니다 (테이블 " + r.table + ").");
    } else {
        if (r.rows.empty()) throw Error(err::NoCurrentRecord, "레코드가 없습니다.");
        r.pos = 0;
    }
}

void Recordset::MoveNext() {
    auto& r = impl();
    r.RequireRow();
    r.adding = false;
    if (r.type == dbOpenTable) r.current = r.NextRow(r.current);
    else ++r.pos;
}

Field Recordset::Fields(int index) const {
    impl().CheckOpen();
    impl_->CheckIndex(index);
    return Field(impl_, index);
}

Field Recordset::Fields(std::string_view name) const {
    impl().CheckOpen();
    return Field(impl_, impl_->IndexOf(name));
}

void Recordset::AddNew() {
    auto& r = impl();
    r.CheckOpen();
    if (!r.readOnlyReason.empty()) throw Error(err::ReadOnly, r.readOnlyReason);
    if (r.type != dbOpenTable) throw Error(err::ReadOnly, "스냅숏 레코드셋에는 행을 추가할 수 없습니다.");
    r.adding = true;
    r.edits.assign(r.names.size(), std::nullopt);
    r.stages.clear();
    r.stages.resize(r.names.size());
}

void Recordset::CancelUpdate() {
    auto& r = impl();
    r.CheckOpen();
    if (!r.adding) throw Error(err::UpdateWithoutAddNew, "AddNew 없이 CancelUpdate를 할 수 없습니다.");
    r.adding = false;
    r.edits.clear();
    r.stages.clear();
}

void Recordset::Update() {
    auto& r = impl();
    r.CheckOpen();
    if (!r.adding) throw Error(err::UpdateWithoutAddNew, "AddNew 없이 Update를 할 수 없습니다.");
    r.lastModified = r.Insert();
    r.adding = false;
    r.edits.clear();
    r.stages.clear();
}

Bytes Recordset::LastModified() const {
    auto& r = impl();
    r.CheckOpen();
    if (!r.lastModified) throw Error(err::NoCurrentRecord, "마지막으로 바뀐 레코드가 없습니다.");
    return BookmarkOf(*r.lastModified);
}

Bytes Recordset::Bookmark() const {
    auto& r = impl();
    r.RequireRow();
    return BookmarkOf(r.type == dbOpenTable ? *r.current : RowKey{static_cast<long long>(r.pos), 0});
}

void Recordset::SetBookmark(const Bytes& bookmark) {
    auto& r = impl();
    r.CheckOpen();
    const RowKey key = KeyOf(bookmark);
    r.adding = false;
    if (r.type != dbOpenTable) {
        if (key.id < 0 || static_cast<std::size_t>(key.id) >= r.rows.size())
            throw Error(err::InvalidEngineArgument, "책갈피가 올바르지 않습니다.");
        r.pos = static_cast<std::size_t>(key.id);
        return;
    }
    // The row this recordset has just stored needs no looking up.
    if (key != r.lastModified && !r.RowExists(key)) throw Error(err::RecordDeleted, "책갈피의 레코드가 삭제되었습니다 (테이블 " + r.table + ").");
    r.firstPending = false;
    r.current = key;
}

void Recordset::Close() {
    if (impl_) impl_->Close();
}
