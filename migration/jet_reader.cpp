#include "migration/jet_reader.h"

// libmdb's header needs glib's declarations first.
#include <glib.h>
#include <mdbtools.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "os/byte_order.h"
#include "os/file_kind.h"
#include "os/retry.h"
#include "os/unique_fd.h"

namespace {

// The stream from the reading child: frames of one type byte, a 4-byte
// little-endian payload length and the payload.
enum FrameType : std::uint8_t {
    kTable = 'T',  // u32 rows the table declares, u8 Jet version (3 or 4)
    kRow = 'R',    // u8 flags, u32 declared value length, name bytes
    kPiece = 'C',  // value bytes
    kEnd = 'E',    // end of the row
    kDone = 'D',   // u32 rows read
    kFail = 'X',   // u32 error number, message
};
constexpr std::uint8_t kNameNull = 1;
constexpr std::uint8_t kValueNull = 2;
constexpr std::size_t kMaxFrame = std::size_t{1} << 20;
constexpr std::size_t kReadBuffer = 64 * 1024;  // above any Jet page and libmdb's bind size

// libmdb's long value header: length in the low 30 bits, storage in the top two.
constexpr std::uint32_t kInline = 0x80000000u;
constexpr std::uint32_t kSinglePage = 0x40000000u;
constexpr std::uint32_t kLengthMask = 0x3fffffffu;

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) { AppendLittle(out, v); }
std::uint32_t GetU32(const std::uint8_t* p) { return LoadLittle<std::uint32_t>(p); }

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// ---------------------------------------------------------------------------
// The child: everything here runs after fork() and leaves through _exit().

class ChildStream {
public:
    explicit ChildStream(int fd) : fd_(fd) {}

    void Send(FrameType type, const void* payload, std::size_t size) {
        std::uint8_t head[5] = {type};
        StoreLittle(static_cast<std::uint32_t>(size), head + 1);
        WriteAll(head, sizeof head);
        WriteAll(payload, size);
    }
    void Send(FrameType type, const std::vector<std::uint8_t>& payload) { Send(type, payload.data(), payload.size()); }

    // Reports the failure to the parent and ends the child.
    [[noreturn]] void Fail(int number, const std::string& message) {
        std::vector<std::uint8_t> p;
        PutU32(p, static_cast<std::uint32_t>(number));
        p.insert(p.end(), message.begin(), message.end());
        Send(kFail, p);
        _exit(0);
    }

private:
    void WriteAll(const void* data, std::size_t size) {
        auto p = static_cast<const char*>(data);
        const ssize_t n = TransferAll(size, [&](std::size_t done) { return ::write(fd_, p + done, size - done); });
        if (n != static_cast<ssize_t>(size)) _exit(3);  // the parent has gone
    }
    int fd_;
};

// The address space now in use, so the limit adds to what the process already maps.
std::size_t CurrentAddressSpace() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    unsigned long pages = 0;
    if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
    std::fclose(f);
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

void LimitChild(const JetLimits& limits) {
    ::alarm(static_cast<unsigned>(std::max<long long>(1, limits.total.count() / 1000 + 1)));
#if defined(__SANITIZE_ADDRESS__)
    constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    constexpr bool kSanitized = true;
#else
    constexpr bool kSanitized = false;
#endif
#else
    constexpr bool kSanitized = false;
#endif
    // The address sanitizer reserves terabytes of shadow memory up front.
    if (!kSanitized) {
        rlim_t cap = static_cast<rlim_t>(CurrentAddressSpace() + limits.memoryBytes);
        struct rlimit rl {cap, cap};
        ::setrlimit(RLIMIT_AS, &rl);
    }
    // libmdb writes its own diagnostics; the parent reports failures itself.
    if (UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC)); null) {
        ::dup2(null.get(), STDOUT_FILENO);
        ::dup2(null.get(), STDERR_FILENO);
    }
}

MdbColumn* FindColumn(MdbTableDef* table, const std::string& name, unsigned& index) {
    for (unsigned i = 0; i < table->num_cols; ++i) {
        auto col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        if (g_ascii_strcasecmp(col->name, name.c_str()) == 0) {
            index = i;
            return col;
        }
    }
    return nullptr;
}

