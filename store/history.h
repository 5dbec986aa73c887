#pragma once
// The history a book keeps of itself. Every row that leaves pic_list (a save
// replacing it, a delete, a rename, or any other program's DELETE or UPDATE)
// is copied by the book's own triggers into the table pic_history, with the
// time it left and, on a server, the role that removed it and the address it
// came from. The triggers fire on DELETE and UPDATE only: pic_list keeps no
// INSERT trigger, so new pictures are still stored in place, piece by piece.
// A picture larger than kWholeValueLimit is not copied (its version is kept
// with its size and no bytes), so a save never fails because of the history.
// A book without pic_history works as before.
#include <optional>
#include <string>
#include <vector>

#include "engine/engine.h"

inline constexpr const char* kHistoryTable = "pic_history";

// True when the book has a table named pic_history: a history, or a table
// that only has its name (HistoryFaults tells).
bool HasHistory(Database& db);

// True when the table named pic_history has a history's columns.
bool IsHistoryTable(Database& db);

// Every reason the history would not keep a removal now, a sentence each:
// a pic_history of another shape; a trigger missing, disabled, or (on a
// server) set to fire only for replication; a table that inherits from
// pic_list, whose rows no trigger keeps; a server function others may call
// or that looks up names outside pg_catalog first; and, on a local book, a
// unique pic_name, whose rows the sqlite3 shell's REPLACE removes unseen.
// Empty when the book keeps every removal, and when it has no history.
std::vector<std::string> HistoryFaults(Database& db);

// The removals a working history still cannot see, a sentence each: on a
// local book whose pic_name is unique, the rows another program's REPLACE
// (INSERT OR REPLACE) pushes out, for which SQLite runs no trigger. Empty
// on a server and where there are none.
std::vector<std::string> HistoryBlindSpots(Database& db);

// Whether a removal from pic_list is kept now: a history with no fault.
// Every message that says a removed stamp can be brought back asks this.
bool HistoryKeeps(Database& db);

// True when the history may be read through this connection: always on a
// local book; on a server, when the role holds SELECT on pic_history (the
// book's owner grants it; saving needs no right on it).
bool CanReadHistory(Database& db);

// Gives the book its history: pic_history, its name index and the triggers of
// the book's kind, in one transaction (the caller's, when one is open).
// A history with faults is mended instead: its triggers (and the server's
// function) made again, its versions kept. Returns false, changing nothing,
// when the book keeps its history already. Raises err::InvalidOperation for
// a pic_history of another shape, which is not the book's to change, and
// the engine's Error (a role without the right to create tables, say); the
// book is then as it was.
bool EnableHistory(Database& db);

// One kept version, as `history` lists it.
struct KeptVersion {
    long long id = 0;
    Variant name;
    std::optional<long long> bytes;  // none for a Null picture
    bool kept = true;                // false: too large, only its size was kept
    std::string leftAtUtc;           // "YYYY-MM-DD HH:MM:SS"
    std::string who;                 // "role@address" on a server, else empty
};

// Every kept version, or those of `name` (matched as the save matches
// names), oldest first.
std::vector<KeptVersion> ListVersions(Database& db, const std::optional<std::string>& name);

// How many rows named `name` are too large for the history to keep, when the
// book has one (0 when it has none).
long CountUnkeptRows(Database& db, const std::string& name);

struct RestoredVersion {
    long long id = 0;
    long long bytes = 0;
    long replaced = 0;  // current rows of the name that went into the history
};

// Puts version `version` of `name` (the newest when none is given) back as
// the one current row of that name, byte for byte, in one transaction: the
// rows it replaces go into the history in turn. Raises err::ItemNotFound when
// the book has no history or no such version of that name, and
// err::InvalidOperation for a version whose picture was too large to keep;
// nothing is changed then.
RestoredVersion RestoreVersion(Database& db, const std::string& name, std::optional<long long> version);

// Forgets, in one transaction, the versions that left before `beforeUtc`
// ("YYYY-MM-DD HH:MM:SS", UTC) and those beyond the newest `keep` of each
// name; either rule may be absent. Returns how many versions went.
long PruneHistory(Database& db, const std::optional<std::string>& beforeUtc, std::optional<long long> keep);

// Copies every version of `from`'s history into `to`'s (which must have a
// history and no versions yet), ids, times and who included, each picture a
// chunk at a time. Returns how many were copied.
long CopyHistory(Database& from, Database& to);
