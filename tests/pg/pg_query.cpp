// What the throwaway server does through libpq, the same on every system.
#include <libpq-fe.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "pg_server.h"

std::string PgServer::Query(const std::string& sql) const {
    PGconn* c = PQconnectdb(Conninfo().c_str());
    PGresult* r = PQstatus(c) == CONNECTION_OK ? PQexec(c, sql.c_str()) : nullptr;
    const ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    std::string value, why = r ? PQresultErrorMessage(r) : PQerrorMessage(c);
    if (status == PGRES_TUPLES_OK && PQntuples(r) > 0 && !PQgetisnull(r, 0, 0)) value = PQgetvalue(r, 0, 0);
    PQclear(r);
    PQfinish(c);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) throw std::runtime_error(sql + ": " + why);
    return value;
}

void PgServer::Sql(const std::string& sql) const { Query(sql); }

void PgServer::WaitForReload(const std::string& loaded) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Query("SELECT pg_conf_load_time()") == loaded) {
        if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("the server did not reload its configuration");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
