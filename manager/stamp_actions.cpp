// What 도장 관리 does to a stamp and to the book: add or replace, rename,
// delete, history, document, backup and check, each off the interface thread.
#include "manager/manager_window.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QStatusBar>

#include "desktop/messagebox.h"
#include "keeper/backup.h"
#include "keeper/book.h"
#include "keeper/book_check.h"
#include "keeper/picture_import.h"
#include "manager/book_reader.h"
#include "manager/document_dialog.h"
#include "manager/ledger_dialog.h"
#include "manager/stamp_dialog.h"
#include "manager/history_dialog.h"
#include "manager/jobs.h"
#include "os/files.h"
#include "store/history.h"
#include "store/keeper.h"
#include "store/names.h"
#include "store/save.h"
#include "text/korean.h"

namespace {

// The save's messages, kept to be told after the work is done.
class HeldMessages : public MessageBox {
public:
    void MsgBox(const std::string& prompt, int) override { said += (said.empty() ? "" : "\n") + prompt; }
    std::string said;
};

QString Quoted(const QString& name) { return "\"" + name + "\""; }

std::string Particled(const QString& name, Particle particle) {
    return WithParticle(ShownName(name.toStdString()), particle);
}

}  // namespace

void ManagerWindow::AddFiles(const QStringList& files) {
    QString added;
    for (const QString& file : files)
        if (const QString name = AddFile(file); !name.isEmpty()) added = name;
    if (files.isEmpty()) return;
    // The stamp just stored is the one the clerk looks at next.
    if (!added.isEmpty())
        connect(this, &ManagerWindow::Loaded, this, [this, added] { Select(added); }, Qt::SingleShotConnection);
    Reload();
}

QString ManagerWindow::AddFile(const QString& file) {
    const QString named = ask_.nameFor(this, QFileInfo(file).completeBaseName());
    if (named.isEmpty()) return {};
    const std::string name = named.toStdString();
    if (IsBlankName(name)) {
        Tell("이름을 입력해 주십시요.");
        return {};
    }
    // Read first, off the interface thread: the file as import takes it,
    // and the stored stamp of that name for the question.
    struct Prepared {
        std::shared_ptr<ImportSource> source;
        QImage incoming, stored;
        bool exists = false, keeps = false;
        std::string storedProblem;
    };
    auto prepared = std::make_shared<Prepared>();
    const std::string path = path_;
    std::string failure = RunAndWait(this, "그림을 읽는 중…", [path, file, name, prepared](JobControl&) {
        prepared->source = std::make_shared<ImportSource>(PrepareImport(file.toStdString()));
        prepared->incoming = QImage(QString::fromStdString(prepared->source->path));
        OpenedDatabase book(path, true);
        Recordset rs = book.db().OpenRecordset("SELECT * FROM pic_list " + NameCondition(name), dbOpenSnapshot, dbReadOnly);
        prepared->exists = !rs.EOF_();
        rs.Close();
        if (prepared->exists) prepared->stored = ReadStampPicture(book.db(), name, &prepared->storedProblem);
        prepared->keeps = HistoryKeeps(book.db());
    });
    if (!failure.empty()) {
        Tell(failure);
        return {};
    }
    const QString incomingFacts = QString("%1×%2 %3, %4 바이트")
                                      .arg(prepared->incoming.width())
                                      .arg(prepared->incoming.height())
                                      .arg(QString(prepared->source->format.toUpper()))
                                      .arg(prepared->source->bytes);
    if (prepared->exists) {
        const QString storedFacts =
            prepared->stored.isNull() ? QString::fromStdString(prepared->storedProblem)
                                      : QString("%1×%2").arg(prepared->stored.width()).arg(prepared->stored.height());
        if (!ask_.replace(this, named, prepared->stored, storedFacts, prepared->incoming, incomingFacts, prepared->keeps))
            return {};
    }
    auto held = std::make_shared<HeldMessages>();
    auto stored = std::make_shared<bool>(false);
    failure = RunAndWait(this, "저장하는 중…", [path, name, prepared, held, stored](JobControl&) {
        OpenedDatabase book(path, false);
        LocalFileSystem files;
        *stored = StorePicture(book.db(), name, prepared->source->path, files, *held);
    });
    if (!failure.empty() || !*stored) {
        Tell(failure.empty() ? (held->said.empty() ? "저장에 실패했습니다." : held->said) : failure);
        return {};
    }
    statusBar()->showMessage(QString::fromStdString(Particled(named, Particle::EuroRo)) + " 저장했습니다 (" +
                                 incomingFacts + ").", 5000);
    return named;
}

