#include "engine/postgres/link.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "engine/kinds.h"
#include "engine/postgres/libpq_files.h"
#include "engine/postgres/pg_backend.h"
#include "text/korean.h"

namespace {

// A key of a connection string that a link file may hold, and the values it
// may take (none listed: any). The TLS keys are those that only make the
// connection stricter; the rest (hostaddr, passfile, options, sslcert, ...)
// could send the user's password or certificate elsewhere, or change the
// session under the program, so they belong in the administrator's own
// service file instead.
struct AllowedKey {
    const char* key;
    std::vector<const char*> values;
};

const std::vector<AllowedKey>& AllowedKeys() {
    static const std::vector<AllowedKey> keys = {
        {"host", {}},
        {"port", {}},
        {"dbname", {}},
        {"user", {}},
        {"service", {}},
        {"connect_timeout", {}},
        {"application_name", {}},
        {"sslmode", {"prefer", "require", "verify-ca", "verify-full"}},
        {"sslrootcert", {}},
        {"sslcrl", {}},
        {"sslcrldir", {}},
        {"ssl_min_protocol_version", {"TLSv1.2", "TLSv1.3"}},
        {"channel_binding", {"prefer", "require"}},
        {"requirepeer", {}},
        {"require_auth", {}},
    };
    return keys;
}

// The TLS settings whose values are ordered from weaker to stricter.
struct OrderedKey {
    const char* key;
    std::vector<const char*> weakestFirst;
};

const std::vector<OrderedKey>& OrderedKeys() {
    static const std::vector<OrderedKey> keys = {
        {"sslmode", {"disable", "allow", "prefer", "require", "verify-ca", "verify-full"}},
        {"ssl_min_protocol_version", {"TLSv1", "TLSv1.1", "TLSv1.2", "TLSv1.3"}},
        {"channel_binding", {"disable", "prefer", "require"}},
    };
    return keys;
}

int Rank(const OrderedKey& k, const std::string& value) {
    const auto at = std::find_if(k.weakestFirst.begin(), k.weakestFirst.end(), [&](const char* v) { return value == v; });
    return at == k.weakestFirst.end() ? -1 : static_cast<int>(at - k.weakestFirst.begin());
}

// A value as a connection string writes it: in single quotes, with its
// quotes and backslashes escaped.
std::string Quoted(const std::string& value) {
    std::string q = "'";
    for (char c : value) {
        if (c == '\'' || c == '\\') q += '\\';
        q += c;
    }
    return q + "'";
}

std::string AllowedList() {
    std::string list;
    for (const auto& k : AllowedKeys()) list += (list.empty() ? "" : ", ") + std::string(k.key);
    return list;
}

}  // namespace

void CheckLinkConnection(const std::string& conninfo) {
    char* rawMessage = nullptr;
    const PgConninfo options(PQconninfoParse(conninfo.c_str(), &rawMessage));
    const PgMemory<char> message(rawMessage);
    if (!options) {
        std::string why = message ? message.get() : "메모리가 모자랍니다";
        while (!why.empty() && why.back() == '\n') why.pop_back();
        throw Error(err::InvalidEngineArgument, "연결 문자열을 읽을 수 없습니다: " + why);
    }
    std::vector<std::pair<std::string, std::string>> given;
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o)
        if (o->val) given.emplace_back(o->keyword, o->val);
    for (const auto& setting : given) {
        // Named copies, not structured bindings: lambdas below capture them.
        const std::string& key = setting.first;
        const std::string& value = setting.second;
        if (key == "password") {
            if (value.empty()) continue;
            throw Error(err::InvalidEngineArgument,
                        "연결 문자열에 암호가 들어 있습니다. 암호는 연결 파일에 두지 않습니다: 각 사용자의 " +
                            UserLibpqFiles().passwordFile +
                            "나 연결 서비스 파일(pg_service.conf)에 두고, 연결 문자열에서는 빼십시오.");
        }
        const auto& allowed = AllowedKeys();
        auto known = std::find_if(allowed.begin(), allowed.end(), [&](const AllowedKey& k) { return key == k.key; });
        if (known == allowed.end())
            throw Error(err::InvalidEngineArgument,
                        "연결 문자열의 설정 " + WithParticle("'" + key + "'", Particle::EunNeun) + " 연결 파일에 둘 수 없습니다. 연결 파일에는 " + AllowedList() +
                            "만 둡니다. 다른 설정이 필요하면 관리자의 서비스 파일(pg_service.conf)에 두고 service=로 "
                            "부르십시오.");
        if (!known->values.empty() &&
            std::find_if(known->values.begin(), known->values.end(), [&](const char* v) { return value == v; }) ==
                known->values.end()) {
            std::string values;
            for (const char* v : known->values) values += (values.empty() ? "" : ", ") + std::string(v);
            throw Error(err::InvalidEngineArgument, "연결 문자열의 " + WithParticle("'" + key + "=" + value + "'", Particle::EunNeun) + " 연결을 덜 안전하게 "
                                                    "하므로 연결 파일에 둘 수 없습니다. " + key + "에는 " + values +
                                                    " 중 하나만 둡니다.");
        }
    }
}

std::shared_ptr<ConnectionImpl> OpenServerBook(const std::string& name, const std::string& conninfo, bool readOnly) {
    CheckLinkConnection(conninfo);
    auto server = std::make_shared<PgConnection>(name, StricterThanService(conninfo), readOnly);
    server->RequireTextColumn(kLinkedTable, kLinkedNameColumn);
    return server;
}

std::string StricterThanService(const std::string& conninfo) {
    const PgConninfo given(PQconninfoParse(conninfo.c_str(), nullptr));
    if (!given) return conninfo;
    std::string service;
    std::vector<std::pair<std::string, std::string>> settings;
    for (const PQconninfoOption* o = given.get(); o->keyword; ++o) {
        if (!o->val) continue;
        settings.emplace_back(o->keyword, o->val);
        if (std::string(o->keyword) == "service") service = o->val;
    }
    const bool anyOrdered = std::any_of(settings.begin(), settings.end(), [](const auto& s) {
        return std::any_of(OrderedKeys().begin(), OrderedKeys().end(), [&](const OrderedKey& k) { return s.first == k.key; });
    });
    if (service.empty() || !anyOrdered) return conninfo;
    // What the service stanza gives, as libpq reads it: a connection object
    // for the service alone, dropped before it reaches the server.
    PGconn* probe = PQconnectStart(("service=" + Quoted(service)).c_str());
    if (!probe) return conninfo;
    const PgConninfo fromService(PQconninfo(probe));
    PQfinish(probe);
    if (!fromService) return conninfo;
    std::string kept;
    for (const auto& [key, value] : settings) {
        bool weaker = false;
        for (const auto& ordered : OrderedKeys()) {
            if (key != ordered.key) continue;
            for (const PQconninfoOption* o = fromService.get(); o->keyword; ++o)
                if (key == o->keyword && o->val && Rank(ordered, value) < Rank(ordered, o->val)) weaker = true;
        }
        if (weaker) continue;
        kept += (kept.empty() ? "" : " ") + key + "=" + Quoted(value);
    }
    return kept;
}
