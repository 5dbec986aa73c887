#include "window/picturebox.h"

#include <QPaintEvent>
#include <QPainter>

PictureBox::PictureBox(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    // Unlike the other controls, which show the face colour.
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    // Part of the keyboard order like any other control.
    setFocusPolicy(Qt::StrongFocus);
}

void PictureBox::SetPicture(const QImage& picture) {
    picture_ = picture;
    update();
}

QImage PictureBox::Image() const {
    const QSize inner = contentsRect().size();
    if (inner.isEmpty()) return {};
    QImage image(inner, QImage::Format_RGB32);
    image.fill(palette().color(backgroundRole()));
    if (!picture_.isNull()) {
        // Only the part that fits is copied, so a huge picture costs no more
        // than a small one; the ratio is reset so it is drawn pixel for pixel.
        QImage part = picture_.copy(0, 0, qMin(picture_.width(), inner.width()),
                                    qMin(picture_.height(), inner.height()));
        // The painter trusts a palette picture's colour table; the conversion
        // does not, so a decoder's short or missing table cannot crash it.
        part = part.convertToFormat(part.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                           : QImage::Format_RGB32);
        part.setDevicePixelRatio(1.0);
        QPainter painter(&image);
        painter.drawImage(0, 0, part);
    }
    return image;
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.drawImage(contentsRect().topLeft(), Image());
    if (hasFocus()) {
        // The focus mark sits on the border, never on the inner area that is stored.
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}