void ManagerWindow::RenameSelected() {
    const QString from = Selected();
    if (from.isEmpty()) return;
    const QString to = ask_.newName(this, from);
    if (to.isEmpty() || to == from) return;
    if (IsBlankName(to.toStdString())) return Tell("이름을 입력해 주십시요.");
    bool replace = false;
    if (model_->RowOf(to.toStdString()) >= 0) {
        if (!ask_.confirm(this, Quoted(to) + " 도장이 이미 있습니다. 그 도장을 기록에 남기고 " +
                                    QString::fromStdString(Particled(from, Particle::EulReul)) + " " +
                                    QString::fromStdString(Particled(to, Particle::EuroRo)) + " 바꿀까요?"))
            return;
        replace = true;
    }
    const std::string path = path_;
    const std::string failure = RunAndWait(this, "이름을 바꾸는 중…", [path, from, to, replace](JobControl&) {
        OpenedDatabase book(path, false);
        RenamePictures(book.db(), from.toStdString(), to.toStdString(), replace);
    });
    if (!failure.empty()) return Tell(failure);
    Reload();
    connect(this, &ManagerWindow::Loaded, this, [this, to] { Select(to); }, Qt::SingleShotConnection);
}

void ManagerWindow::DeleteSelected() {
    const QString name = Selected();
    if (name.isEmpty()) return;
    auto keeps = std::make_shared<bool>(false);
    const std::string path = path_;
    std::string failure = RunAndWait(this, "기록을 확인하는 중…", [path, keeps](JobControl&) {
        OpenedDatabase book(path, true);
        *keeps = HistoryKeeps(book.db());
    });
    if (!failure.empty()) return Tell(failure);
    const QString question = QString::fromStdString(Particled(name, Particle::EulReul)) + " 지울까요?\n" +
                             (*keeps ? "지운 도장은 기록에 남아 '기록…'에서 되살릴 수 있습니다."
                                     : "이 데이터베이스에는 기록이 없어 지운 도장은 되살릴 수 없습니다.");
    if (!ask_.confirm(this, question)) return;
    failure = RunAndWait(this, "지우는 중…", [path, name](JobControl&) {
        OpenedDatabase book(path, false);
        DeletePictures(book.db(), name.toStdString());
    });
    if (!failure.empty()) return Tell(failure);
    statusBar()->showMessage(QString::fromStdString(Particled(name, Particle::EulReul)) + " 지웠습니다.", 5000);
    Reload();
}

void ManagerWindow::ShowHistory() {
    const QString name = Selected();
    if (name.isEmpty()) return Tell("기록을 볼 도장을 목록에서 고르십시오.");
    HistoryDialog dialog(path_, name.toStdString(), this);
    dialog.confirm = [this](const QString& question) { return ask_.confirm(this, question); };
    connect(&dialog, &HistoryDialog::Changed, this, &ManagerWindow::Reload);
    dialog.Reload();
    dialog.exec();
}

QImage ManagerWindow::SelectedPicture(const std::string& none) {
    const QString name = Selected();
    if (name.isEmpty()) {
        if (!none.empty()) Tell(none);
        return {};
    }
    auto image = std::make_shared<QImage>();
    auto problem = std::make_shared<std::string>();
    const std::string path = path_;
    const std::string failure = RunAndWait(this, "도장을 읽는 중…", [path, name, image, problem](JobControl&) {
        OpenedDatabase book(path, true);
        *image = ReadStampPicture(book.db(), name.toStdString(), problem.get());
    });
    if (!failure.empty() || image->isNull()) {
        Tell(failure.empty() ? *problem : failure);
        return {};
    }
    return *image;
}

void ManagerWindow::ShowDocument() {
    const QImage image = SelectedPicture("문서용으로 만들 도장을 목록에서 고르십시오.");
    if (image.isNull()) return;
    DocumentDialog dialog(Selected(), image, this);
    dialog.exec();
}

