#pragma once
// Inside the engine layer: RAII owners of libpq's handles, and the one place
// that turns a server's error into the system's Error.
#include <libpq-fe.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"

struct PgConnDeleter {
    void operator()(PGconn* c) const { PQfinish(c); }
};
using PgConn = std::unique_ptr<PGconn, PgConnDeleter>;

struct PgResultDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};
using PgResult = std::unique_ptr<PGresult, PgResultDeleter>;

// Memory that libpq allocated for the caller (escaped text, unescaped bytes,
// error messages) and a parsed connection string.
struct PgFreeMem {
    void operator()(void* p) const { PQfreemem(p); }
};
template <class T>
using PgMemory = std::unique_ptr<T, PgFreeMem>;
struct PgConninfoDeleter {
    void operator()(PQconninfoOption* o) const { PQconninfoFree(o); }
};
using PgConninfo = std::unique_ptr<PQconninfoOption, PgConninfoDeleter>;

// Type numbers of the server's built-in types that the engine reads.
namespace pgtype {
constexpr Oid Bool = 16, Bytea = 17, Name = 19, Int8 = 20, Int2 = 21, Int4 = 23, Text = 25, Oid_ = 26, Float4 = 700,
              Float8 = 701, Bpchar = 1042, Varchar = 1043, Numeric = 1700;
}

// "host:port/dbname" of a connection, for messages.
std::string ServerName(PGconn* conn);

// The Error for a failed command: the server's SQLSTATE decides the number
// and travels with it, with `statement`. A lost connection says so and that
// the server undid the unfinished work; a missing right names it (`right`,
// "INSERT" say) and the role.
Error PgError(PGconn* conn, const PGresult* result, const std::string& context, const std::string& right = {},
              const std::string& statement = {});

// One parameter of a command: text, raw bytes, or Null.
struct PgParam {
    enum Kind { Null, Text, Binary } kind = Null;
    std::string bytes;
    static PgParam Of(const Variant& v);
};

// One statement and the values of its $1, $2, ….
struct PgStatement {
    std::string sql;
    std::vector<PgParam> params;
};
std::vector<PgParam> PgParams(const Params& values);

// Parameters as the three arrays libpq's calls take; valid while `params` lives.
struct PgParamArrays {
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    explicit PgParamArrays(const std::vector<PgParam>& params);
    int Count() const { return static_cast<int>(values.size()); }
};

// Runs `sql` with `params`; results in text, or binary when `binary`.
// Raises PgError unless the result is `expected` (PGRES_COMMAND_OK or
// PGRES_TUPLES_OK).
PgResult PgExec(PGconn* conn, const std::string& sql, const std::vector<PgParam>& params, bool binary,
                ExecStatusType expected, const std::string& context, const std::string& right = {});

// The value of a text-format cell of the type `type`.
Variant PgTextValue(const PGresult* r, int row, int col, Oid type);

// Whether a cell of `type` can be read in the binary format (PgBinaryValue).
bool PgReadsBinary(Oid type);
// The value of a binary-format cell of a type PgReadsBinary accepts.
Variant PgBinaryValue(const PGresult* r, int row, int col, Oid type);

// The Error for a COMMIT (or a statement that commits by itself) whose
// answer was lost with the connection: nobody knows whether it took effect.
Error PgInDoubt(PGconn* conn, const std::string& context);

// The setting `key` of a connection string, or empty.
std::string ConninfoValue(const std::string& conninfo, const char* key);

// What to do about a connection that libpq could not make, in a sentence:
// from libpq's own message, naming the file to put right where it is one.
std::string WhatToDo(const std::string& libpq);
