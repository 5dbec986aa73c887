#include "manager/manager_window.h"

#include <QAction>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QMimeData>
#include <QScrollArea>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "engine/sqlite/interrupted_write.h"
#include "keeper/book.h"
#include "manager/book_reader.h"
#include "manager/document_dialog.h"
#include "manager/jobs.h"
#include "text/korean.h"

namespace {

QString Quoted(const QString& name) { return "\"" + name + "\""; }

std::string Particled(const QString& name, Particle particle) {
    return WithParticle(ShownName(name.toStdString()), particle);
}

}  // namespace

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
    connect(actualSize_, &QToolButton::toggled, this, [this] { PaintPreview(); });

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

ManagerWindow::~ManagerWindow() {
    StopThumbnails();
    // Work still running (a slow book's list, say) ends before the window
    // does: its results have nowhere to go, and the process must not end
    // while a thread is inside the engine.
    for (QThread* job : findChildren<QThread*>()) job->wait();
}

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
    add(book, "날인 대장", QKeySequence(Qt::CTRL | Qt::Key_L), [this] { ShowLedger(); }, false);
    book->addSeparator();
    add(book, "끝내기", QKeySequence::Quit, [this] { close(); }, false);
    bar->addSeparator();
    add(stamp, "추가…", QKeySequence(Qt::CTRL | Qt::Key_N), [this] { AddFiles(ask_.picturesToAdd(this)); });
    add(stamp, "이름 바꾸기…", QKeySequence(Qt::Key_F2), [this] { RenameSelected(); });
    add(stamp, "지우기…", QKeySequence::Delete, [this] { DeleteSelected(); });
    add(stamp, "기록…", QKeySequence(Qt::CTRL | Qt::Key_H), [this] { ShowHistory(); });
    add(stamp, "문서용…", QKeySequence(Qt::CTRL | Qt::Key_D), [this] { ShowDocument(); });
    add(stamp, "문서에 찍기…", QKeySequence(Qt::CTRL | Qt::Key_P), [this] { StampDocument(); });
    add(stamp, "문서용으로 복사", QKeySequence::Copy, [this] {
        if (Selected().isEmpty()) return;
        const QImage image = SelectedPicture({});
        if (image.isNull()) return;
        DocumentDialog dialog(Selected(), image, this);
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
    }, Holds::Nothing);
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
        PaintPreview();
    }, Holds::Nothing);
}

void ManagerWindow::PaintPreview() {
    if (previewImage_.isNull()) return;
    const QSize room = previewArea_->viewport()->size() - QSize(8, 8);
    const bool fit = !actualSize_->isChecked() &&
                     (previewImage_.width() > room.width() || previewImage_.height() > room.height());
    preview_->setPixmap(QPixmap::fromImage(
        fit ? previewImage_.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation) : previewImage_));
}

void ManagerWindow::Tell(const std::string& text, bool failure) { ask_.tell(this, QString::fromStdString(text), failure); }

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
