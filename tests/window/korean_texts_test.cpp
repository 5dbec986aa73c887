// Qt's own texts as the programs show them: the translation main() installs,
// seen in the real open-file dialog and the real message box.
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

#include "platform/filedialog.h"
#include "platform/messagebox.h"

namespace {

// Runs `look` on the first modal dialog of type D to come up, then closes it.
template <typename D>
void WhenShown(std::function<void(D&)> look) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, look] {
        auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
        if (!dialog) return;
        timer->stop();
        timer->deleteLater();
        look(*dialog);
        dialog->reject();
    });
    timer->start(10);
}

QStringList Texts(const QList<QAbstractButton*>& buttons) {
    QStringList texts;
    for (const QAbstractButton* b : buttons) texts << b->text();
    return texts;
}

TEST(KoreanQtTexts, TheOpenDialogAndTheMessageBoxSpeakKorean) {
    QStringList buttons, labels;
    bool native = true;
    WhenShown<QFileDialog>([&](QFileDialog& d) {
        native = !d.testOption(QFileDialog::DontUseNativeDialog);
        buttons = Texts(d.findChild<QDialogButtonBox*>()->buttons());
        for (const QLabel* label : d.findChildren<QLabel*>()) labels << label->text();
    });
    QtFileDialog dialog;
    dialog.SetFilter("그림파일|*.bmp");
    EXPECT_FALSE(dialog.ShowOpen());
    EXPECT_FALSE(native) << "a native dialog would ignore the translation";
    EXPECT_TRUE(buttons.contains("열기(&O)") && buttons.contains("취소")) << buttons.join(", ").toStdString();
    EXPECT_TRUE(labels.contains("다음에서 찾기:") && labels.contains("파일 이름(&N):")) << labels.join(", ").toStdString();

    WhenShown<QMessageBox>([&](QMessageBox& box) { buttons = Texts(box.buttons()); });
    QtMessageBox().MsgBox("   저장 되었습니다.  ", vbOKOnly);
    EXPECT_EQ(buttons, QStringList{"확인"});
}

}  // namespace
