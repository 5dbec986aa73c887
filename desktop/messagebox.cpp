#include "desktop/messagebox.h"

#include <QMessageBox>

void QtMessageBox::MsgBox(const std::string& prompt, int style) {
    QMessageBox box(style == vbCritical ? QMessageBox::Critical : QMessageBox::NoIcon, QString::fromUtf8(kAppTitle),
                    QString::fromStdString(prompt), QMessageBox::Ok, parent_);
    box.exec();
}
