#include "manager/manager_window.h"

#include <QAction>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScrollArea>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QThread>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "desktop/messagebox.h"
#include "engine/sqlite/interrupted_write.h"
#include "keeper/backup.h"
#include "keeper/book.h"
#include "keeper/book_check.h"
#include "keeper/history_text.h"
#include "keeper/picture_import.h"
#include "manager/book_reader.h"
#include "manager/document_dialog.h"
#include "manager/history_dialog.h"
#include "manager/jobs.h"
#include "manager/replace_dialog.h"
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

ManagerQuestions ManagerQuestions::Dialogs() {
    ManagerQuestions q;
    q.confirm = [](QWidget* parent, const QString& question) {
        return QMessageBox::question(parent, "도장 관리", question) == QMessageBox::Yes;
    };
    q.replace = [](QWidget* parent, const QString& name, const QImage& stored, const QString& storedFacts,
                   const QImage& incoming, const QString& incomingFacts, bool keeps) {
        ReplaceDialog dialog(name, stored, storedFacts, incoming, incomingFacts, keeps, parent);
        return dialog.exec() == QDialog::Accepted;
    };
    q.newName = [](QWidget* parent, const QString& current) {
        bool ok = false;
        const QString name = QInputDialog::getText(parent, "이름 바꾸기", Quoted(current) + "의 새 이름:",
                                                   QLineEdit::Normal, current, &ok);
        return ok ? name : QString();
    };
    q.nameFor = [](QWidget* parent, const QString& proposed) {
        bool ok = false;
        const QString name = QInputDialog::getText(parent, "도장 추가", "저장할 이름:", QLineEdit::Normal, proposed, &ok);
        return ok ? name : QString();
    };
    q.picturesToAdd = [](QWidget* parent) {
        QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
        if (folder.isEmpty() || !QFileInfo(folder).isDir())
            folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        return QFileDialog::getOpenFileNames(parent, "도장 그림 추가", folder,
                                             "그림 파일 (*.bmp *.png *.jpg *.jpeg *.gif);;모든 파일 (*)");
    };
    q.bookToOpen = [](QWidget* parent) {
        return QFileDialog::getOpenFileName(parent, "도장 데이터베이스 열기", QString(),
                                            "도장 데이터베이스와 연결 파일 (*.mdb);;모든 파일 (*)");
    };
    q.backupFile = [](QWidget* parent, const QString& proposed) {
        return QFileDialog::getSaveFileName(parent, "백업할 새 파일", proposed, "도장 데이터베이스 (*.mdb)", nullptr,
                                            QFileDialog::DontConfirmOverwrite);
    };
    q.tell = [](QWidget* parent, const QString& text, bool failure) {
        if (failure) QMessageBox::warning(parent, "도장 관리", text);
        else QMessageBox::information(parent, "도장 관리", text);
    };
    return q;
}

