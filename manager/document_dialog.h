#pragma once
// A stamp made ready for a document: its printed size in millimetres, the
// paper made transparent, the paper around it cut away, seen live over a
// checkerboard and over white; saved as a PNG or copied to the clipboard.
#include <QByteArray>
#include <QDialog>
#include <QImage>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;

class DocumentDialog : public QDialog {
    Q_OBJECT
public:
    DocumentDialog(const QString& name, QImage stamp, QWidget* parent = nullptr);

    // The PNG the options make now; empty when they make none (the reason
    // is shown).
    const QByteArray& Png() const { return png_; }
    // Puts the PNG on the clipboard, with a plain bitmap on white for
    // programs that take no PNG.
    void Copy();

private:
    void Remake();
    void Save();

    QString name_;
    QImage stamp_;
    QByteArray png_;
    QImage made_;
    QDoubleSpinBox* size_;
    QCheckBox* transparent_;
    QCheckBox* crop_;
    QLabel* overCheckerboard_;
    QLabel* overWhite_;
    QLabel* facts_;
};
