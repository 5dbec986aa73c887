#include "os/network_fs.h"

#include "text/korean.h"

const char* NetworkFileSystemName(long type) {
    switch (static_cast<unsigned long>(type) & 0xffffffffUL) {
    case 0x6969: return "NFS";
    case 0x517B: return "SMB";
    case 0xFF534D42: return "CIFS";
    case 0xFE534D42: return "SMB2";
    case 0x564C: return "NCP";
    case 0x73757245: return "Coda";
    case 0x5346414F:
    case 0x6B414653: return "AFS";
    case 0x01021997: return "9P";
    case 0x00C36400: return "Ceph";
    case 0x0BD00BD0: return "Lustre";
    case 0x47504653: return "GPFS";
    case 0x013111A8: return "IBRIX";
    case 0x01161970: return "GFS2";
    case 0x7461636F: return "OCFS2";
    default: return nullptr;
    }
}

Error NetworkFileSystemError(const std::string& path, const std::string& name) {
    return Error(err::CannotOpen,
                "데이터베이스 파일 " + WithParticle("'" + path + "'", Particle::IGa) + " 네트워크 파일 시스템(" + name +
                    ")에 있어 쓰기용으로 열지 않습니다. 네트워크 드라이브에서는 파일 잠금을 믿을 수 없어 여러 PC가 "
                    "함께 쓰면 데이터베이스가 손상됩니다. 여러 PC가 한 도장 목록을 함께 쓰려면 "
                    "'kaldoria-db link'로 PostgreSQL 서버에 연결하십시오. 읽기(list, export, backup)는 됩니다.");
}
