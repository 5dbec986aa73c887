// Recordsets: moving over rows, adding a row, bookmarks; the same for every
// kind of database, which supplies the reads and the insert.
#include <algorithm>
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
    if (closed_) throw Error(err::ObjectClosed, "레코드셋이 닫혀 있습니다.");
    Connection().CheckOpen();
}

void RecordsetImpl::Close() {
    if (closed_) return;
    Release();
    rows_.clear();
    spill_.reset();
    EndAdding();
    current_.reset();
    closed_ = true;
}

void RecordsetImpl::RefuseAdding(std::string why) {
    if (readOnlyReason_.empty()) readOnlyReason_ = std::move(why);
}

const std::string& RecordsetImpl::FieldName(int i) const {
    CheckIndex(i);
    return names_[static_cast<std::size_t>(i)];
}

int RecordsetImpl::IndexOf(std::string_view name) const {
    for (std::size_t i = 0; i < names_.size(); ++i)
        if (SameIdentifier(names_[i], name)) return static_cast<int>(i);
    throw Error(err::ItemNotFound, "열 " + WithParticle("'" + std::string(name) + "'", Particle::EulReul) + " 찾을 수 없습니다" +
                                       (table_.empty() ? "." : " (테이블 " + table_ + ")."));
}

void RecordsetImpl::CheckIndex(int i) const {
    if (i < 0 || i >= static_cast<int>(names_.size()))
        throw Error(err::ItemNotFound, "열 번호 " + WithParticle(std::to_string(i), Particle::IGa) + " 범위를 벗어났습니다.");
}

void RecordsetImpl::OpenAs(int type) {
    assert(type == dbOpenTable || type == dbOpenSnapshot);
    // Which it is decides how every row is read: it cannot change once one has been.
    assert(rows_.empty() && !current_ && !firstPending_);
    type_ = type;
}

void RecordsetImpl::AddField(std::string name) {
    assert(rows_.empty() && !adding_);
    names_.push_back(std::move(name));
}

Cell* RecordsetImpl::AddSnapshotRow() {
    assert(type_ != dbOpenTable);
    if (rows_.empty()) rows_.SetWidth(names_.size());
    return rows_.Add();
}

void RecordsetImpl::Spill(Cell& cell, std::span<const std::uint8_t> bytes) {
    if (!spill_) spill_.emplace();
    spill_->WriteAt(bytes, spillSize_);
    cell.value = SpilledBlob{spillSize_, static_cast<std::int64_t>(bytes.size())};
    spillSize_ += bytes.size();
}

void RecordsetImpl::StartWalk(bool lazily) {
    assert(type_ == dbOpenTable);
    firstPending_ = lazily;
    if (!lazily) current_ = NextRow(std::nullopt);
}

const RowKey& RecordsetImpl::CurrentKey() const {
    assert(type_ == dbOpenTable && current_);
    return *current_;
}

long RecordsetImpl::RecordCount() {
    CheckOpen();
    return type_ == dbOpenTable ? TableCount() : static_cast<long>(rows_.size());
}

bool RecordsetImpl::AtEnd() {
    CheckOpen();
    if (type_ != dbOpenTable) return pos_ >= rows_.size();
    if (firstPending_) {
        current_ = NextRow(std::nullopt);
        firstPending_ = false;
    }
    return !current_.has_value();
}

void RecordsetImpl::RequireRow() {
    if (AtEnd()) throw Error(err::NoCurrentRecord, "현재 레코드가 없습니다.");
}

void RecordsetImpl::MoveFirst() {
    CheckOpen();
    EndAdding();
    if (type_ == dbOpenTable) {
        firstPending_ = false;
        current_ = NextRow(std::nullopt);
        if (!current_) throw Error(err::NoCurrentRecord, "레코드가 없습니다 (테이블 " + table_ + ").");
    } else {
        if (rows_.empty()) throw Error(err::NoCurrentRecord, "레코드가 없습니다.");
        pos_ = 0;
    }
}

