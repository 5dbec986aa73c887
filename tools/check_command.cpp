// check: the engine's integrity check and every stored picture, read only.
#include <memory>
#include <vector>

#include "engine/sqlite/interrupted_write.h"
#include "os/file_kind.h"
#include "store/office.h"
#include "tools/cli/command.h"
#include "keeper/book_check.h"
#include "store/ledger.h"
#include "tools/check_history.h"
#include "tools/commands.h"

namespace {

std::string RowLabel(long row, const Variant& name) { return std::to_string(row) + "번째 행 " + ShownName(name); }

}  // namespace

int RunCheck(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "데이터베이스 엔진의 무결성 검사(PRAGMA integrity_check)를 하고, 저장된 모든 값이\n"
        "읽을 수 있는 그림인지 확인합니다. 기록(pic_history)이 있으면 그 트리거와 보관된 버전도\n"
        "모두 검사합니다. 파일은 읽기만 합니다. 다만 저장하던 프로그램이 중간에\n"
        "끝나 저널이 남았으면, 먼저 그 저장을 되돌리고 그렇게 했다고 알립니다.\n\n"
        "종료 상태: 0 이상 없음, 1 검사할 수 없음 (파일이 없거나 표가 없는 등),\n"
        "2 잘못된 명령줄, 3 데이터베이스 파일이 손상됨, 4 그림이 아닌 값이 있음.");
    parser.addPositionalArgument("PATH", kDatabaseArgument);
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {1}, status)) return status;
    const std::string path = LocalPath(parser.positionalArguments()[0]);
    try {
        std::unique_ptr<OpenedDatabase> opened;
        try {
            if (RollBackInterruptedWrite(path)) Say(kRolledBack);
            opened = std::make_unique<OpenedDatabase>(path, true);
        } catch (const Error& e) {
            if (e.Number() != err::NotADatabase || SniffDatabaseFile(path) != DatabaseKind::SQLite) throw;
            Say("무결성 검사: 손상됨 - " + std::string(e.what()));
            return exitcode::IntegrityFailure;
        }
        Database& db = opened->db();

        const std::vector<std::string> problems = db.CheckIntegrity();
        if (problems != std::vector<std::string>{"ok"}) {
            Say("무결성 검사: 손상됨");
            for (const auto& p : problems) Say("  " + p);
            return exitcode::IntegrityFailure;
        }
        Say("무결성 검사: 이상 없음");
        if (const std::string owner = OwnerWarning(db); !owner.empty()) ReportFailure(owner);

        const PictureCheck check = CheckPictures(db);
        for (const UnreadableRow& row : check.unreadable) Say("  " + RowLabel(row.row, row.name) + ": " + row.problem);
        const long rows = check.rows, unreadable = check.Unreadable(), unchecked = check.Unchecked();
        int pictures = exitcode::Ok;
        if (unreadable) {
            Say("그림 검사: " + std::to_string(rows) + "개 가운데 " + std::to_string(unreadable) +
                "개는 읽을 수 있는 그림이 아닙니다" +
                (unchecked ? ", " + std::to_string(unchecked) + "개는 메모리가 부족해 검사하지 못했습니다" : std::string()));
            pictures = exitcode::UnreadablePictures;
        } else if (unchecked) {
            // Not a finding about the file: the check could not be finished.
            Say("그림 검사: " + std::to_string(rows) + "개 가운데 " + std::to_string(unchecked) +
                "개는 메모리가 부족해 검사하지 못했습니다");
            pictures = ReportFailure("메모리가 부족해 그림 " + std::to_string(unchecked) +
                                     "개를 검사하지 못했습니다. 메모리를 더 쓸 수 있을 때 다시 검사하십시오.");
        } else {
            Say("그림 검사: " + std::to_string(rows) + "개 모두 읽을 수 있습니다");
        }
        const int history = CheckHistory(db, path);
        int ledger = exitcode::Ok;
        if (CanReadLedger(db)) {
            const LedgerCheck read = CheckLedger(db);
            for (const std::string& fault : read.faults) ReportFailure("날인 대장: " + fault);
            Say("날인 대장: " + std::to_string(read.rows) + "건" +
                (read.faults.empty() ? ", 이상 없음" : ", 문제 " + std::to_string(read.faults.size()) + "개"));
            if (!read.faults.empty()) ledger = exitcode::Failure;
        }
        for (int worst : {exitcode::UnreadablePictures, exitcode::Failure})
            if (pictures == worst || history == worst || ledger == worst) return worst;
        return exitcode::Ok;
    } catch (const Error& e) {
        return ReportError(e);
    }
}