void ManagerWindow::StampDocument() {
    const QImage image = SelectedPicture("문서에 찍을 도장을 목록에서 고르십시오.");
    if (image.isNull()) return;
    const QString pdf = ask_.documentToStamp(this);
    if (pdf.isEmpty()) return;
    StampDialog dialog(path_, Selected(), image, pdf, this);
    if (!dialog.Ready()) return Tell(dialog.Problem().toStdString());
    dialog.askOutput = ask_.stampedFile;
    dialog.tell = [this](const QString& text, bool failed) { ask_.tell(this, text, failed); };
    dialog.exec();
}

void ManagerWindow::ShowLedger() {
    LedgerDialog dialog(path_, this);
    dialog.Reload();
    dialog.exec();
}

void ManagerWindow::BackupBook() {
    const QString proposed = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/" +
                             QFileInfo(QString::fromStdString(path_)).completeBaseName() + "-" +
                             QDate::currentDate().toString("yyyy-MM-dd") + ".mdb";
    const QString copy = ask_.backupFile(this, proposed);
    if (copy.isEmpty()) return;
    auto result = std::make_shared<BackupResult>();
    const std::string path = path_;
    RunJob(this, "백업하는 중…", true, [path, copy, result](JobControl& control) {
        *result = ::BackupBook(path, copy.toStdString(), [&](long long done, long long total) {
            control.Progress(done, total);
            if (control.Cancelled())
                throw Error(err::InvalidOperation, "백업을 취소했습니다. 아무 파일도 만들지 않았습니다.");
        });
    }, [this, copy, result](const std::string& failure) {
        if (!failure.empty()) return Tell(failure);
        std::string said = result->linked ? "서버 " + result->server + "의 도장 " + std::to_string(result->stamps) + "개"
                                          : "도장 데이터베이스(" + std::to_string(result->bytes) + " 바이트)";
        said += "를 " + WithParticle("'" + copy.toStdString() + "'", Particle::EuroRo) + " 백업하고 검사했습니다 (이상 없음).";
        if (result->ledgerRows >= 0) said += "\n날인 대장 " + std::to_string(result->ledgerRows) + "건도 백업했습니다.";
        if (result->historyUnreadable)
            said += "\n주의: 이 역할에는 서버의 기록을 읽을 권한이 없어 기록은 백업하지 않았습니다.";
        Tell(said, false);
    });
}

void ManagerWindow::CheckBook() {
    auto report = std::make_shared<std::string>();
    auto sound = std::make_shared<bool>(true);
    const std::string path = path_;
    const long total = model_->rowCount();
    RunJob(this, "검사하는 중…", true, [path, total, report, sound](JobControl& control) {
        OpenedDatabase book(path, true);
        const std::vector<std::string> integrity = book.db().CheckIntegrity();
        if (integrity != std::vector<std::string>{"ok"}) {
            *sound = false;
            *report = "데이터베이스 파일이 손상되었습니다. 백업에서 되살리십시오:";
            for (const std::string& line : integrity) *report += "\n  " + line;
            return;
        }
        *report = "무결성 검사: 이상 없음";
        const PictureCheck check = CheckPictures(book.db(), [&](long done) {
            control.Progress(done, std::max(total, done));
            return !control.Cancelled();
        });
        if (check.cancelled) {
            *report += "\n그림 검사: 취소했습니다 (" + std::to_string(check.rows) + "개까지 읽음).";
            return;
        }
        if (check.unreadable.empty()) {
            *report += "\n그림 검사: " + std::to_string(check.rows) + "개 모두 읽을 수 있습니다.";
        } else {
            *sound = false;
            *report += "\n그림 검사: " + std::to_string(check.rows) + "개 가운데 " +
                       std::to_string(check.unreadable.size()) + "개는 읽을 수 있는 그림이 아닙니다:";
            for (const UnreadableRow& row : check.unreadable)
                *report += "\n  " + ShownName(row.name) + ": " + row.problem;
        }
        for (const std::string& fault : HistoryFaults(book.db())) {
            *sound = false;
            *report += "\n기록: " + fault;
        }
    }, [this, report, sound](const std::string& failure) {
        if (!failure.empty()) return Tell(failure);
        Tell(*report, !*sound);
    });
}