void RecordsetImpl::MoveNext() {
    RequireRow();
    EndAdding();
    if (type_ == dbOpenTable) current_ = NextRow(current_);
    else ++pos_;
}

Bytes RecordsetImpl::Bookmark() {
    RequireRow();
    return BookmarkOf(type_ == dbOpenTable ? *current_ : RowKey{static_cast<long long>(pos_), 0});
}

void RecordsetImpl::SetBookmark(const Bytes& bookmark) {
    CheckOpen();
    const RowKey key = KeyOf(bookmark);
    EndAdding();
    if (type_ != dbOpenTable) {
        if (key.id < 0 || static_cast<std::size_t>(key.id) >= rows_.size())
            throw Error(err::InvalidEngineArgument, "책갈피가 올바르지 않습니다.");
        pos_ = static_cast<std::size_t>(key.id);
        return;
    }
    // The row this recordset has just stored needs no looking up.
    if (key != lastModified_ && !RowExists(key))
        throw Error(err::RecordDeleted, "책갈피의 레코드가 삭제되었습니다 (테이블 " + table_ + ").");
    firstPending_ = false;
    current_ = key;
}

Bytes RecordsetImpl::LastModified() const {
    CheckOpen();
    if (!lastModified_) throw Error(err::NoCurrentRecord, "마지막으로 바뀐 레코드가 없습니다.");
    return BookmarkOf(*lastModified_);
}

void RecordsetImpl::AddNew() {
    CheckOpen();
    if (!readOnlyReason_.empty()) throw Error(err::ReadOnly, readOnlyReason_);
    if (type_ != dbOpenTable) throw Error(err::ReadOnly, "스냅숏 레코드셋에는 행을 추가할 수 없습니다.");
    adding_ = true;
    edits_.assign(names_.size(), std::nullopt);
    stages_.clear();
    stages_.resize(names_.size());
}

void RecordsetImpl::CancelUpdate() {
    CheckOpen();
    if (!adding_) throw Error(err::UpdateWithoutAddNew, "AddNew 없이 CancelUpdate를 할 수 없습니다.");
    EndAdding();
}

void RecordsetImpl::Update() {
    CheckOpen();
    if (!adding_) throw Error(err::UpdateWithoutAddNew, "AddNew 없이 Update를 할 수 없습니다.");
    lastModified_ = Insert();
    EndAdding();
}

void RecordsetImpl::EndAdding() {
    adding_ = false;
    edits_.clear();
    stages_.clear();
}

void RecordsetImpl::RequireAdding(int i, const char* what) const {
    if (!adding_)
        throw Error(err::UpdateWithoutAddNew, "AddNew 없이 열 " + names_[static_cast<std::size_t>(i)] + what);
}

Cell RecordsetImpl::CurrentCell(int i) {
    RequireRow();
    if (type_ != dbOpenTable) return rows_[pos_][static_cast<std::size_t>(i)];
    return TableCell(i);
}

Bytes RecordsetImpl::ReadOutside(int field, const Cell& cell, std::int64_t offset, std::int64_t count) {
    const std::int64_t size = cell.OutsideSize();
    const std::int64_t from = std::min(offset, size);
    const std::int64_t n = std::min(count, size - from);
    if (n <= 0) return {};
    if (const SpilledBlob* spilled = cell.Spilled()) {
        Bytes out(static_cast<std::size_t>(n));
        spill_->ReadAt(out, spilled->offset + static_cast<std::uint64_t>(from));
        return out;
    }
    return ReadLazy(field, *cell.Lazy(), from, n);
}

Variant RecordsetImpl::Value(int i) {
    CheckOpen();
    CheckIndex(i);
    const auto f = static_cast<std::size_t>(i);
    if (adding_) {
        if (const auto& stage = stages_[f]) return stage->Read(0, stage->Size());
        return edits_[f] ? *edits_[f] : Variant{};
    }
    Cell cell = CurrentCell(i);
    if (const std::int64_t size = cell.OutsideSize(); size >= 0) return ReadOutside(i, cell, 0, size);
    return cell.Take();
}

