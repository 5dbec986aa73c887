#pragma once
// Reads one table of an older Jet 3 or Jet 4 format database: a text
// name column and a long binary column, row by row, with the long values in
// pieces.
//
// The reading itself (libmdb) runs in a child process (os/child_process.h)
// under a memory limit and a time limit, and streams the rows to this process
// over a pipe: a damaged file can make the library loop, crash or allocate
// without bound, and none of that may reach the caller. A build without
// libmdb (a Windows build whose toolchain has none) starts the same child,
// which refuses every file with a message saying so. The child's death, a stalled or malformed stream,
// a value whose bytes differ from its declared length, or fewer or more rows
// than the table declares all end in an Error; the file is only ever read.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "os/child_process.h"
#include "os/error.h"

struct JetSource {
    std::string table = "pic_list";
    std::string nameColumn = "pic_name";
    std::string valueColumn = "pic";
    // Jet 3 files do not say which code page their text is in; the files this
    // tool meets come from Korean systems.
    std::string jet3Charset = "CP949";
};

struct JetLimits {
    // No word from the reader for this long ends the reading.
    std::chrono::milliseconds idle{30'000};
    // The whole reading may take at most this long.
    std::chrono::milliseconds total{30 * 60'000};
    // Address space the reader may add to what it starts with.
    std::size_t memoryBytes = std::size_t{512} << 20;
};

struct JetRow {
    std::optional<std::string> name;  // UTF-8; nullopt for Null
    bool valueIsNull = false;
    std::uint32_t valueBytes = 0;  // the length the file declares
};

// Receives the rows in table order: Begin, then the value's bytes in pieces
// (none for Null or empty), then End. An exception thrown here stops the
// reading and reaches the caller of ReadJetTable.
class JetRowSink {
public:
    virtual ~JetRowSink() = default;
    virtual void Begin(const JetRow& row) = 0;
    virtual void Piece(std::span<const std::uint8_t> bytes) = 0;
    virtual void End() = 0;
};

struct JetReadSummary {
    long rows = 0;
    std::uint64_t bytes = 0;
    int jetVersion = 0;  // 3 or 4
};

// The reading child's task, for the list in a program's main().
const ChildTask& JetReaderTask();

// Streams every row of `source.table` to `sink`. Raises Error on any failure:
// err::FileNotFound, err::NotADatabase (not Jet, damaged, timed out, reader
// died), err::TableNotFound / err::ItemNotFound (naming the missing table or
// column).
JetReadSummary ReadJetTable(const std::string& path, const JetSource& source, JetRowSink& sink,
                            const JetLimits& limits = {});
