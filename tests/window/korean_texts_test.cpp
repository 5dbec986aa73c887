// Qt's own texts as the programs show them: the translation main() installs,
// seen on the buttons of the real open-file dialog and message box.
#include <QApplication>
#include <QAbstractButton>
#include <QFileDialog>
#include <QTimer>
#include <gtest/gtest.h>

#include "desktop/filedialog.h"
#include "desktop/messagebox.h"

namespace {

// Once the next modal dialog is up (the timer fires inside its event loop):
// the texts of its buttons, then it is closed.
struct NextDialog {
    QStringList texts;
    bool native = true;
    NextDialog() {
        QTimer::singleShot(0, [this] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            for (const QAbstractButton* b : dialog->findChildren<QAbstractButton*>()) texts << b->text();
            if (auto* files = qobject_cast<QFileDialog*>(dialog)) native = !files->testOption(QFileDialog::DontUseNativeDialog);
            dialog->reject();
        });
    }
};

TEST(KoreanQtTexts, TheOpenDialogAndTheMessageBoxSpeakKorean) {
    const NextDialog open;
    QtFileDialog dialog;
    dialog.SetFilter("그림파일|*.bmp");
    EXPECT_FALSE(dialog.ShowOpen());
    EXPECT_FALSE(open.native) << "a native dialog would ignore the translation";
    for (const char* word : {"열기(&O)", "취소"})
        EXPECT_TRUE(open.texts.contains(word)) << word << " not in " << open.texts.join(", ").toStdString();

    const NextDialog message;
    QtMessageBox().MsgBox("   저장 되었습니다.  ", vbOKOnly);
    EXPECT_EQ(message.texts.filter("확인").size(), 1) << message.texts.join(", ").toStdString();
    EXPECT_TRUE(message.texts.filter("OK").isEmpty());
}

}  // namespace
