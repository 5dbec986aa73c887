#include "platform/desktop.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QMessageBox>

#include "platform/error.h"

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

void QtMessageBox::MsgBox(const std::string& prompt, int style) {
    QMessageBox box(style == vbCritical ? QMessageBox::Critical : QMessageBox::NoIcon, QString::fromUtf8(kAppTitle),
                    Q(prompt), QMessageBox::Ok, parent_);
    box.exec();
}

QImage QtPictureService::LoadPicture(const std::string& path) {
    if (path.empty()) return {};
    QFileInfo info(Q(path));
    if (!info.exists() || info.isDir())
        throw Error(err::FileNotFound, "그림 파일 '" + path + "'을(를) 찾을 수 없습니다.");
    QImageReader reader(Q(path));
    QImage image = reader.read();
    if (image.isNull())
        throw Error(err::InvalidPicture, "'" + path + "'은(는) 읽을 수 있는 그림 파일이 아닙니다 (" +
                                             reader.errorString().toStdString() + ").");
    return image;
}

void QtPictureService::SavePicture(const QImage& picture, const std::string& path) {
    QImageWriter writer(Q(path), "bmp");
    if (!writer.write(picture))
        throw Error(err::PathFileAccess,
                    "그림을 '" + path + "'에 저장할 수 없습니다 (" + writer.errorString().toStdString() + ").");
}

void QtFileDialog::SetFilter(const std::string& filter) { filter_ = filter; }

bool QtFileDialog::ShowOpen() {
    // "description|pattern" becomes Qt's "description (pattern)".
    QString filter = Q(filter_);
    if (int bar = filter.indexOf('|'); bar >= 0) filter = filter.left(bar) + " (" + filter.mid(bar + 1) + ")";
    QFileDialog dialog(parent_);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!filter.isEmpty()) dialog.setNameFilter(filter);
    if (!fileName_.empty()) dialog.selectFile(Q(fileName_));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    fileName_ = dialog.selectedFiles().first().toStdString();
    return true;
}

std::string ApplicationFolder() {
    QString dir = QCoreApplication::applicationDirPath();
    while (dir.size() > 1 && dir.endsWith('/')) dir.chop(1);
    return dir.toStdString();
}
