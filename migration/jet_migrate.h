#pragma once
// Carries the stamps of an older Jet-format dojang.mdb over into a new picture
// database, byte for byte, without ever putting the original at risk.
//
// The new database is built under a temporary name in the target's folder,
// inside one transaction, then read back and compared row by row (name, Null,
// byte count, SHA-256 of every value) before it is moved into place. Any
// failure leaves the original at its own name, unchanged, and removes the
// temporary file.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "migration/jet_reader.h"

struct CarriedRow {
    std::optional<std::string> name;  // nullopt for Null
    bool valueIsNull = false;
    std::uint64_t bytes = 0;
    std::string sha256;  // lower-case hex; empty for Null
};

struct MigrationResult {
    std::string target;        // the new picture database
    std::string keptOriginal;  // where the original now lives (in place only)
    int jetVersion = 0;
    std::vector<CarriedRow> rows;
    std::uint64_t bytes = 0;
    long historyVersions = -1;  // versions of the history copied; -1 when none was
    long ledgerRows = -1;       // rows of the ledger of stamped documents copied; -1 when none was
    bool historyUnreadable = false;  // the server keeps one that this role may not read
};

// In place (`to` empty): the original is first given a free name beside it
// (KeptOriginalName, n = 0, 1, ...; never overwriting anything), then the new
// database takes `path`'s name. With `to`: writes a new database at `to`,
// which must not exist, and leaves `path` alone. Raises Error on any failure.
MigrationResult MigrateJetDatabase(const std::string& path, const std::optional<std::string>& to,
                                   const JetLimits& limits = {});

// Copies the stamp book of the server that the link file `linked` names into
// a new local picture database `to` (refused when anything is there): one
// snapshot of the server, written under a temporary name, compared row by
// row and checked before it takes the name `to`. Raises Error on failure and
// then leaves nothing at `to`.
MigrationResult CopyServerToFile(const std::string& linked, const std::string& to);

// "dojang.mdb" -> "dojang.jet.mdb" for n = 0, "dojang.jet-<n>.mdb" after that.
std::string KeptOriginalName(const std::string& path, int n);
