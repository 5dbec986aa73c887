// kaldoria-db.exe on a Windows PC reaching the office's server the way the
// README sets a PC up: a service name, the password in pgpass.conf and the
// server's root certificate in root.crt, all in libpq's own folder
// %APPDATA%\postgresql, with sslmode=verify-full.
//
// Those are the current user's real files: a test skips rather than write
// over one that is there, removes what it made, and the tests run one at a
// time (RESOURCE_LOCK in CMakeLists.txt). The server is the Linux one under
// Wine (tests/pg/pg_server_wine.cpp).
#include <windows.h>

#include <libpq-fe.h>
#include <shlobj.h>

#include <QBuffer>
#include <QString>
#include <QImage>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>

#include "pg/pg_server.h"
#include "run_tool.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kHost = "stamps.office.test";
constexpr const char* kPassword = "seal-7Qx";

// libpq's folder, asked of the shell as libpq asks for it.
std::string LibpqFolder() {
    wchar_t appData[MAX_PATH] = {};
    if (::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData) != S_OK) return {};
    return QString::fromWCharArray(appData).toStdString() + "\\postgresql";
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// A 64×64 24-bit bitmap: 12,342 bytes, the size of a real stamp.
Bytes Stamp() {
    QImage image(64, 64, QImage::Format_RGB888);
    image.fill(QColor(200, 20, 20));
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return Bytes(data.begin(), data.end());
}

// One statement as the superuser on the office's database, as psql would;
// the first value, or the error.
std::string OfficeQuery(const PgServer& server, const std::string& sql, const Bytes* param = nullptr) {
    PGconn* c = PQconnectdb(server.Conninfo("postgres", "office").c_str());
    const char* values[] = {param ? reinterpret_cast<const char*>(param->data()) : nullptr};
    const int lengths[] = {param ? static_cast<int>(param->size()) : 0};
    const int formats[] = {1};
    PGresult* r = PQstatus(c) != CONNECTION_OK ? nullptr
                  : param ? PQexecParams(c, sql.c_str(), 1, nullptr, values, lengths, formats, 0)
                          : PQexec(c, sql.c_str());
    const ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    std::string value = r ? PQresultErrorMessage(r) : PQerrorMessage(c);
    if (status == PGRES_TUPLES_OK) value = PQntuples(r) > 0 ? PQgetvalue(r, 0, 0) : "";
    if (status == PGRES_COMMAND_OK) value.clear();
    PQclear(r);
    PQfinish(c);
    return value;
}

class OfficeOverTls : public ::testing::Test {
protected:
    void SetUp() override {
        if (PgServer::BinDir().empty()) GTEST_SKIP() << PgServer::NotFound();
        folder_ = LibpqFolder();
        ASSERT_FALSE(folder_.empty()) << "the shell named no application-data folder";
        for (const char* name : {"pgpass.conf", ".pg_service.conf", "root.crt"})
            if (fs::exists(File(name))) GTEST_SKIP() << "this user's own " << File(name) << " is there; not writing over it";
        madeFolder_ = fs::create_directories(folder_);
        server_ = std::make_unique<PgServer>(dir_.File("server"));
        server_->EnableTls(kHost);
        server_->Sql(std::string("CREATE ROLE clerk LOGIN PASSWORD '") + kPassword + "'");
        server_->Sql("CREATE DATABASE office OWNER clerk");
        server_->Authentication("hostssl office clerk 127.0.0.1/32 scram-sha-256\n"
                                "host all postgres 127.0.0.1/32 trust\n");
        const std::string port = std::to_string(server_->Port());
        Put(".pg_service.conf", std::string("[kaldoria]\nhost=") + kHost + "\nhostaddr=127.0.0.1\nport=" + port +
                                    "\ndbname=office\nuser=clerk\nsslmode=verify-full\n\n"
                                    "[other-name]\nhost=other.office.test\nhostaddr=127.0.0.1\nport=" + port +
                                    "\ndbname=office\nuser=clerk\nsslmode=verify-full\n");
        Put("pgpass.conf", std::string(kHost) + ":" + port + ":office:clerk:" + kPassword + "\n" +
                               "other.office.test:" + port + ":office:clerk:" + kPassword + "\n");
        fs::copy_file(dir_.File("server/ca.crt"), File("root.crt"));
        made_.push_back(File("root.crt"));
    }

    void TearDown() override {
        for (const auto& file : made_) fs::remove(file);
        if (madeFolder_) fs::remove(folder_);
    }

    std::string File(const std::string& name) const { return folder_ + "\\" + name; }
    void Put(const std::string& name, const std::string& text) {
        WriteText(File(name), text);
        made_.push_back(File(name));
    }

    TempDir dir_;
    std::string folder_;
    bool madeFolder_ = false;
    std::vector<std::string> made_;
    std::unique_ptr<PgServer> server_;
};

