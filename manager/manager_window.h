#pragma once
// 도장 관리: every stamp of a book with its thumbnail, found by name or by
// initial consonants, previewed, added or replaced whole, renamed, deleted,
// restored from the history, made ready for a document or put on a PDF and
// recorded in the ledger; the book backed up and checked. Every piece of work runs off the interface thread on a
// connection of its own.
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

#include "manager/stamp_model.h"

class QAction;
class QLabel;
class QLineEdit;
class QListView;
class QScrollArea;
class QThread;
class QToolButton;
class ThumbnailMaker;

// The questions the window asks, each a dialog unless a test answers it.
struct ManagerQuestions {
    // Yes or no.
    std::function<bool(QWidget* parent, const QString& question)> confirm;
    // Store over the stamp of that name? The dialog shows both.
    std::function<bool(QWidget* parent, const QString& name, const QImage& stored, const QString& storedFacts,
                       const QImage& incoming, const QString& incomingFacts, bool historyKeeps)>
        replace;
    // A new name for a rename; empty when cancelled.
    std::function<QString(QWidget* parent, const QString& current)> newName;
    // A name for a file being added; empty when cancelled.
    std::function<QString(QWidget* parent, const QString& proposed)> nameFor;
    // Files to add; a book to open; a file to back up into.
    std::function<QStringList(QWidget* parent)> picturesToAdd;
    std::function<QString(QWidget* parent)> bookToOpen;
    std::function<QString(QWidget* parent, const QString& proposed)> backupFile;
    // A PDF to stamp; the new file for the stamped document.
    std::function<QString(QWidget* parent)> documentToStamp;
    std::function<QString(QWidget* parent, const QString& proposed)> stampedFile;
    // A failure or a report.
    std::function<void(QWidget* parent, const QString& text, bool failure)> tell;

    static ManagerQuestions Dialogs();
};

class ManagerWindow : public QMainWindow {
    Q_OBJECT
public:
    ManagerWindow(std::string bookPath, ManagerQuestions questions = ManagerQuestions::Dialogs());
    ~ManagerWindow() override;

    // Opens another book (or link file); the list is read off the interface
    // thread and `Loaded` follows.
    void OpenBook(const std::string& path);
    // Reads the list again (F5, and when the window is activated again).
    void Reload();
    const std::string& BookPath() const { return path_; }
    const StampModel& Model() const { return *model_; }
    QListView* View() const { return view_; }
    QLineEdit* Search() const { return search_; }
    // The name of the selected stamp, or empty.
    QString Selected() const;
    bool Select(const QString& name);

    // The actions, as the menu and the keys run them.
    void AddFiles(const QStringList& files);
    void RenameSelected();
    void DeleteSelected();
    void ShowHistory();
    void ShowDocument();
    // 문서에 찍기: the selected stamp on a PDF, recorded in the ledger.
    void StampDocument();
    void ShowLedger();
    void BackupBook();
    void CheckBook();

signals:
    // The list of the book has been read (or failed to be: the message said why).
    void Loaded();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool event(QEvent* event) override;

private:
    void BuildActions();
    void StartThumbnails();
    void StopThumbnails();
    // Reads the selected stamp off the interface thread, then paints it.
    void ShowPreview();
    // The stamp read last, fitted to the pane or at 1:1.
    void PaintPreview();
    void ShowTitle(const std::string& server);
    // The name stored under, or empty when nothing was.
    QString AddFile(const QString& file);
    // The selected stamp's picture, read off the interface thread; a null
    // image when none is selected (`none` is said then) or it cannot be read
    // (the reason is said).
    QImage SelectedPicture(const std::string& none);
    void Tell(const std::string& text, bool failure = true);

    std::string path_;
    ManagerQuestions ask_;
    StampModel* model_;
    StampFilter* filter_;
    QListView* view_;
    QLineEdit* search_;
    QLabel* preview_;
    QLabel* facts_;
    QToolButton* actualSize_;
    QScrollArea* previewArea_;
    QLabel* bookLabel_;
    QImage previewImage_;
    QThread* thumbnailThread_ = nullptr;
    ThumbnailMaker* thumbnails_ = nullptr;
    bool loading_ = false;
    bool reloadAgain_ = false;
    qint64 loadedAt_ = 0;
};
