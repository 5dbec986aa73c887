// stamp: a stamp put on a PDF document, written as a new file and recorded
// in the book's ledger.
#include "keeper/book.h"
#include "keeper/document_stamp.h"
#include "text/korean.h"
#include "tools/cli/command.h"
#include "tools/commands.h"

namespace {

bool ParseNumber(const QString& text, double& value) {
    bool ok = false;
    value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value);
}

bool ParseCount(const QString& text, int& value) {
    bool ok = false;
    value = text.trimmed().toInt(&ok);
    return ok && value >= 1;
}

}  // namespace

int RunStamp(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "NAME 도장을 PDF 문서 IN에 찍어 새 파일 OUT으로 쓰고, 데이터베이스의 날인 대장에 남깁니다.\n"
        "도장은 종이를 투명하게, 잉크만 남겨(export --transparent --crop과 같이) 쪽의 내용 위에 그림으로\n"
        "올라가고, 문서의 글자와 글꼴과 선은 그대로 남습니다. 자리는 그 쪽의 '(인)' 같은 표시 가운데이거나\n"
        "--at으로 준 자리입니다. IN은 읽기만 하고, OUT은 없는 새 파일이어야 합니다.");
    parser.addPositionalArgument("PATH", kDatabaseArgument);
    parser.addPositionalArgument("NAME", "찍을 도장의 이름");
    parser.addPositionalArgument("IN", "도장을 찍을 PDF 문서");
    parser.addPositionalArgument("OUT", "찍은 문서를 쓸 새 PDF 파일");
    const QCommandLineOption page("page", "이 쪽에 찍습니다 (1부터; 없으면 표시가 있는 마지막 쪽, --at이면 마지막 쪽).", "N");
    const QCommandLineOption on("on", "도장을 이 글자 가운데에 찍습니다 (기본: (인)).", "TEXT");
    const QCommandLineOption nth("nth", "그 쪽에 표시가 여럿이면 K번째에 찍습니다 (기본: 1).", "K");
    const QCommandLineOption at("at", "표시 대신 쪽의 왼쪽 위에서 X,Y 밀리미터 자리에 도장의 가운데를 둡니다.", "X,Y");
    const QCommandLineOption size("size", "도장(잉크)의 긴 변을 MM 밀리미터로 찍습니다 (기본: 24).", "MM");
    const QCommandLineOption purpose("purpose", "날인 대장에 남길 용도 (예: 견적서 제출).", "TEXT");
    parser.addOptions({page, on, nth, at, size, purpose});
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {4}, status)) return status;
    const QStringList args = parser.positionalArguments();
    StampRequest request;
    if (!StampNameArgument(args[1], request.name)) return exitcode::Failure;
    request.input = LocalPath(args[2]);
    request.output = LocalPath(args[3]);
    if (parser.isSet(page)) {
        int n = 0;
        if (!ParseCount(parser.value(page), n)) return ReportUsage(parser, arguments, "--page에는 1 이상의 쪽 번호를 주십시오.");
        request.place.page = n;
    }
    if (parser.isSet(at)) {
        if (parser.isSet(on) || parser.isSet(nth))
            return ReportUsage(parser, arguments, "--at과 --on/--nth는 함께 쓰지 않습니다: 자리는 둘 가운데 하나로 줍니다.");
        const QStringList xy = parser.value(at).split(u',');
        double x = 0, y = 0;
        if (xy.size() != 2 || !ParseNumber(xy[0], x) || !ParseNumber(xy[1], y))
            return ReportUsage(parser, arguments, "--at에는 밀리미터로 X,Y를 주십시오 (예: --at 150,240).");
        request.place.atMm = QPointF(x, y);
    }
    if (parser.isSet(on)) request.place.mark = parser.value(on);
    if (parser.isSet(nth) && !ParseCount(parser.value(nth), request.place.nth))
        return ReportUsage(parser, arguments, "--nth에는 1 이상의 수를 주십시오.");
    if (parser.isSet(size) && !ParseNumber(parser.value(size), request.sizeMm))
        return ReportUsage(parser, arguments, "--size에는 밀리미터로 수를 주십시오 (예: --size 24).");
    request.purpose = parser.value(purpose).toStdString();
    try {
        OpenedDatabase opened(LocalPath(args[0]), false);
        const StampResult r = StampDocument(opened.db(), request);
        const Placement& p = r.placement;
        Say(ShownName(request.name) + " → '" + request.output + "': " + std::to_string(p.page + 1) + "쪽, " +
            (p.onMark ? WithParticle("'" + request.place.mark.toStdString() + "'", Particle::IGa) + " 있는 자리" : std::string("준 자리")) +
            " (왼쪽 위에서 " + Millimetres(p.centreMm.x()) + ", " + Millimetres(p.centreMm.y()) + " mm), 도장 " + Millimetres(request.sizeMm) + " mm");
        Say("날인 대장 " + std::to_string(r.entry.id) + "번: 문서 " + std::to_string(r.inputBytes) + " → " +
            std::to_string(r.outputBytes) + " 바이트, SHA-256 " + r.entry.outputSha256);
        return exitcode::Ok;
    } catch (const Error& e) {
        return ReportError(e);
    }
}
