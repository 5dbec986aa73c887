// link: makes a dojang.mdb that sends the window and the tool to a shared
// stamp book on a PostgreSQL server.
#include "engine/postgres/libpq_files.h"
#include "engine/postgres/link.h"
#include "engine/workspace/link_maker.h"
#include "engine/workspace/workspace.h"
#include "os/files.h"
#include "store/history.h"
#include "store/picture_table.h"
#include "store/office.h"
#include "store/queries.h"
#include "text/korean.h"
#include "tools/cli/command.h"
#include "tools/commands.h"

namespace {

// Makes pic_list on the server when it is missing; checks its two columns
// when it is there. Returns what was done.
std::string PreparePictureTable(Database& db) {
    const TableShape shape = db.ShapeOf("pic_list");
    if (shape == TableShape::Missing) {
        CreatePictureTable(db);
        EnableHistory(db);
        return "표 pic_list와 그 기록 pic_history를 새로 만들었습니다";
    }
    if (shape != TableShape::RowidTable)
        throw Error(err::InvalidOperation, "서버의 pic_list가 보통 표가 아닙니다 (뷰 등). 그림을 저장할 수 없습니다.");
    const std::string types = FirstText(
        db, "SELECT string_agg(attname || ' ' || format_type(atttypid, atttypmod), ', ' ORDER BY attnum) FROM pg_attribute "
            "WHERE attrelid = 'pic_list'::regclass AND attname IN ('pic_name', 'pic') AND NOT attisdropped");
    if (types.find("pic_name ") == std::string::npos || types.find("pic bytea") == std::string::npos)
        throw Error(err::ItemNotFound, "서버의 표 pic_list에 열 pic_name(text)과 pic(bytea)이 있어야 합니다. 지금 있는 열: " +
                                           (types.empty() ? std::string("없음") : types));
    return "있는 표 pic_list를 씁니다 (행 " + FirstText(db, "SELECT count(*) FROM pic_list") + "개, " +
           (HasHistory(db) ? "기록 있음)" : "기록 없음: 'kaldoria-db history PATH --enable'로 켭니다)");
}

// The rights a save needs that the role lacks, or empty.
std::string MissingRights(Database& db) {
    return FirstText(db,
                       "SELECT string_agg(p, ', ') FROM unnest(ARRAY['SELECT', 'INSERT', 'DELETE']) AS p "
                       "WHERE NOT has_table_privilege('pic_list', p)");
}

}  // namespace

int RunLink(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromStdString(
        "PATH에 연결 파일을 만듭니다: 그림 대신 PostgreSQL 서버의 연결 문자열(CONNINFO)을 담은 작은\n"
        "데이터베이스 파일로, 창과 이 도구는 이 파일을 열면 서버의 표 pic_list를 씁니다. 여러 PC가\n"
        "한 도장 목록을 함께 쓰는 방법입니다. 서버에 연결되는지, pic_list에 두 열이 있는지 먼저\n"
        "확인하고, 표가 없으면 만듭니다. 이미 있는 PATH는 덮어쓰지 않습니다.\n"
        "연결 문자열에는 암호를 넣지 않습니다: " +
        UserLibpqFiles().passwordFile +
        "나 서비스 파일(service=kaldoria)을 쓰십시오.\n"
        "예: kaldoria-db link dojang.mdb 'service=kaldoria'"));
    parser.addPositionalArgument("PATH", "만들 연결 파일 (예: dojang.mdb)");
    parser.addPositionalArgument("CONNINFO", "libpq 연결 문자열 (예: 'host=server dbname=stamps' 또는 'service=kaldoria')");
    int status = exitcode::Ok;
    if (!ParseCommandLine(parser, arguments, {2}, status)) return status;
    const std::string path = LocalPath(parser.positionalArguments()[0]);
    const std::string conninfo = parser.positionalArguments()[1].toStdString();
    try {
        RefuseTakenName(path);
        CheckLinkConnection(conninfo);
        Workspace ws = DBEngine::Instance().CreateWorkspace("", "admin", "", dbUseJet);
        Database server = ws.OpenDatabase(path, false, conninfo);
        const std::string done = PreparePictureTable(server);
        const std::string missing = MissingRights(server);
        const std::string owner = OwnerWarning(server);
        const std::string where = server.Server();
        ws.Close();
        CreateLinkFile(path, conninfo);
        Say("연결 파일 " + WithParticle("'" + path + "'", Particle::EulReul) + " 만들었습니다: 서버 " + where + ", " + done + ".");
        if (!missing.empty())
            ReportFailure("주의: 이 역할에는 pic_list의 " + missing + " 권한이 없어 저장할 수 없습니다. 관리자에게 "
                          "요청하십시오.");
        if (!owner.empty()) ReportFailure(owner);
    } catch (const Error& e) {
        return ReportError(e);
    }
    return exitcode::Ok;
}
