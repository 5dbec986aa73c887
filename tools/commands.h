#pragma once
// The commands of kaldoria-db; each takes the arguments described in
// command.h and returns its exit status.
#include <QStringList>

int RunCreate(const QStringList& arguments);
int RunList(const QStringList& arguments);
int RunCheck(const QStringList& arguments);
int RunImport(const QStringList& arguments);
int RunExport(const QStringList& arguments);
int RunLink(const QStringList& arguments);
int RunBackup(const QStringList& arguments);
int RunMigrate(const QStringList& arguments);
int RunDelete(const QStringList& arguments);
int RunRename(const QStringList& arguments);
int RunHistory(const QStringList& arguments);
int RunRestore(const QStringList& arguments);
int RunPrune(const QStringList& arguments);
int RunOfficeSetup(const QStringList& arguments);
int RunStamp(const QStringList& arguments);
int RunLedger(const QStringList& arguments);
