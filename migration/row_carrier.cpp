#include "migration/row_carrier.h"

#include <algorithm>
#include <tuple>

#include "store/transfer.h"

namespace {
std::string Quoted(const std::string& s) { return "'" + s + "'"; }
std::string Hex(const QByteArray& digest) { return digest.toHex().toStdString(); }
}  // namespace

void RowCarrier::Begin(const JetRow& row) {
    rs_.AddNew();
    if (row.name) rs_.Fields("pic_name").SetValue(*row.name);
    current_ = CarriedRow{row.name, row.valueIsNull, 0, {}};
    hash_.reset();
    pic_.reset();
    if (!row.valueIsNull) {
        pic_ = rs_.Fields("pic");
        // An empty value is begun explicitly so that it stays empty, not Null.
        pic_->AppendChunk({});
    }
}
void RowCarrier::Piece(std::span<const std::uint8_t> bytes) {
    pic_->AppendChunk(bytes);
    hash_.addData(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    current_.bytes += bytes.size();
}
void RowCarrier::End() {
    rs_.Update();
    if (!current_.valueIsNull) current_.sha256 = Hex(hash_.result());
    rows.push_back(std::move(current_));
}

namespace {

// The row as stored, hashed a chunk at a time; `broken` names what does not add up.
CarriedRow ReadBack(Recordset& rs, std::string& broken) {
    CarriedRow row;
    const Variant name = rs.Fields("pic_name").Value();
    if (!IsNull(name)) row.name = TextOf(name);
    Field pic = rs.Fields("pic");
    const std::int32_t size = pic.FieldSize();
    row.valueIsNull = size == 0 && IsNull(pic.Value());
    row.bytes = static_cast<std::uint64_t>(size);
    if (row.valueIsNull) return row;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (std::int32_t at = 0; at < size; at += kChunkSize) {
        const Bytes piece = pic.GetChunk(at, kChunkSize);
        if (piece.empty()) broken = "바이트 수";
        hash.addData(QByteArrayView(piece.data(), static_cast<qsizetype>(piece.size())));
    }
    row.sha256 = Hex(hash.result());
    return row;
}

bool Before(const CarriedRow& a, const CarriedRow& b) {
    return std::tie(a.name, a.valueIsNull, a.bytes, a.sha256) < std::tie(b.name, b.valueIsNull, b.bytes, b.sha256);
}

}  // namespace

void ReadPictureRows(Database& source, JetRowSink& sink) {
    Recordset rs = source.OpenRecordset("pic_list", dbOpenTable);
    for (; !rs.EOF_(); rs.MoveNext()) {
        const Variant name = rs.Fields("pic_name").Value();
        Field pic = rs.Fields("pic");
        const std::int32_t size = pic.FieldSize();
        JetRow row;
        if (!IsNull(name)) row.name = TextOf(name);
        row.valueIsNull = size == 0 && IsNull(pic.Value());
        row.valueBytes = static_cast<std::uint32_t>(size);
        sink.Begin(row);
        for (std::int32_t at = 0; at < size; at += kChunkSize) {
            const Bytes piece = pic.GetChunk(at, std::min(kChunkSize, size - at));
            sink.Piece(piece);
        }
        sink.End();
    }
    rs.Close();
}

void VerifyCarriedRows(Database& db, const std::vector<CarriedRow>& expected) {
    // A server keeps no order of insertion, so its rows are compared as a set.
    const bool anyOrder = !db.Server().empty();
    const std::string where = anyOrder ? "서버 " + db.Server() : "새 데이터베이스 " + Quoted(db.Name());
    std::vector<CarriedRow> want = expected, got;
    std::string broken;
    Recordset rs = db.OpenRecordset("pic_list", dbOpenTable);
    for (; !rs.EOF_() && broken.empty(); rs.MoveNext()) got.push_back(ReadBack(rs, broken));
    rs.Close();
    auto mismatch = [&](std::size_t row, const std::string& what) {
        const std::string which = anyOrder && row < want.size()
                                      ? (want[row].name ? "\"" + *want[row].name + "\"" : std::string("Null")) + " 행"
                                      : std::to_string(row + 1) + "번째 행";
        return Error(err::Engine, where + "의 " + which + "이 원본과 다릅니다 (" + what + "). 변환을 취소했습니다.");
    };
    if (!broken.empty()) throw mismatch(got.size() - 1, broken);
    if (got.size() != want.size()) throw mismatch(std::min(got.size(), want.size()), "행 수");
    if (anyOrder) {
        std::sort(want.begin(), want.end(), Before);
        std::sort(got.begin(), got.end(), Before);
    }
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (got[i].name != want[i].name) throw mismatch(i, "이름");
        if (got[i].valueIsNull != want[i].valueIsNull) throw mismatch(i, "Null");
        if (got[i].bytes != want[i].bytes) throw mismatch(i, "바이트 수");
        if (got[i].sha256 != want[i].sha256) throw mismatch(i, "SHA-256");
    }
}
