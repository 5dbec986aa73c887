#include "desktop/filedialog.h"

#include <QDir>
#include <QFileDialog>

void QtFileDialog::SetFilter(const std::string& filter) { filter_ = filter; }

bool QtFileDialog::ShowOpen() {
    // "description|pattern" becomes Qt's "description (pattern)".
    QString filter = QString::fromStdString(filter_);
    if (int bar = filter.indexOf('|'); bar >= 0) filter = filter.left(bar) + " (" + filter.mid(bar + 1) + ")";
    QFileDialog dialog(parent_);
    // Qt's own dialog speaks the installed translation; a native one would not.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!filter.isEmpty()) dialog.setNameFilter(filter);
    if (!fileName_.empty()) dialog.selectFile(QString::fromStdString(fileName_));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    // The system's own separators (Qt hands out "/" on Windows too).
    fileName_ = QDir::toNativeSeparators(dialog.selectedFiles().first()).toStdString();
    return true;
}
