// The questions 도장 관리 asks, as dialogs.
#include "manager/manager_window.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QStandardPaths>

#include "manager/replace_dialog.h"

namespace {

QString Quoted(const QString& name) { return "\"" + name + "\""; }

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
    q.documentToStamp = [](QWidget* parent) {
        return QFileDialog::getOpenFileName(parent, "도장을 찍을 문서", QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
                                            "PDF 문서 (*.pdf);;모든 파일 (*)");
    };
    q.stampedFile = [](QWidget* parent, const QString& proposed) {
        // An existing file is refused by the stamping itself, never overwritten.
        return QFileDialog::getSaveFileName(parent, "도장을 찍은 문서를 저장할 새 파일", proposed, "PDF 문서 (*.pdf)", nullptr,
                                            QFileDialog::DontConfirmOverwrite);
    };
    q.tell = [](QWidget* parent, const QString& text, bool failure) {
        if (failure) QMessageBox::warning(parent, "도장 관리", text);
        else QMessageBox::information(parent, "도장 관리", text);
    };
    return q;
}