ManagerWindow::ManagerWindow(std::string bookPath, ManagerQuestions questions)
    : path_(std::move(bookPath)), ask_(std::move(questions)) {
    setWindowTitle("도장 관리");
    setAccessibleName("도장 관리");
    setAcceptDrops(true);
    resize(900, 600);

    model_ = new StampModel(this);
    filter_ = new StampFilter(this);
    filter_->setSourceModel(model_);
    bookLabel_ = new QLabel;
    bookLabel_->setAccessibleName("데이터베이스");
    // The book is read while the window is built.
    OpenBook(path_);

    search_ = new QLineEdit;
    search_->setPlaceholderText("이름이나 초성으로 찾기 (예: ㄷㅈ)");
    search_->setAccessibleName("찾기");
    search_->setClearButtonEnabled(true);
    connect(search_, &QLineEdit::textChanged, filter_, &StampFilter::SetQuery);

    view_ = new QListView;
    view_->setModel(filter_);
    view_->setAccessibleName("도장 목록");
    view_->setIconSize(QSize(kThumbnailSide, kThumbnailSide));
    view_->setUniformItemSizes(true);  // 100,000 rows are laid out without asking each
    // The first screen first, the rest of the layout in later turns of the
    // event loop.
    view_->setLayoutMode(QListView::Batched);
    view_->setBatchSize(200);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setSpacing(2);
    connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { ShowPreview(); });
    connect(view_, &QListView::activated, this, [this] { ShowDocument(); });

    preview_ = new QLabel;
    preview_->setAlignment(Qt::AlignCenter);
    preview_->setAccessibleName("미리 보기");
    previewArea_ = new QScrollArea;
    previewArea_->setWidget(preview_);
    previewArea_->setWidgetResizable(true);
    previewArea_->setAccessibleName("미리 보기 영역");
    facts_ = new QLabel;
    facts_->setWordWrap(true);
    facts_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    facts_->setAccessibleName("도장 정보");
    actualSize_ = new QToolButton;
    actualSize_->setText("실제 크기(1:1)");
    actualSize_->setCheckable(true);
    actualSize_->setAccessibleName("실제 크기로 보기");
    connect(actualSize_, &QToolButton::toggled, this, [this] { ShowPreview(); });

    auto* left = new QWidget;
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(search_);
    leftLayout->addWidget(view_);
    auto* right = new QWidget;
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(previewArea_, 1);
    auto* row = new QHBoxLayout;
    row->addWidget(facts_, 1);
    row->addWidget(actualSize_);
    rightLayout->addLayout(row);
    auto* splitter = new QSplitter;
    splitter->addWidget(left);
    splitter->addWidget(right);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({340, 560});
    setCentralWidget(splitter);
    // The list has the keys first: arrows, F2, Del and Ctrl+C act on a stamp.
    view_->setFocus();

    statusBar()->addWidget(bookLabel_, 1);
    BuildActions();
}

ManagerWindow::~ManagerWindow() { StopThumbnails(); }

void ManagerWindow::BuildActions() {
    QMenu* book = menuBar()->addMenu("데이터베이스(&D)");
    QMenu* stamp = menuBar()->addMenu("도장(&S)");
    QToolBar* bar = addToolBar("도구");
    bar->setAccessibleName("도구 모음");
    const auto add = [&](QMenu* menu, const QString& text, QKeySequence key, auto slot, bool onBar = true) {
        QAction* action = menu->addAction(text);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, slot);
        if (onBar) bar->addAction(action);
        return action;
    };
    add(book, "열기…", QKeySequence::Open, [this] {
        const QString chosen = ask_.bookToOpen(this);
        if (!chosen.isEmpty()) OpenBook(chosen.toStdString());
    });
    add(book, "새로 고침", QKeySequence(Qt::Key_F5), [this] { Reload(); }, false);
    add(book, "백업…", QKeySequence(Qt::CTRL | Qt::Key_B), [this] { BackupBook(); });
    add(book, "검사", QKeySequence(Qt::CTRL | Qt::Key_K), [this] { CheckBook(); });
    book->addSeparator();
    add(book, "끝내기", QKeySequence::Quit, [this] { close(); }, false);
    bar->addSeparator();
    add(stamp, "추가…", QKeySequence(Qt::CTRL | Qt::Key_N), [this] { AddFiles(ask_.picturesToAdd(this)); });
    add(stamp, "이름 바꾸기…", QKeySequence(Qt::Key_F2), [this] { RenameSelected(); });
    add(stamp, "지우기…", QKeySequence::Delete, [this] { DeleteSelected(); });
    add(stamp, "기록…", QKeySequence(Qt::CTRL | Qt::Key_H), [this] { ShowHistory(); });
    add(stamp, "문서용…", QKeySequence(Qt::CTRL | Qt::Key_D), [this] { ShowDocument(); });
    add(stamp, "문서용으로 복사", QKeySequence::Copy, [this] {
        if (Selected().isEmpty()) return;
        std::string problem;
        auto image = std::make_shared<QImage>();
        const std::string name = Selected().toStdString();
        const std::string failure = RunAndWait(this, "도장을 읽는 중…", [this, name, image, &problem](JobControl&) {
            OpenedDatabase opened(path_, true);
            *image = ReadStampPicture(opened.db(), name, &problem);
        });
        if (!failure.empty() || image->isNull()) return Tell(failure.empty() ? problem : failure);
        DocumentDialog dialog(Selected(), *image, this);
        if (dialog.Png().isEmpty()) return Tell("문서용 그림을 만들 수 없습니다. '문서용…'에서 까닭을 보십시오.");
        dialog.Copy();
        statusBar()->showMessage(QString::fromStdString(Particled(Selected(), Particle::EulReul)) +
                                     " 문서용 PNG(24 mm, 투명)로 복사했습니다.", 5000);
    }, false);
    add(stamp, "찾기", QKeySequence::Find, [this] {
        search_->setFocus();
        search_->selectAll();
    }, false);
}

