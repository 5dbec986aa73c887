// The Jet reader's child where the build has no libmdb (a Windows build whose
// toolchain has none): it is started, limited and read from like the real
// one, and its one frame says why nothing can be read.
#include "migration/jet_child.h"
#include "text/korean.h"

void ReadJetInChild(JetChildStream& out, const std::string& path, const JetSource&) {
    out.Fail(err::NotADatabase, WithParticle(Quoted(path), Particle::EunNeun) +
                                    " 이전 Jet 형식의 데이터베이스입니다. 이 Windows 빌드는 이전 Jet 형식 파일을 "
                                    "아직 읽을 수 없습니다. Linux의 'kaldoria-db migrate'로 변환한 파일을 쓰세요.");
}