// Which of the current row's columns hold Null: libmdb's bound values show
// Null and empty alike, so the row is taken apart again.
std::vector<bool> NullColumns(MdbTableDef* table) {
    MdbHandle* mdb = table->entry->mdb;
    int start = 0;
    size_t size = 0;
    std::vector<bool> isNull(table->num_cols, false);
    if (table->cur_row == 0 || mdb_find_row(mdb, static_cast<int>(table->cur_row) - 1, &start, &size) != 0)
        return {};
    start &= 0x1fff;
    std::vector<MdbField> fields(MDB_MAX_COLS);
    int n = mdb_crack_row(table, start, size, fields.data());
    if (n <= 0 || static_cast<unsigned>(n) > table->num_cols) return {};
    for (int i = 0; i < n; ++i)
        if (fields[static_cast<std::size_t>(i)].colnum >= 0 &&
            static_cast<unsigned>(fields[static_cast<std::size_t>(i)].colnum) < table->num_cols)
            isNull[static_cast<std::size_t>(fields[static_cast<std::size_t>(i)].colnum)] =
                fields[static_cast<std::size_t>(i)].is_null != 0;
    return isNull;
}

[[noreturn]] void ChildMain(int fd, const std::string& path, const JetSource& source, const JetLimits& limits) {
    ChildStream out(fd);
    LimitChild(limits);
    const std::string file = Quoted(path);
    const std::string damaged = " 파일이 손상되었을 수 있습니다.";

    MdbHandle* mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
    if (!mdb) out.Fail(err::NotADatabase, "Jet 형식의 데이터베이스 " + file + "을(를) 열 수 없습니다." + damaged);
    if (mdb->f->jet_version != MDB_VER_JET3 && mdb->f->jet_version != MDB_VER_JET4)
        out.Fail(err::NotADatabase, file + "은(는) 지원하지 않는 판의 Jet 데이터베이스입니다 (판 번호 " +
                                        std::to_string(mdb->f->jet_version) + "). Jet 3과 Jet 4만 읽을 수 있습니다.");
    if (IS_JET3(mdb)) {
        // Jet 3 text is in the writer's code page, which libmdb takes from the environment.
        mdb_iconv_close(mdb);
        ::setenv("MDB_JET3_CHARSET", source.jet3Charset.c_str(), 1);
        mdb_iconv_init(mdb);
    }
    if (!mdb_read_catalog(mdb, MDB_TABLE))
        out.Fail(err::NotADatabase, file + "의 테이블 목록을 읽을 수 없습니다." + damaged);
    MdbCatalogEntry* entry = nullptr;
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (e->object_type == MDB_TABLE && g_ascii_strcasecmp(e->object_name, source.table.c_str()) == 0) entry = e;
    }
    if (!entry)
        out.Fail(err::TableNotFound, file + "에 테이블 '" + source.table + "'이(가) 없습니다. 도장 데이터베이스가 아닙니다.");
    MdbTableDef* table = mdb_read_table(entry);
    if (!table || !mdb_read_columns(table))
        out.Fail(err::NotADatabase, file + "의 테이블 '" + source.table + "'을(를) 읽을 수 없습니다." + damaged);

    unsigned nameIndex = 0, valueIndex = 0;
    MdbColumn* nameCol = FindColumn(table, source.nameColumn, nameIndex);
    MdbColumn* valueCol = FindColumn(table, source.valueColumn, valueIndex);
    for (auto [col, name] : {std::pair{nameCol, source.nameColumn}, std::pair{valueCol, source.valueColumn}})
        if (!col)
            out.Fail(err::ItemNotFound, file + "의 테이블 '" + source.table + "'에 열 '" + name + "'이(가) 없습니다.");
    if (nameCol->col_type != MDB_TEXT)
        out.Fail(err::NotADatabase, file + "의 열 '" + source.table + "." + source.nameColumn + "'이(가) 텍스트 열이 아닙니다.");
    if (valueCol->col_type != MDB_OLE)
        out.Fail(err::NotADatabase,
                 file + "의 열 '" + source.table + "." + source.valueColumn + "'이(가) 긴 이진 값 열이 아닙니다.");

    const std::size_t bufferSize = std::max<std::size_t>(kReadBuffer, mdb->bind_size);
    std::vector<char> nameBuf(bufferSize + 1, 0), valueBuf(bufferSize + 1, 0);
    int nameLen = 0, valueLen = 0;
    mdb_bind_column(table, static_cast<int>(nameIndex) + 1, nameBuf.data(), &nameLen);
    mdb_bind_column(table, static_cast<int>(valueIndex) + 1, valueBuf.data(), &valueLen);

    const std::uint32_t declaredRows = table->num_rows;
    std::vector<std::uint8_t> frame;
    PutU32(frame, declaredRows);
    frame.push_back(IS_JET3(mdb) ? 3 : 4);
    out.Send(kTable, frame);

    mdb_rewind_table(table);
    std::uint32_t rows = 0;
    while (mdb_fetch_row(table)) {
        ++rows;
        const std::string where = " (테이블 '" + source.table + "'의 " + std::to_string(rows) + "번째 행)";
        if (rows > declaredRows)
            out.Fail(err::NotADatabase, file + "에서 테이블이 밝힌 " + std::to_string(declaredRows) +
                                            "개보다 많은 행이 읽혔습니다." + damaged);
        std::vector<bool> isNull = NullColumns(table);
        if (isNull.empty()) out.Fail(err::NotADatabase, file + "의 행을 읽을 수 없습니다" + where + "." + damaged);

        std::uint8_t flags = 0;
        std::uint32_t declared = 0;
        std::uint8_t header[MDB_MEMO_OVERHEAD] = {};
        if (isNull[nameIndex]) flags |= kNameNull;
        if (isNull[valueIndex]) {
            flags |= kValueNull;
        } else {
            const auto start = static_cast<std::size_t>(valueCol->cur_value_start);
            if (valueCol->cur_value_len < MDB_MEMO_OVERHEAD ||
                start + MDB_MEMO_OVERHEAD > static_cast<std::size_t>(mdb->fmt->pg_size))
                out.Fail(err::NotADatabase, file + "의 긴 값 머리글이 올바르지 않습니다" + where + "." + damaged);
            std::memcpy(header, mdb->pg_buf + start, MDB_MEMO_OVERHEAD);
            std::uint32_t word = GetU32(header);
            std::uint32_t storage = word & ~kLengthMask;
            if (storage != 0 && storage != kInline && storage != kSinglePage)
                out.Fail(err::NotADatabase, file + "의 긴 값 저장 방식을 알 수 없습니다" + where + "." + damaged);
            declared = word & kLengthMask;
            if (storage == kInline &&
                static_cast<std::uint32_t>(valueCol->cur_value_len - MDB_MEMO_OVERHEAD) != declared)
                out.Fail(err::NotADatabase, file + "의 긴 값 길이가 맞지 않습니다" + where + "." + damaged);
        }
        frame.clear();
        frame.push_back(flags);
        PutU32(frame, declared);
        if (!isNull[nameIndex]) frame.insert(frame.end(), nameBuf.data(), nameBuf.data() + std::strlen(nameBuf.data()));
        out.Send(kRow, frame);

        if (!isNull[valueIndex]) {
            // Piece by piece, stopping as soon as the chain runs past the
            // declared length: a damaged chain can point back into itself.
            std::uint64_t total = 0;
            std::size_t n = mdb_ole_read(mdb, valueCol, header, bufferSize);
            while (n > 0) {
                if (n > bufferSize || total + n > declared)
                    out.Fail(err::NotADatabase, file + "의 긴 값이 밝힌 길이 " + std::to_string(declared) +
                                                    "바이트를 넘습니다" + where + "." + damaged);
                out.Send(kPiece, valueBuf.data(), n);
                total += n;
                n = mdb_ole_read_next(mdb, valueCol, header);
            }
            if (total != declared)
                out.Fail(err::NotADatabase, file + "의 긴 값을 " + std::to_string(total) + "바이트만 읽었습니다 (밝힌 길이 " +
                                                std::to_string(declared) + "바이트)" + where + "." + damaged);
        }
        out.Send(kEnd, nullptr, 0);
    }
    if (rows != declaredRows)
        out.Fail(err::NotADatabase, file + "의 테이블 '" + source.table + "'에서 " + std::to_string(declaredRows) +
                                        "개 행 가운데 " + std::to_string(rows) + "개만 읽혔습니다." + damaged);
    frame.clear();
    PutU32(frame, rows);
    out.Send(kDone, frame);
    _exit(0);  // closes the stream's end of the pipe
}

