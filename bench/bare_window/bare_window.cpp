// The smallest Qt Widgets program with Korean text: it proves the Windows
// toolchain (compiler, cached Qt, platform plugin, fonts under Wine) and is
// the baseline against which Kaldoria's own start-up time is compared.
#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("도장 그림책 — 창이 떴습니다"));
    label.setWindowTitle(QStringLiteral("Kaldoria 바탕 창"));
    label.setMargin(24);
    QFont font = label.font();
    font.setPointSize(20);
    label.setFont(font);
    label.show();
    return app.exec();
}
