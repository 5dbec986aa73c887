#pragma once
// The versions the book keeps of one name: thumbnails, local times, sizes
// and, on a linked book, who and from which PC; a version put back with one
// question; old versions pruned.
#include <QDialog>
#include <functional>
#include <string>

class QLabel;
class QPushButton;
class QTableWidget;

class HistoryDialog : public QDialog {
    Q_OBJECT
public:
    HistoryDialog(std::string path, std::string name, QWidget* parent = nullptr);

    // Asked before a restore or a prune; a question box unless a test sets it.
    std::function<bool(const QString& question)> confirm;
    // Reads the versions again (off the interface thread) and waits for them.
    void Reload();
    QTableWidget* Table() const { return table_; }
    // Puts the selected version back; false when nothing was changed.
    bool RestoreSelected();

signals:
    // A restore or a prune changed the book.
    void Changed();

private:
    void Prune();
    void ShowFailure(const std::string& failure);

    std::string path_, name_;
    QTableWidget* table_;
    QLabel* status_;
    QPushButton* restore_;
};
