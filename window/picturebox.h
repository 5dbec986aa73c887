#pragma once
// The picture box: shows one picture unscaled from the top-left corner of its
// inner area (the box less its sunken border), cut off at the edges, on the
// palette's colour for window backgrounds (QPalette::Base, the background of
// text fields and lists; white by default) wherever the picture does not reach.
#include <QFrame>
#include <QImage>

class PictureBox : public QFrame {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);

    // Replaces what the box shows; a null image clears it to the background.
    void SetPicture(const QImage& picture);
    const QImage& Picture() const { return picture_; }
    // A bitmap of exactly the inner area as shown: background and picture together.
    QImage Image() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
};
