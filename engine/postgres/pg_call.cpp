#include "engine/postgres/pg_call.h"

#include <cstdlib>
#include <cstring>

#include "os/byte_order.h"
#include "text/korean.h"
#include "engine/postgres/libpq_files.h"

namespace {

std::string ErrorField(const PGresult* r, int code) {
    const char* v = r ? PQresultErrorField(r, code) : nullptr;
    return v ? v : "";
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

int NumberForState(const std::string& state) {
    if (state == "42P01") return err::TableNotFound;
    if (state == "42703") return err::ItemNotFound;
    if (state == "42501") return err::NoPermission;
    if (state == "53100") return err::DiskFullEngine;
    if (state == "54000") return err::ValueTooLarge;
    if (state == "25006") return err::ReadOnly;
    if (state == "40001" || state == "40P01" || state == "55P03") return err::Locked;
    if (state == "23505") return err::DuplicateKey;
    if (state.starts_with("08") || state.starts_with("57P")) return err::DiskOrNetwork;
    return err::Engine;
}

}  // namespace

std::string ServerName(PGconn* conn) {
    if (!conn) return "?";
    const char* host = PQhost(conn);
    const char* port = PQport(conn);
    const char* db = PQdb(conn);
    return std::string(host && *host ? host : "localhost") + ":" + (port && *port ? port : "5432") + "/" +
           (db ? db : "");
}

Error PgError(PGconn* conn, const PGresult* result, const std::string& context, const std::string& right,
              const std::string& statement) {
    const std::string server = ServerName(conn);
    std::string message = Trimmed(result ? PQresultErrorMessage(result) : "");
    if (message.empty() && conn) message = Trimmed(PQerrorMessage(conn));
    if (!conn || PQstatus(conn) != CONNECTION_OK)
        return Error(err::DiskOrNetwork, context + ": 서버 " + server +
                                             "에 대한 연결이 끊겼습니다. 하던 작업은 서버에서 취소되었고, 다음 "
                                             "명령에서 다시 연결합니다 (" + message + ").");
    const std::string state = ErrorField(result, PG_DIAG_SQLSTATE);
    const int number = NumberForState(state);
    EngineCause cause{0, state, statement};
    // A wait for a lock that another PC holds gave up (lock_timeout): the
    // transaction it was part of is undone whole by its caller.
    if (state == "55P03")
        return Error(number, context + ": 다른 PC가 서버 " + server + "의 도장 목록을 쓰고 있어 몇 초 기다렸지만 끝나지 "
                                       "않았습니다. 아무것도 바뀌지 않았습니다. 잠시 뒤 다시 하십시오 (" + message + ").",
                     cause);
    if (state == "57014")
        return Error(number, context + ": 서버 " + server + "가 이 명령을 제한 시간(statement_timeout) 안에 끝내지 못해 "
                                       "취소했습니다. 아무것도 바뀌지 않았습니다. 다시 해도 같으면 관리자에게 이 역할의 "
                                       "statement_timeout을 늘려 달라고 하십시오 (" + message + ").",
                     cause);
    if (state.starts_with("57P"))
        return Error(number, context + ": 서버 " + server + "가 다시 시작하는 중이라 이 작업은 취소되었습니다. 1분쯤 뒤 "
                                       "다시 하십시오 (" + message + ").",
                     cause);
    if (state == "22021" || state == "22P05") {
        const char* encoding = PQparameterStatus(conn, "server_encoding");
        return Error(number, context + ": 서버 " + server + "의 데이터베이스 인코딩(" + (encoding ? encoding : "?") +
                                 ")에 없는 글자가 이름에 있어 저장할 수 없습니다. 다른 이름을 쓰거나, 관리자에게 UTF8 "
                                 "데이터베이스로 옮겨 달라고 하십시오 (" + message + ").",
                     cause);
    }
    if (number == err::NoPermission && message.find("must be owner of") != std::string::npos) {
        const char* user = PQuser(conn);
        return Error(number, context + ": 서버 " + server + "에서 이 일은 그 표나 함수의 주인만 할 수 있는데, 역할 '" +
                                 (user ? user : "") + "'은 주인이 아닙니다. 주인(관리자)의 역할로 하십시오 (" +
                                 message + ").",
                     cause);
    }
    if (number == err::NoPermission) {
        const char* user = PQuser(conn);
        const std::string what = right.empty() ? "필요한" : right;
        return Error(number, context + ": 서버 " + server + "에서 역할 '" + (user ? user : "") + "'에게 " + what +
                                 " 권한이 없습니다. 관리자에게 이 권한을 요청하십시오 (" + message + ").",
                     cause);
    }
    return Error(number, context + ": " + message, cause);
}

Error PgInDoubt(PGconn* conn, const std::string& context) {
    const std::string message = conn ? Trimmed(PQerrorMessage(conn)) : std::string();
    return Error(err::DiskOrNetwork, context + ": 서버 " + ServerName(conn) +
                                         "에 대한 연결이 확정하는 도중에 끊겨, 이 작업이 서버에 저장되었는지 알 수 "
                                         "없습니다. 'kaldoria-db list'로 그 이름의 행이 있는지(그림 크기까지) 확인하고, "
                                         "없거나 다르면 다시 저장하십시오 (" + message + ").");
}

PgParam PgParam::Of(const Variant& v) {
    if (IsNull(v)) return {};
    if (auto b = std::get_if<Bytes>(&v)) return {Binary, std::string(b->begin(), b->end())};
    return {Text, TextOf(v)};
}

std::vector<PgParam> PgParams(const Params& values) {
    std::vector<PgParam> params;
    params.reserve(values.size());
    for (const auto& v : values) params.push_back(PgParam::Of(v));
    return params;
}

PgParamArrays::PgParamArrays(const std::vector<PgParam>& params) {
    for (const auto& p : params) {
        values.push_back(p.kind == PgParam::Null ? nullptr : p.bytes.data());
        lengths.push_back(static_cast<int>(p.bytes.size()));
        formats.push_back(p.kind == PgParam::Binary ? 1 : 0);
    }
}

PgResult PgExec(PGconn* conn, const std::string& sql, const std::vector<PgParam>& params, bool binary,
                ExecStatusType expected, const std::string& context, const std::string& right) {
    const PgParamArrays a(params);
    PgResult r(PQexecParams(conn, sql.c_str(), a.Count(), nullptr, a.values.data(), a.lengths.data(), a.formats.data(),
                            binary ? 1 : 0));
    if (!r || PQresultStatus(r.get()) != expected) throw PgError(conn, r.get(), context, right, sql);
    return r;
}

Variant PgTextValue(const PGresult* r, int row, int col, Oid type) {
    if (PQgetisnull(r, row, col)) return {};
    const char* text = PQgetvalue(r, row, col);
    switch (type) {
    case pgtype::Int2:
    case pgtype::Int4:
    case pgtype::Int8:
    case pgtype::Oid_: return std::strtoll(text, nullptr, 10);
    case pgtype::Float4:
    case pgtype::Float8:
    case pgtype::Numeric: return std::strtod(text, nullptr);
    case pgtype::Bool: return static_cast<long long>(text[0] == 't');
    case pgtype::Bytea: {
        std::size_t n = 0;
        const PgMemory<unsigned char> raw(PQunescapeBytea(reinterpret_cast<const unsigned char*>(text), &n));
        if (!raw) throw Error(err::Engine, "서버가 보낸 값을 읽을 수 없습니다.");
        return Bytes(raw.get(), raw.get() + n);
    }
    default: return std::string(text, static_cast<std::size_t>(PQgetlength(r, row, col)));
    }
}

bool PgReadsBinary(Oid type) {
    switch (type) {
    case pgtype::Bool:
    case pgtype::Bytea:
    case pgtype::Name:
    case pgtype::Int8:
    case pgtype::Int2:
    case pgtype::Int4:
    case pgtype::Text:
    case pgtype::Oid_:
    case pgtype::Float4:
    case pgtype::Float8:
    case pgtype::Bpchar:
    case pgtype::Varchar: return true;
    default: return false;
    }
}


Variant PgBinaryValue(const PGresult* r, int row, int col, Oid type) {
    if (PQgetisnull(r, row, col)) return {};
    const char* p = PQgetvalue(r, row, col);
    const int n = PQgetlength(r, row, col);
    auto need = [&](int size) {
        if (n != size) throw Error(err::Engine, "서버가 보낸 값을 읽을 수 없습니다 (길이 " + std::to_string(n) + ").");
    };
    switch (type) {
    case pgtype::Bool: need(1); return static_cast<long long>(p[0] != 0);
    case pgtype::Int2: need(2); return static_cast<long long>(static_cast<std::int16_t>(LoadBig<std::uint16_t>(p)));
    case pgtype::Int4: need(4); return static_cast<long long>(static_cast<std::int32_t>(LoadBig<std::uint32_t>(p)));
    case pgtype::Oid_: need(4); return static_cast<long long>(LoadBig<std::uint32_t>(p));
    case pgtype::Int8: need(8); return static_cast<long long>(LoadBig<std::uint64_t>(p));
    case pgtype::Float4: {
        need(4);
        const auto bits = static_cast<std::uint32_t>(LoadBig<std::uint32_t>(p));
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return static_cast<double>(f);
    }
    case pgtype::Float8: {
        need(8);
        const auto bits = LoadBig<std::uint64_t>(p);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    case pgtype::Bytea: return Bytes(reinterpret_cast<const std::uint8_t*>(p), reinterpret_cast<const std::uint8_t*>(p) + n);
    default: return std::string(p, static_cast<std::size_t>(n));
    }
}

// The setting `key` of a connection string, or empty.
std::string ConninfoValue(const std::string& conninfo, const char* key) {
    const PgConninfo options(PQconninfoParse(conninfo.c_str(), nullptr));
    std::string value;
    for (const PQconninfoOption* o = options.get(); o && o->keyword; ++o)
        if (std::strcmp(o->keyword, key) == 0 && o->val) value = o->val;
    return value;
}

// What to do about a connection that libpq could not make, in a sentence.
std::string WhatToDo(const std::string& libpq) {
    auto has = [&](const char* part) { return libpq.find(part) != std::string::npos; };
    const LibpqUserFiles files = UserLibpqFiles();
    // The certificate checks first: libpq's words for them contain "does
    // not exist" and "SSL", which the later sentences would take.
    if (has("root certificate file") && has("does not exist"))
        return "서버 인증서를 확인할 루트 인증서가 이 PC에 없습니다. 관리자가 준 서버의 루트 인증서를 " +
               files.rootCertificate + "에 두십시오.";
    if (has("does not match host name"))
        return "서버 인증서에 적힌 이름이 연결한 서버 이름(host)과 다릅니다. 연결 파일이나 서비스 파일의 host를 서버 "
               "인증서에 적힌 이름으로 고치십시오.";
    if (has("certificate verify failed"))
        return "서버 인증서를 이 PC의 루트 인증서(" + files.rootCertificate + ")로 확인할 수 없습니다. 관리자가 준 "
               "그 서버의 루트 인증서가 맞는지 확인하십시오.";
    if (has("definition of service") || has("service file")) {
        if (std::string problem = HandSavedFileProblem(files.serviceFile, "연결 서비스 파일"); !problem.empty())
            return problem;
        return "연결 서비스의 정의를 찾을 수 없습니다. 관리자가 준 서비스 파일을 " + files.serviceFile + "에 두거나 "
               "PGSERVICEFILE 환경 변수로 알려 주십시오.";
    }
    if (has("no password supplied")) {
        const std::string ignored = IgnoredPasswordFile();
        if (!ignored.empty())
            return "암호 파일 " + WithParticle(ignored, Particle::EulReul) + " 다른 사용자도 읽을 수 있어 쓰지 않았습니다. 'chmod 600 " + ignored +
                   "'으로 권한을 줄인 뒤 다시 하십시오.";
        const std::string& file = files.passwordFile;
        if (std::string problem = HandSavedFileProblem(file, "암호 파일"); !problem.empty()) return problem;
        return "서버가 암호를 요구하는데 이 사용자의 " + file + "에 이 서버의 줄이 없습니다. "
               "'호스트:포트:데이터베이스:사용자:암호' 한 줄을 넣" +
               (files.passwordFileMustBePrivate ? "고 'chmod 600 " + file + "' 하십시오." : std::string("으십시오."));
    }
    if (has("password authentication failed"))
        return "서버가 암호를 받아들이지 않았습니다. " + files.passwordFile + "에 있는 이 서버의 암호를 관리자에게 "
               "확인하십시오.";
    if (has("no pg_hba.conf entry"))
        return "서버가 이 PC에서의 접속을 허용하지 않습니다. 관리자가 서버의 pg_hba.conf에 이 PC의 네트워크를 넣어야 합니다.";
    if (has("Peer authentication failed") || has("Ident authentication failed"))
        return "서버가 이 사용자를 운영 체제 계정으로 확인하지 못했습니다 (peer 인증). 연결 파일의 user를 확인하거나, "
               "관리자에게 암호(scram-sha-256) 인증을 켜 달라고 하십시오.";
    // A server starting, stopping or recovering takes no connection for a
    // minute or so: nothing for the administrator to do.
    if (has("starting up") || has("shutting down") || has("in recovery mode") || has("not yet accepting connections"))
        return "서버가 다시 시작하는 중이라 지금은 연결을 받지 않습니다. 1분쯤 뒤 다시 하십시오.";
    if (has("does not exist"))
        return "연결 파일의 데이터베이스(dbname)나 사용자(user)가 서버에 없습니다. 관리자에게 이름을 확인하십시오.";
    if (has("could not translate host name"))
        return "서버의 이름을 찾을 수 없습니다. 연결 파일의 host와 이 PC의 네트워크를 확인하십시오.";
    if (has("timeout expired") || has("timed out"))
        return "서버가 제때 응답하지 않습니다. 네트워크와 방화벽을 확인하고 잠시 뒤 다시 하십시오.";
    if (has("Connection refused") || has("No such file or directory") || has("could not connect"))
        return "서버가 꺼져 있거나 주소나 포트가 틀렸습니다. 서버가 켜져 있는지 관리자에게 확인하십시오.";
    if (has("SSL") || has("certificate"))
        return "서버와의 암호화된 연결(TLS)을 확인하지 못했습니다. 관리자에게 서버 인증서를 확인하십시오.";
    return "관리자에게 서버와 연결 파일을 확인해 달라고 하십시오.";
}
