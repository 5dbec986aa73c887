#pragma once
// `kaldoria-db migrate PATH [--to NEW]`: converts an older Jet-format
// database. `arguments` starts with "kaldoria-db migrate", followed by the
// command's own arguments; returns the exit status (0 done, 1 failed, 2 usage).
#include <QStringList>

int RunMigrate(const QStringList& arguments);
