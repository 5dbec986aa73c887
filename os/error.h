#pragma once
// Every failure of every layer is an Error: a number the user can quote and
// a description that names the file, table or column concerned. One that a
// database raised also keeps what the database itself said, so callers can
// tell apart cases that share a number.
#include <stdexcept>
#include <string>
#include <utility>

// The database's own account of a failure: SQLite's extended result code or
// PostgreSQL's five-character SQLSTATE, and the statement, when known.
struct EngineCause {
    int sqliteCode = 0;
    std::string sqlstate;
    std::string statement;
};

class Error : public std::runtime_error {
public:
    Error(int number, const std::string& description, EngineCause cause = {})
        : std::runtime_error(description), number_(number), cause_(std::move(cause)) {}
    int Number() const noexcept { return number_; }
    std::string Description() const { return what(); }
    const EngineCause& Cause() const noexcept { return cause_; }

private:
    int number_;
    EngineCause cause_;
};

// Numbers follow the runtime's and the database engine's own numbering, so a
// reported number means the same thing whichever layer raised it.
namespace err {
// File and picture services.
constexpr int InvalidArgument = 5;
constexpr int OutOfMemory = 7;
constexpr int FileNotFound = 53;
constexpr int DeviceIO = 57;
constexpr int DiskFull = 61;
constexpr int InputPastEnd = 62;
constexpr int PermissionDenied = 70;
constexpr int PathFileAccess = 75;
constexpr int InvalidFileFormat = 321;
constexpr int InvalidPicture = 481;
// Database engine.
constexpr int Engine = 3000;
constexpr int InvalidEngineArgument = 3001;
constexpr int UpdateWithoutAddNew = 3020;
constexpr int NoCurrentRecord = 3021;
constexpr int DuplicateKey = 3022;
constexpr int DatabaseNotFound = 3024;
constexpr int DiskFullEngine = 3026;
constexpr int ReadOnly = 3027;
constexpr int DiskOrNetwork = 3043;
constexpr int InUseExclusively = 3045;
constexpr int NoPermission = 3033;
constexpr int CannotOpen = 3051;
constexpr int TableNotFound = 3078;
constexpr int ValueTooLarge = 3163;
constexpr int RecordDeleted = 3167;
constexpr int Locked = 3260;
constexpr int InvalidOperation = 3219;
constexpr int ItemNotFound = 3265;
constexpr int NotADatabase = 3343;
constexpr int ObjectClosed = 3420;
}  // namespace err