std::int64_t RecordsetImpl::Size(int i) {
    CheckOpen();
    CheckIndex(i);
    if (adding_) {
        const auto& stage = stages_[static_cast<std::size_t>(i)];
        return stage ? static_cast<std::int64_t>(stage->Size()) : static_cast<std::int64_t>(TextOf(Value(i)).size());
    }
    Cell cell = CurrentCell(i);
    const std::int64_t size = cell.OutsideSize();
    return size >= 0 ? size : static_cast<std::int64_t>(TextOf(cell.Take()).size());
}

Bytes RecordsetImpl::Chunk(int i, std::int64_t offset, std::int64_t count) {
    CheckOpen();
    CheckIndex(i);
    Variant value;
    if (adding_) {
        if (const auto& stage = stages_[static_cast<std::size_t>(i)])
            return stage->Read(static_cast<std::uint64_t>(offset), static_cast<std::uint64_t>(count));
        value = Value(i);
    } else {
        Cell cell = CurrentCell(i);
        if (cell.OutsideSize() >= 0) return ReadOutside(i, cell, offset, count);
        value = cell.Take();
    }
    // A value held in memory: its bytes, or its text's.
    const std::string all = TextOf(value);
    const std::size_t from = std::min<std::size_t>(static_cast<std::size_t>(offset), all.size());
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), all.size() - from);
    return Bytes(all.begin() + static_cast<std::ptrdiff_t>(from), all.begin() + static_cast<std::ptrdiff_t>(from + n));
}

void RecordsetImpl::SetValue(int i, const Variant& value) {
    CheckOpen();
    CheckIndex(i);
    RequireAdding(i, "에 값을 넣을 수 없습니다.");
    edits_[static_cast<std::size_t>(i)] = value;
    stages_[static_cast<std::size_t>(i)].reset();
}

void RecordsetImpl::Append(int i, std::span<const std::uint8_t> bytes) {
    CheckOpen();
    CheckIndex(i);
    RequireAdding(i, "에 AppendChunk를 할 수 없습니다.");
    const auto f = static_cast<std::size_t>(i);
    auto& stage = stages_[f];
    if (!stage) {
        // A value set before the first chunk is where the chunks go on from.
        stage = std::make_unique<ChunkStage>();
        if (edits_[f] && !IsNull(*edits_[f])) {
            const std::string before = TextOf(*edits_[f]);
            stage->Append(std::span(reinterpret_cast<const std::uint8_t*>(before.data()), before.size()));
        }
        edits_[f].reset();
    }
    stage->Append(bytes);
}

RecordsetImpl& Recordset::impl() const {
    if (!impl_) throw Error(err::ObjectClosed, "레코드셋이 열려 있지 않습니다.");
    return *impl_;
}

long Recordset::RecordCount() const { return impl().RecordCount(); }
bool Recordset::EOF_() const { return impl().AtEnd(); }
void Recordset::MoveFirst() { impl().MoveFirst(); }
void Recordset::MoveNext() { impl().MoveNext(); }

Field Recordset::Fields(int index) const {
    impl().CheckOpen();
    impl_->CheckIndex(index);
    return Field(impl_, index);
}

Field Recordset::Fields(std::string_view name) const {
    impl().CheckOpen();
    return Field(impl_, impl_->IndexOf(name));
}

void Recordset::AddNew() { impl().AddNew(); }
void Recordset::CancelUpdate() { impl().CancelUpdate(); }
void Recordset::Update() { impl().Update(); }
Bytes Recordset::LastModified() const { return impl().LastModified(); }
Bytes Recordset::Bookmark() const { return impl().Bookmark(); }
void Recordset::SetBookmark(const Bytes& bookmark) { impl().SetBookmark(bookmark); }

void Recordset::Close() {
    if (impl_) impl_->Close();
}