// ---------------------------------------------------------------------------
// The parent.

// The reading child: killed and reaped on every path out.
class Child {
public:
    Child(pid_t pid, UniqueFd fd) : pid_(pid), fd_(std::move(fd)) {}
    ~Child() {
        fd_.reset();
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Reap();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    int fd() const { return fd_.get(); }

    // Waits for the child to end (killing it first when asked) and says how it ended.
    std::string Finish(bool kill) {
        fd_.reset();
        if (pid_ <= 0) return {};
        if (kill) ::kill(pid_, SIGKILL);
        int status = Reap();
        if (WIFSIGNALED(status)) {
            int sig = WTERMSIG(status);
            if (sig == SIGALRM) return "시간 제한에 걸렸습니다";
            return std::string("신호 ") + std::to_string(sig) + " (" + strsignal(sig) + ")(으)로 끝났습니다";
        }
        if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
            return "상태 " + std::to_string(WEXITSTATUS(status)) + "(으)로 끝났습니다";
        return {};
    }

private:
    int Reap() {
        int status = 0;
        RetryInterrupted([&] { return ::waitpid(pid_, &status, 0); });
        pid_ = -1;
        return status;
    }
    pid_t pid_;
    UniqueFd fd_;
};

class FrameReader {
public:
    using Clock = std::chrono::steady_clock;
    FrameReader(Child& child, const std::string& path, const JetLimits& limits)
        : child_(child), path_(path), limits_(limits), deadline_(Clock::now() + limits.total) {}