TEST_F(OfficeOverTls, LinkImportAndListReachTheServerOverVerifiedTls) {
    const std::string book = dir_.File("dojang.mdb");
    Outcome link = RunTool({"link", Q(book), "service=kaldoria"});
    ASSERT_EQ(link.status, 0) << link.out << link.err;

    // What the server saw: each statement that adds stamps notes its session's TLS state.
    ASSERT_EQ(OfficeQuery(*server_,
                          "CREATE TABLE seen (who text, ssl boolean, version text);"
                          "CREATE FUNCTION note_tls() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER AS $$BEGIN "
                          "INSERT INTO seen SELECT session_user, ssl, version FROM pg_stat_ssl WHERE pid = pg_backend_pid(); "
                          "RETURN NULL; END$$;"
                          "CREATE TRIGGER note_tls AFTER INSERT ON pic_list FOR EACH STATEMENT EXECUTE FUNCTION note_tls()"),
              "");
    const Bytes stamp = Stamp();
    ASSERT_EQ(stamp.size(), 12342u);
    ASSERT_EQ(OfficeQuery(*server_,
                          "INSERT INTO pic_list (pic_name, pic) SELECT format('직원%s', lpad(i::text, 4, '0')), $1 "
                          "FROM generate_series(1, 1000) AS i",
                          &stamp),
              "");
    OfficeQuery(*server_, "DELETE FROM seen");
    WriteBytes(dir_.File("seal.bmp"), stamp);
    for (const char* name : {"회사", "대표이사"}) {
        Outcome import = RunTool({"import", Q(book), QString::fromUtf8(name), Q(dir_.File("seal.bmp"))});
        ASSERT_EQ(import.status, 0) << import.out << import.err;
    }
    EXPECT_EQ(OfficeQuery(*server_, "SELECT string_agg(DISTINCT who || ' ssl=' || ssl, ', ') FROM seen"), "clerk ssl=true");
    EXPECT_NE(OfficeQuery(*server_, "SELECT min(version) FROM seen"), "");
    EXPECT_EQ(OfficeQuery(*server_, "SELECT count(*) FROM seen"), "2");

    Outcome list = RunTool({"list", Q(book)});
    ASSERT_EQ(list.status, 0) << list.err;
    std::istringstream lines(list.out);
    std::string line;
    int stamps = 0;
    while (std::getline(lines, line))
        if (line.find("\t12342 바이트\t64×64 BMP") != std::string::npos) ++stamps;
    EXPECT_EQ(stamps, 1002);
    EXPECT_EQ(OfficeQuery(*server_, "SELECT count(*) FROM pic_list WHERE length(pic) = 12342"), "1002");
    EXPECT_NE(list.out.find("도장 1002개"), std::string::npos) << list.out.substr(list.out.size() - 200);
    EXPECT_NE(list.out.find("\"대표이사\"\t12342 바이트"), std::string::npos);
}

// What a user is told when the PC's files do not let the connection through:
// each names the Windows file to put right, never ~/.pgpass or chmod.
struct Refusal {
    const char* name;
    const char* service;
    std::function<void(OfficeOverTls&)> spoil;
    std::function<std::string(OfficeOverTls&)> expected;
};

// Named in gtest's listing, not dumped as bytes.
void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class OfficeRefusals : public OfficeOverTls, public ::testing::WithParamInterface<Refusal> {
public:
    using OfficeOverTls::File;
    using OfficeOverTls::Put;
    TempDir& Dir() { return dir_; }
};

TEST_P(OfficeRefusals, NameTheWindowsFileToPutRight) {
    GetParam().spoil(*this);
    const std::string book = dir_.File("dojang.mdb");
    Outcome link = RunTool({"link", Q(book), QString("service=") + GetParam().service});
    EXPECT_EQ(link.status, 1) << link.out;
    EXPECT_NE(link.err.find(GetParam().expected(*this)), std::string::npos) << link.err;
    EXPECT_EQ(link.err.find("chmod"), std::string::npos) << link.err;
    EXPECT_EQ(link.err.find("~/"), std::string::npos) << link.err;
    EXPECT_FALSE(fs::exists(book));
}

INSTANTIATE_TEST_SUITE_P(
    Windows, OfficeRefusals,
    ::testing::Values(
        Refusal{"root_crt_of_another_authority", "kaldoria",
                [](OfficeOverTls& t) {
                    auto& r = static_cast<OfficeRefusals&>(t);
                    fs::remove(r.File("root.crt"));
                    fs::copy_file(r.Dir().File("server/stranger-ca.crt"), r.File("root.crt"));
                },
                [](OfficeOverTls& t) {
                    return "서버 인증서를 이 PC의 루트 인증서(" + static_cast<OfficeRefusals&>(t).File("root.crt") +
                           ")로 확인할 수 없습니다.";
                }},
        Refusal{"certificate_for_another_host_name", "other-name", [](OfficeOverTls&) {},
                [](OfficeOverTls&) {
                    return std::string("서버 인증서에 적힌 이름이 연결한 서버 이름(host)과 다릅니다.");
                }},
        Refusal{"no_root_crt", "kaldoria",
                [](OfficeOverTls& t) { fs::remove(static_cast<OfficeRefusals&>(t).File("root.crt")); },
                [](OfficeOverTls& t) {
                    return "루트 인증서를 " + static_cast<OfficeRefusals&>(t).File("root.crt") + "에 두십시오.";
                }},
        Refusal{"no_line_in_pgpass_conf", "kaldoria",
                [](OfficeOverTls& t) { static_cast<OfficeRefusals&>(t).Put("pgpass.conf", "# none yet\n"); },
                [](OfficeOverTls& t) {
                    return "이 사용자의 " + static_cast<OfficeRefusals&>(t).File("pgpass.conf") +
                           "에 이 서버의 줄이 없습니다. '호스트:포트:데이터베이스:사용자:암호' 한 줄을 넣으십시오.";
                }},
        Refusal{"no_service_file", "kaldoria",
                [](OfficeOverTls& t) { fs::remove(static_cast<OfficeRefusals&>(t).File(".pg_service.conf")); },
                [](OfficeOverTls& t) {
                    return "서비스 파일을 " + static_cast<OfficeRefusals&>(t).File(".pg_service.conf") + "에 두거나";
                }}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

}  // namespace
