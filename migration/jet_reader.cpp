#include "migration/jet_reader.h"

#include <algorithm>
#include <vector>

#include "migration/jet_child.h"
#include "os/file_kind.h"
#include "os/paths.h"
#include "text/korean.h"

namespace {

constexpr std::size_t kMaxFrame = std::size_t{1} << 20;

// The child's task: arguments the path, then JetSource's fields in order.
int RunJetReader(ChildPipe& pipe, const std::vector<std::string>& args) {
    JetChildStream out(pipe);
    if (args.size() != 5) out.Fail(err::InvalidArgument, "Jet 읽기 과정의 인수가 맞지 않습니다.");
    ReadJetInChild(out, args[0], JetSource{args[1], args[2], args[3], args[4]});
}

class FrameReader {
public:
    using Clock = std::chrono::steady_clock;
    FrameReader(ChildProcess& child, const std::string& path, const JetLimits& limits)
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
        throw Error(err::NotADatabase, WithParticle(Quoted(path_), Particle::EulReul) + " 읽는 과정에서 잘못된 자료가 왔습니다 (" + what +
                                           "). 원본은 바뀌지 않았습니다.");
    }

    [[noreturn]] void Ended() {
        std::string how = DescribeChildExit(child_.Finish(false));
        throw Error(err::NotADatabase, WithParticle(Quoted(path_), Particle::EulReul) + " 읽는 과정이 도중에 " + (how.empty() ? "끝났습니다" : how) +
                                           ". 파일이 손상되었을 수 있습니다. 원본은 바뀌지 않았습니다.");
    }

private:
    bool ReadExact(std::uint8_t* out, std::size_t size, bool endAllowed) {
        std::size_t got = 0;
        while (got < size) {
            auto now = Clock::now();
            auto left = std::min(deadline_ - now, std::chrono::duration_cast<Clock::duration>(limits_.idle));
            if (left <= Clock::duration::zero()) TimedOut();
            const auto n = child_.Read({out + got, size - got}, std::chrono::ceil<std::chrono::milliseconds>(left));
            if (!n) TimedOut();
            if (*n == 0) {
                if (got == 0 && endAllowed) return false;
                Ended();
            }
            got += *n;
        }
        return true;
    }

    [[noreturn]] void TimedOut() {
        child_.Finish(true);
        throw Error(err::NotADatabase, WithParticle(Quoted(path_), Particle::EulReul) + " 읽는 과정이 시간 제한 안에 끝나지 않아 멈췄습니다. "
                                                       "파일이 손상되었을 수 있습니다. 원본은 바뀌지 않았습니다.");
    }

    ChildProcess& child_;
    const std::string& path_;
    const JetLimits& limits_;
    Clock::time_point deadline_;
};

}  // namespace

const ChildTask& JetReaderTask() {
    static constexpr ChildTask kTask{"jet-reader", RunJetReader};
    return kTask;
}

JetReadSummary ReadJetTable(const std::string& path, const JetSource& source, JetRowSink& sink,
                            const JetLimits& limits) {
    const PathFacts facts = StatPath(path);
    if (!facts.Exists()) throw Error(err::FileNotFound, "파일 " + WithParticle(Quoted(path), Particle::EulReul) + " 찾을 수 없습니다.");
    if (!facts.regular || SniffDatabaseFile(path) != DatabaseKind::Jet)
        throw Error(err::NotADatabase, WithParticle(Quoted(path), Particle::EunNeun) + " Jet 형식의 데이터베이스가 아닙니다.");

    ChildOptions options;
    options.limits = ChildLimits{limits.memoryBytes, limits.total};
    options.startFailure = "읽기 과정을 시작할 수 없습니다";
    std::optional<ChildProcess> started;
    try {
        started.emplace(JetReaderTask(), std::vector<std::string>{path, source.table, source.nameColumn,
                                                                   source.valueColumn, source.jet3Charset},
                        options);
    } catch (const Error& e) {
        throw Error(err::DeviceIO, e.Description());  // the reader's failing to start is the device's
    }
    ChildProcess& child = *started;
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
            if (!declaredRows || inRow || payload.size() != 4 || GetU32(payload.data()) != static_cast<std::uint64_t>(summary.rows) ||
                static_cast<std::uint64_t>(summary.rows) != *declaredRows)
                reader.Malformed("끝 조각");
            done = true;
            break;
        default:
            reader.Malformed("알 수 없는 조각");
        }
    }
    const std::string how = DescribeChildExit(child.Finish(false));
    if (!how.empty())
        throw Error(err::NotADatabase, WithParticle(Quoted(path), Particle::EulReul) + " 읽는 과정이 " + how + ". 원본은 바뀌지 않았습니다.");
    return summary;
}