    // Reads the next frame; false at a clean end of stream before any byte of a frame.
    bool Next(std::uint8_t& type, std::vector<std::uint8_t>& payload) {
        std::uint8_t head[5];
        if (!ReadExact(head, sizeof head, true)) return false;
        type = head[0];
        std::uint32_t size = GetU32(head + 1);
        if (size > kMaxFrame) Malformed("너무 긴 조각");
        payload.resize(size);
        ReadExact(payload.data(), size, false);
        return true;
    }

    [[noreturn]] void Malformed(const std::string& what) {
        child_.Finish(true);
        throw Error(err::NotADatabase, Quoted(path_) + "을(를) 읽는 과정에서 잘못된 자료가 왔습니다 (" + what +
                                           "). 원본은 바뀌지 않았습니다.");
    }

    [[noreturn]] void Ended() {
        std::string how = child_.Finish(false);
        throw Error(err::NotADatabase, Quoted(path_) + "을(를) 읽는 과정이 도중에 " + (how.empty() ? "끝났습니다" : how) +
                                           ". 파일이 손상되었을 수 있습니다. 원본은 바뀌지 않았습니다.");
    }

private:
    bool ReadExact(std::uint8_t* out, std::size_t size, bool endAllowed) {
        std::size_t got = 0;
        while (got < size) {
            auto now = Clock::now();
            auto left = std::min(deadline_ - now, std::chrono::duration_cast<Clock::duration>(limits_.idle));
            if (left <= Clock::duration::zero()) TimedOut();
            struct pollfd p {child_.fd(), POLLIN, 0};
            int ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
            int rc = ::poll(&p, 1, std::max(ms, 1));
            if (rc < 0 && errno == EINTR) continue;
            if (rc < 0) throw Error(err::DeviceIO, std::string("읽기 과정을 기다릴 수 없습니다: ") + std::strerror(errno));
            if (rc == 0) TimedOut();
            const ssize_t n = RetryInterrupted([&] { return ::read(child_.fd(), out + got, size - got); });
            if (n <= 0) {
                if (got == 0 && endAllowed) return false;
                Ended();
            }
            got += static_cast<std::size_t>(n);
        }
        return true;
    }

