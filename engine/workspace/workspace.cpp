// Workspaces and the engine object: opening and making database files.
#include "engine/workspace/workspace.h"

#include <cassert>

#include "engine/engine_impl.h"
#include "engine/kinds.h"
#include "text/korean.h"

class WorkspaceImpl {
public:
    std::string name, user;
    bool closed = false;
    std::vector<std::weak_ptr<ConnectionImpl>> databases;
};

WorkspaceImpl& Workspace::ws() const {
    if (!ws_ || ws_->closed) throw Error(err::ObjectClosed, "작업 영역이 열려 있지 않습니다.");
    return *ws_;
}

const std::string& Workspace::Name() const { return ws().name; }
const std::string& Workspace::UserName() const { return ws().user; }

Database Workspace::OpenDatabase(const std::string& path, bool readOnly, const std::string& connect) {
    auto& w = ws();
    std::shared_ptr<ConnectionImpl> c;
    if (!connect.empty()) {
        c = OpenServerBook(path, connect, readOnly);
    } else {
        std::optional<std::string> link;
        c = OpenLocalBook(path, readOnly, link);
        if (link) c = OpenServerBook(path, *link, readOnly);
    }
    assert(c);
    w.databases.push_back(c);
    std::erase_if(w.databases, [](const auto& d) { return d.expired(); });
    return Database(c);
}

Database Workspace::CreateDatabase(const std::string& path) {
    auto& w = ws();
    auto c = CreateLocalBook(path);
    w.databases.push_back(c);
    return Database(c);
}

void Workspace::Close() {
    auto& w = ws();
    for (auto& weak : w.databases)
        if (auto c = weak.lock()) c->Close();
    w.databases.clear();
    w.closed = true;
}

DBEngine& DBEngine::Instance() {
    static DBEngine engine;
    return engine;
}

Workspace DBEngine::CreateWorkspace(const std::string& name, const std::string& user, const std::string& password,
                                    int type) {
    if (type != dbUseJet) throw Error(err::InvalidEngineArgument, "지원하지 않는 작업 영역 형식입니다: " + std::to_string(type));
    if (!password.empty() || user != "admin")
        throw Error(err::CannotOpen, "사용자 " + WithParticle("'" + user + "'", Particle::EuroRo) + " 로그인할 수 없습니다.");
    auto w = std::make_shared<WorkspaceImpl>();
    w->name = name;
    w->user = user;
    return Workspace(w);
}
