#pragma once
// Carries every row of a local picture database (SQLite, or an older Jet
// file) up to the shared stamp book that a link file names, in one
// transaction on the server, and compares what the server then holds with
// what was read (count, names, sizes, SHA-256) before it commits. The source
// is only read.
#include <string>

#include "migration/jet_migrate.h"

// Refuses a `linked` file that is no link, and a server whose pic_list holds
// rows already (the carried rows would mix with them). Raises Error on any
// failure; the server then holds what it held before.
MigrationResult MigrateToServer(const std::string& path, const std::string& linked, const JetLimits& limits = {});