    [[noreturn]] void TimedOut() {
        child_.Finish(true);
        throw Error(err::NotADatabase, Quoted(path_) + "을(를) 읽는 과정이 시간 제한 안에 끝나지 않아 멈췄습니다. "
                                                       "파일이 손상되었을 수 있습니다. 원본은 바뀌지 않았습니다.");
    }

    Child& child_;
    const std::string& path_;
    const JetLimits& limits_;
    Clock::time_point deadline_;
};

}  // namespace

JetReadSummary ReadJetTable(const std::string& path, const JetSource& source, JetRowSink& sink,
                            const JetLimits& limits) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw Error(err::FileNotFound, "파일 " + Quoted(path) + "을(를) 찾을 수 없습니다.");
    if (!S_ISREG(st.st_mode) || SniffDatabaseFile(path) != DatabaseKind::Jet)
        throw Error(err::NotADatabase, Quoted(path) + "은(는) Jet 형식의 데이터베이스가 아닙니다.");

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw Error(err::DeviceIO, std::string("읽기 과정을 시작할 수 없습니다: ") + std::strerror(errno));
    UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) throw Error(err::DeviceIO, std::string("읽기 과정을 시작할 수 없습니다: ") + std::strerror(errno));
    if (pid == 0) {
        readEnd.reset();
        ChildMain(writeEnd.release(), path, source, limits);
    }
    writeEnd.reset();
    Child child(pid, std::move(readEnd));
    FrameReader reader(child, path, limits);

    JetReadSummary summary;
    std::uint8_t type = 0;
    std::vector<std::uint8_t> payload;
    std::optional<std::uint32_t> declaredRows;
    bool inRow = false, done = false;
    JetRow row;
    std::uint64_t rowBytes = 0;
    while (!done) {
        if (!reader.Next(type, payload)) reader.Ended();
        switch (type) {
        case kFail: {
            if (payload.size() < 4) reader.Malformed("오류 조각");
            int number = static_cast<int>(GetU32(payload.data()));
            std::string message(payload.begin() + 4, payload.end());
            child.Finish(true);
            throw Error(number, message + " 원본은 바뀌지 않았습니다.");
        }
        case kTable:
            if (declaredRows || payload.size() != 5) reader.Malformed("테이블 조각");
            declaredRows = GetU32(payload.data());
            summary.jetVersion = payload[4];
            break;
        case kRow:
            if (!declaredRows || inRow || payload.size() < 5) reader.Malformed("행 조각");
            row = JetRow{};
            if (!(payload[0] & kNameNull)) row.name = std::string(payload.begin() + 5, payload.end());
            row.valueIsNull = payload[0] & kValueNull;
            row.valueBytes = GetU32(payload.data() + 1);
            if (row.valueIsNull && row.valueBytes != 0) reader.Malformed("행 조각");
            if (static_cast<std::uint64_t>(summary.rows) >= *declaredRows) reader.Malformed("행 수");
            inRow = true;
            rowBytes = 0;
            sink.Begin(row);
            break;
        case kPiece:
            if (!inRow || row.valueIsNull) reader.Malformed("값 조각");
            rowBytes += payload.size();
            if (rowBytes > row.valueBytes) reader.Malformed("밝힌 길이를 넘는 값");
            sink.Piece(payload);
            break;
        case kEnd:
            if (!inRow || !payload.empty() || rowBytes != row.valueBytes) reader.Malformed("행 끝 조각");
            inRow = false;
            sink.End();
            ++summary.rows;
            summary.bytes += rowBytes;
            break;
        case kDone:
            if (!declaredRows || inRow || payload.size() != 4 || GetU32(payload.data()) != summary.rows ||
                static_cast<std::uint64_t>(summary.rows) != *declaredRows)
                reader.Malformed("끝 조각");
            done = true;
            break;
        default:
            reader.Malformed("알 수 없는 조각");
        }
    }
    std::string how = child.Finish(false);
    if (!how.empty())
        throw Error(err::NotADatabase, Quoted(path) + "을(를) 읽는 과정이 " + how + ". 원본은 바뀌지 않았습니다.");
    return summary;
}
