// The Jet reader's child where the build has libmdb: everything here runs in
// the child process, under its limits, and ends it.
#include "migration/jet_child.h"

// libmdb's header brings GLib's declarations with it: GLib's own (Debian's
// build) or mdbtools' small stand-in for them (the Windows build).
#include <mdbtools.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "os/paths.h"
#include "os/process.h"
#include "text/korean.h"

namespace {

constexpr std::size_t kReadBuffer = 64 * 1024;  // above any Jet page and libmdb's bind size

// libmdb's long value header: length in the low 30 bits, storage in the top two.
constexpr std::uint32_t kInline = 0x80000000u;
constexpr std::uint32_t kSinglePage = 0x40000000u;
constexpr std::uint32_t kLengthMask = 0x3fffffffu;

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

}  // namespace

void ReadJetInChild(JetChildStream& out, const std::string& path, const JetSource& source) {
    const std::string file = Quoted(path);
    const std::string damaged = " 파일이 손상되었을 수 있습니다.";

    // libmdb opens the file by a char* name (fopen).
    const std::string narrow = NarrowLibraryPath(path);
    if (narrow.empty())
        out.Fail(err::PathFileAccess,
                 WithParticle(file, Particle::EulReul) + " 열 수 없습니다. " +
                     (errno == ENOENT ? std::string("파일을 찾을 수 없습니다.")
                                      : "경로에 한글처럼 영문이 아닌 글자가 있거나 경로가 너무 긴데, 이 드라이브에는 "
                                        "그 경로의 짧은(8.3) 이름이 없습니다. 파일을 영문 이름의 짧은 경로(예: "
                                        "C:\\dojang)로 옮긴 뒤 다시 변환하세요."));
    MdbHandle* mdb = mdb_open(narrow.c_str(), MDB_NOFLAGS);
    if (!mdb) out.Fail(err::NotADatabase, "Jet 형식의 데이터베이스 " + WithParticle(file, Particle::EulReul) + " 열 수 없습니다." + damaged);
    if (mdb->f->jet_version != MDB_VER_JET3 && mdb->f->jet_version != MDB_VER_JET4)
        out.Fail(err::NotADatabase, WithParticle(file, Particle::EunNeun) + " 지원하지 않는 판의 Jet 데이터베이스입니다 (판 번호 " +
                                        std::to_string(mdb->f->jet_version) + "). Jet 3과 Jet 4만 읽을 수 있습니다.");
    if (IS_JET3(mdb)) {
        // Jet 3 text is in the writer's code page, which libmdb takes from the environment.
        mdb_iconv_close(mdb);
        if (!SetEnvironmentValue("MDB_JET3_CHARSET", source.jet3Charset))
            out.Fail(err::OutOfMemory, WithParticle(file, Particle::EulReul) + " 읽을 문자 집합 " + WithParticle(source.jet3Charset, Particle::EulReul) + " 정할 수 없습니다.");
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
        out.Fail(err::TableNotFound, file + "에 테이블 " + WithParticle("'" + source.table + "'", Particle::IGa) + " 없습니다. 도장 데이터베이스가 아닙니다.");
    MdbTableDef* table = mdb_read_table(entry);
    if (!table || !mdb_read_columns(table))
        out.Fail(err::NotADatabase, file + "의 테이블 " + WithParticle("'" + source.table + "'", Particle::EulReul) + " 읽을 수 없습니다." + damaged);

    unsigned nameIndex = 0, valueIndex = 0;
    MdbColumn* nameCol = FindColumn(table, source.nameColumn, nameIndex);
    MdbColumn* valueCol = FindColumn(table, source.valueColumn, valueIndex);
    for (auto [col, name] : {std::pair{nameCol, source.nameColumn}, std::pair{valueCol, source.valueColumn}})
        if (!col)
            out.Fail(err::ItemNotFound, file + "의 테이블 '" + source.table + "'에 열 " + WithParticle("'" + name + "'", Particle::IGa) + " 없습니다.");
    if (nameCol->col_type != MDB_TEXT)
        out.Fail(err::NotADatabase, file + "의 열 " + WithParticle("'" + source.table + "." + source.nameColumn + "'", Particle::IGa) + " 텍스트 열이 아닙니다.");
    if (valueCol->col_type != MDB_OLE)
        out.Fail(err::NotADatabase,
                 file + "의 열 " + WithParticle("'" + source.table + "." + source.valueColumn + "'", Particle::IGa) + " 긴 이진 값 열이 아닙니다.");

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
    std::_Exit(0);  // closes the stream's end of the pipe
}

