#pragma once
// Carrying rows into a picture database: each row added as it arrives, its
// bytes hashed on the way, and the whole table compared with what was
// carried before anything is committed or moved into place.
#include <QCryptographicHash>
#include <optional>
#include <vector>

#include "engine/engine.h"
#include "migration/jet_migrate.h"
#include "migration/jet_reader.h"

// Adds each row to pic_list (through `rs`, a table recordset) as it arrives.
class RowCarrier : public JetRowSink {
public:
    explicit RowCarrier(Recordset& rs) : rs_(rs) {}
    void Begin(const JetRow& row) override;
    void Piece(std::span<const std::uint8_t> bytes) override;
    void End() override;

    std::vector<CarriedRow> rows;

private:
    Recordset& rs_;
    std::optional<Field> pic_;
    CarriedRow current_;
    QCryptographicHash hash_{QCryptographicHash::Sha256};
};

// Feeds every row of pic_list of `source` to `sink`, in table order, each
// value a chunk at a time.
void ReadPictureRows(Database& source, JetRowSink& sink);

// Reads pic_list of `db` back and compares every row, in order, with
// `expected` (name, Null, byte count, SHA-256); raises an Error naming the
// first row that differs.
void VerifyCarriedRows(Database& db, const std::vector<CarriedRow>& expected);