void ManagerWindow::StartThumbnails() {
    thumbnailThread_ = new QThread(this);
    thumbnails_ = new ThumbnailMaker(path_);
    thumbnails_->moveToThread(thumbnailThread_);
    connect(thumbnailThread_, &QThread::finished, thumbnails_, &QObject::deleteLater);
    connect(thumbnailThread_, &QThread::started, thumbnails_, &ThumbnailMaker::Open);
    connect(model_, &StampModel::ThumbnailWanted, thumbnails_, &ThumbnailMaker::Want);
    connect(thumbnails_, &ThumbnailMaker::Made, model_, &StampModel::ThumbnailReady);
    thumbnailThread_->start(QThread::LowPriority);
}

void ManagerWindow::StopThumbnails() {
    if (!thumbnailThread_) return;
    disconnect(model_, nullptr, thumbnails_, nullptr);
    thumbnailThread_->quit();
    thumbnailThread_->wait();
    delete thumbnailThread_;
    thumbnailThread_ = nullptr;
    thumbnails_ = nullptr;
}

void ManagerWindow::OpenBook(const std::string& path) {
    path_ = path;
    StopThumbnails();
    model_->Clear();
    StartThumbnails();
    ShowTitle({});
    Reload();
}

void ManagerWindow::ShowTitle(const std::string& server) {
    const QString file = QFileInfo(QString::fromStdString(path_)).fileName();
    setWindowTitle("도장 관리 — " + file + (server.empty() ? QString() : " (서버 " + QString::fromStdString(server) + ")"));
    bookLabel_->setText(QString::fromStdString(path_) +
                        (server.empty() ? QString() : "  —  서버 " + QString::fromStdString(server)));
}

void ManagerWindow::Reload() {
    if (loading_) {
        reloadAgain_ = true;
        return;
    }
    loading_ = true;
    auto stamps = std::make_shared<StampList>();
    auto server = std::make_shared<std::string>();
    auto rolledBack = std::make_shared<bool>(false);
    const std::string path = path_;
    RunJob(this, "도장 목록을 읽는 중…", false, [path, stamps, server, rolledBack](JobControl&) {
        // A save killed part way is rolled back first, as every reader does.
        *rolledBack = RollBackInterruptedWrite(path);
        OpenedDatabase book(path, true);
        *server = book.db().Server();
        *stamps = ReadStampList(book.db());
    }, [this, stamps, server, path, rolledBack](const std::string& failure) {
        loading_ = false;
        loadedAt_ = QDateTime::currentMSecsSinceEpoch();
        if (path != path_) return Reload();  // another book was opened meanwhile
        if (!failure.empty()) {
            model_->SetStamps({});
            Tell(failure);
        } else {
            const QString selected = Selected();
            model_->SetStamps(std::move(*stamps));
            ShowTitle(*server);
            if (!selected.isEmpty()) Select(selected);
            statusBar()->showMessage(QString("도장 %1개").arg(model_->rowCount()) +
                                         (*rolledBack ? "  —  끝나지 않은 저장이 남아 있어 저장 전 상태로 되돌렸습니다." : ""),
                                     *rolledBack ? 0 : 3000);
        }
        emit Loaded();
        if (reloadAgain_) {
            reloadAgain_ = false;
            Reload();
        }
    });
}

