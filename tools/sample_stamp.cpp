#include "tools/sample_stamp.h"

#include <QFont>
#include <QFontDatabase>
#include <QPainter>

namespace {

// fonts-noto-cjk first; any font that covers Hangul otherwise.
QString KoreanFamily() {
    const QStringList korean = QFontDatabase::families(QFontDatabase::Korean);
    for (const char* preferred : {"Noto Serif CJK KR", "Noto Sans CJK KR"})
        if (korean.contains(QLatin1String(preferred))) return QLatin1String(preferred);
    return korean.isEmpty() ? QString() : korean.first();
}

}  // namespace

QImage DrawSampleStamp(std::string& warning) {
    const QColor seal(200, 24, 32);
    QImage image(kSampleStampSide, kSampleStampSide, QImage::Format_RGB32);
    image.fill(Qt::white);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(QPen(seal, 3.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QRectF(image.rect()).adjusted(3, 3, -3, -3));

    QFont font;
    const QString family = KoreanFamily();
    if (family.isEmpty()) warning = "한글 글꼴을 찾지 못해 기본 글꼴로 그렸습니다 (fonts-noto-cjk를 설치하십시오).";
    else font.setFamily(family);
    font.setPixelSize(21);
    font.setWeight(QFont::Black);
    font.setStyleStrategy(QFont::PreferAntialias);
    painter.setFont(font);
    painter.setPen(seal);
    painter.drawText(image.rect().adjusted(0, -1, 0, -1), Qt::AlignCenter, QStringLiteral("도장"));
    painter.end();
    return image;
}
