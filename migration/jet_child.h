#pragma once
// Inside the Jet reader: the stream its child sends, and the child's reading
// itself, which libmdb does where the build has it (jet_child_libmdb.cpp)
// and which otherwise says it cannot be done (jet_child_none.cpp).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "migration/jet_reader.h"
#include "os/byte_order.h"
#include "os/child_process.h"

// Frames of one type byte, a 4-byte little-endian payload length and the payload.
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

inline void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) { AppendLittle(out, v); }
inline std::uint32_t GetU32(const std::uint8_t* p) { return LoadLittle<std::uint32_t>(p); }
inline std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// The child's side of the stream. It ends the child itself, never returning
// into the code that started it.
class JetChildStream {
public:
    explicit JetChildStream(ChildPipe& pipe) : pipe_(pipe) {}

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
        std::_Exit(0);
    }

private:
    void WriteAll(const void* data, std::size_t size) {
        if (size > 0 && !pipe_.Write(data, size)) std::_Exit(3);  // the parent has gone
    }
    ChildPipe& pipe_;
};

// Reads `source.table` of the Jet file at `path`, sends it to `out` as
// frames ending in kDone or kFail, and ends the child.
[[noreturn]] void ReadJetInChild(JetChildStream& out, const std::string& path, const JetSource& source);
