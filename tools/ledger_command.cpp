// ledger: the book's ledger of stamped documents, as lines or as CSV.
#include "keeper/book.h"
#include "keeper/document_stamp.h"
#include "keeper/history_text.h"
#include "store/ledger.h"
#include "text/korean.h"
#include "tools/cli/command.h"
#include "tools/commands.h"

namespace {

const char* const kCsvHeader = "\xEF\xBB\xBF번호,시각,찍은 사람,도장,문서,쪽,가로(mm),세로(mm),크기(mm),용도,도장 SHA-256,문서 SHA-256";

// A CSV field: quoted, quotes doubled; a field a spreadsheet would take
// for a formula starts with an apostrophe, so opening the file runs nothing.
std::string CsvField(const std::string& text) {
    std::string field = text;
    if (!field.empty() && std::string("=+-@\t\r").find(field.front()) != std::string::npos) field.insert(0, "'");
    std::string quoted = "\"";
    for (char c : field) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

}  // namespace

int RunLedger(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "날인 대장을 보여 줍니다: 도장을 문서에 찍을 때마다(kaldoria-db stamp, 도장 관리의 '문서에 찍기')\n"
        "남은 행의 번호, 시각(이 PC의 시간), 찍은 사람(서버에서는 역할@PC 주소), 도장, 문서와 쪽과 자리,\n"
        "용도, 쓴 도장 그림과 찍은 문서의 SHA-256. NAME을 주면 그 도장의 행만 보여 줍니다.");
    parser.addPositionalArgument("PATH", kDatabaseArgument);
    parser.addPositionalArgument("NAME", "이 도장의 행만", "[NAME]");
    const QCommandLineOption since("since", "이 날짜나 시각(이 PC의 시간, 예: 2026-12-01)부터의 행만 보여 줍니다.", "DATE");
    const QCommandLineOption csv("csv", "스프레드시트에서 열 수 있는 CSV(UTF-8, BOM 포함)로 씁니다.");
    parser.addOptions({since, csv});
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {1, 2}, status)) return status;
    const QStringList args = parser.positionalArguments();
    const std::string path = LocalPath(args[0]);
    std::optional<std::string> name, sinceUtc;
    if (args.size() == 2 && !StampNameArgument(args[1], name.emplace())) return exitcode::Failure;
    if (parser.isSet(since)) {
        sinceUtc = UtcOfLocal(parser.value(since).toStdString());
        if (!sinceUtc)
            return ReportUsage(parser, arguments, "--since " + WithParticle("'" + parser.value(since).toStdString() + "'", Particle::EunNeun) +
                                                      " 날짜가 아닙니다. 2026-12-01이나 '2026-12-01 09:00'처럼 주십시오.");
    }
    try {
        OpenedDatabase opened(path, true);
        Database& db = opened.db();
        if (!HasLedger(db)) {
            if (parser.isSet(csv)) Say(kCsvHeader);
            else Say("'" + path + "'에는 아직 날인 대장이 없습니다: 도장을 문서에 찍으면(kaldoria-db stamp) 생깁니다.");
            return exitcode::Ok;
        }
        if (!CanReadLedger(db))
            return ReportFailure("이 연결의 역할은 날인 대장(pic_ledger)을 읽을 수 없습니다. 관리자에게 "
                                 "'kaldoria-db office-setup'으로 직원 역할에 읽을 권한을 달라고 하십시오.");
        const std::vector<LedgerEntry> rows = ListLedger(db, name, sinceUtc);
        if (parser.isSet(csv)) {
            Say(kCsvHeader);
            for (const LedgerEntry& e : rows)
                Say(std::to_string(e.id) + "," + CsvField(LocalTimeOf(e.stampedAtUtc)) + "," + CsvField(StampedBy(e)) + "," +
                    CsvField(e.name) + "," + CsvField(e.document) + "," + std::to_string(e.page) + "," + Millimetres(e.xMm) + "," +
                    Millimetres(e.yMm) + "," + Millimetres(e.sizeMm) + "," + CsvField(e.purpose) + "," + e.pictureSha256 + "," + e.outputSha256);
            return exitcode::Ok;
        }
        for (const LedgerEntry& e : rows)
            Say(std::to_string(e.id) + "\t" + LocalTimeOf(e.stampedAtUtc) + "\t" + StampedBy(e) + "\t" + ShownName(e.name) + "\t'" +
                e.document + "' " + std::to_string(e.page) + "쪽 (" + Millimetres(e.xMm) + ", " + Millimetres(e.yMm) + " mm) " + Millimetres(e.sizeMm) + " mm\t" +
                (e.purpose.empty() ? std::string("-") : e.purpose) + "\t도장 " + e.pictureSha256.substr(0, 12) + "… 문서 " +
                e.outputSha256.substr(0, 12) + "…");
        Say("날인 " + std::to_string(rows.size()) + "건");
        return exitcode::Ok;
    } catch (const Error& e) {
        return ReportError(e);
    }
}