QString ManagerWindow::Selected() const {
    const QModelIndex current = view_->currentIndex();
    return current.isValid() ? current.data(StampModel::NameRole).toString() : QString();
}

bool ManagerWindow::Select(const QString& name) {
    const int row = model_->RowOf(name.toStdString());
    if (row < 0) return false;
    const QModelIndex index = filter_->mapFromSource(model_->index(row));
    if (!index.isValid()) return false;
    view_->setCurrentIndex(index);
    view_->scrollTo(index);
    return true;
}

void ManagerWindow::ShowPreview() {
    const QString name = Selected();
    const int row = model_->RowOf(name.toStdString());
    if (name.isEmpty() || row < 0) {
        preview_->clear();
        facts_->clear();
        previewImage_ = QImage();
        return;
    }
    facts_->setText(Quoted(name) + "\n" + FactsOf(model_->Stamps()[static_cast<std::size_t>(row)]));
    auto image = std::make_shared<QImage>();
    auto facts = std::make_shared<StampEntry>();
    const std::string path = path_;
    RunJob(this, "도장을 읽는 중…", false, [path, name, image, facts](JobControl&) {
        OpenedDatabase book(path, true);
        *facts = ReadStampFacts(book.db(), name.toStdString(), image.get());
    }, [this, name, image, facts](const std::string& failure) {
        if (Selected() != name) return;  // the selection moved on meanwhile
        previewImage_ = *image;
        if (failure.empty()) facts_->setText(Quoted(name) + "\n" + FactsOf(*facts));
        if (!failure.empty() || image->isNull()) {
            preview_->setText("그림이 아닙니다:\n" + QString::fromStdString(failure.empty() ? facts->problem : failure));
            return;
        }
        const QSize room = previewArea_->viewport()->size() - QSize(8, 8);
        const bool fit = !actualSize_->isChecked() && (image->width() > room.width() || image->height() > room.height());
        preview_->setPixmap(QPixmap::fromImage(fit ? image->scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                                                   : *image));
    });
}

void ManagerWindow::Tell(const std::string& text, bool failure) { ask_.tell(this, QString::fromStdString(text), failure); }

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

void ManagerWindow::ShowDocument() {
    const QString name = Selected();
    if (name.isEmpty()) return Tell("문서용으로 만들 도장을 목록에서 고르십시오.");
    auto image = std::make_shared<QImage>();
    auto problem = std::make_shared<std::string>();
    const std::string path = path_;
    const std::string failure = RunAndWait(this, "도장을 읽는 중…", [path, name, image, problem](JobControl&) {
        OpenedDatabase book(path, true);
        *image = ReadStampPicture(book.db(), name.toStdString(), problem.get());
    });
    if (!failure.empty() || image->isNull()) return Tell(failure.empty() ? *problem : failure);
    DocumentDialog dialog(name, *image, this);
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

void ManagerWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void ManagerWindow::dropEvent(QDropEvent* event) {
    QStringList files;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    event->acceptProposedAction();
    // After the drop has ended, so the file manager is not kept waiting.
    QMetaObject::invokeMethod(this, [this, files] { AddFiles(files); }, Qt::QueuedConnection);
}

bool ManagerWindow::event(QEvent* event) {
    // Another PC may have saved while this window sat in the background.
    if (event->type() == QEvent::WindowActivate && loadedAt_ > 0 &&
        QDateTime::currentMSecsSinceEpoch() - loadedAt_ > 2000)
        Reload();
    return QMainWindow::event(event);
}
