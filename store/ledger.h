#pragma once
// The book's ledger of stamped documents (날인 대장): a row each time one of
// its stamps was put on a document, added with the stamping and never
// changed afterwards. On a server the time, the role and the PC's address
// are written by the server itself (a trigger sets them whatever the row
// said), and an office's clerks may add rows and read them, never change or
// remove one. A local book's triggers refuse changes and removals too, so
// that no other program edits the ledger by mistake.
#include <optional>
#include <string>
#include <vector>

#include "engine/engine.h"

inline constexpr const char* kLedgerTable = "pic_ledger";

struct LedgerEntry {
    long long id = 0;                 // set by the book
    std::string stampedAtUtc;         // "YYYY-MM-DD HH:MM:SS", set by the book's clock
    std::string role;                 // on a server, the role that stamped (set by the server)
    std::string address;              // on a server, the PC's address (set by the server)
    std::string user;                 // the login user on the PC that stamped
    std::string name;                 // the stamp
    std::string pictureSha256;        // of the stored picture used, lower-case hex
    std::string document;             // the stamped file's name, without its folder
    int page = 0;                     // from 1
    double xMm = 0, yMm = 0;          // the seal's centre, from the page's top-left corner
    double sizeMm = 0;                // the seal itself, its longer side
    std::string outputSha256;         // of the new document
    std::string purpose;
};

// True when the book has a table named pic_ledger.
bool HasLedger(Database& db);

// Gives the book its ledger (table, index and triggers), in the caller's
// transaction when one is open; false, changing nothing, when it has one.
// Raises the engine's Error for a role without the right to make tables.
bool EnableLedger(Database& db);

// Adds `entry` (its id, time, role and address are the book's to set) and
// returns the row as the book wrote it. Raises err::ItemNotFound, in words
// for the clerk, on a book without a ledger that this connection may not
// give one.
LedgerEntry AddLedgerEntry(Database& db, const LedgerEntry& entry);

// The rows, oldest first: all, or those of the stamp `name` (matched as the
// save matches names), or those from `sinceUtc` on.
std::vector<LedgerEntry> ListLedger(Database& db, const std::optional<std::string>& name,
                                    const std::optional<std::string>& sinceUtc);

// The ledger read through once: how many rows it has, and what is wrong
// with it, a sentence each: a row that cannot be what the stamping wrote (a
// hash that is no SHA-256, no page), a missing or disabled trigger. No rows
// and no faults for a book without a ledger or a role that may not read it.
struct LedgerCheck {
    long rows = 0;
    std::vector<std::string> faults;
};
LedgerCheck CheckLedger(Database& db);

// Whether this connection may read the ledger (always on a local book).
bool CanReadLedger(Database& db);

// Copies every row of `from`'s ledger into `to`'s, which must be empty, as
// they were written (ids, times, roles included). Returns how many.
long CopyLedger(Database& from, Database& to);
