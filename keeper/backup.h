#pragma once
// A consistent, checked copy of a book in a new local file, as `backup` and
// the manager make it: a local book by the engine's online backup, a linked
// one copied off its server with its history.
#include <functional>
#include <string>

struct BackupResult {
    bool linked = false;
    std::string server;          // for a linked book
    long long bytes = 0;         // the copy's size (local) or the stamps' (linked)
    long stamps = -1;            // for a linked book
    long historyVersions = -1;   // for a linked book with a history
    bool historyUnreadable = false;  // the role may not read the server's history
    long ledgerRows = -1;        // for a linked book with a ledger of stamped documents
};

// `progress(done, total)` for a local book, in pages; raises an Error
// naming what went wrong, leaving nothing at `copy`.
BackupResult BackupBook(const std::string& path, const std::string& copy,
                        const std::function<void(long long, long long)>& progress = {});
