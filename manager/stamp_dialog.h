#pragma once
// 문서에 찍기: a stamp put on a PDF the clerk chose. The page is shown with
// the seal where the document's "(인)" is (or, where it has none, in the
// page's middle), at its printed size; the clerk may turn pages, drag the
// seal, change its size, and saves a new PDF, which the book's ledger
// records (keeper/document_stamp.h).
#include <QDialog>
#include <QImage>
#include <QPointF>
#include <QSizeF>
#include <functional>
#include <optional>
#include <memory>
#include <string>

#include "keeper/document_stamp.h"

class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class PdfDocument;

// One page with the seal over it, fitted to the widget; the seal is dragged
// with the mouse and never leaves the page.
class PageView : public QWidget {
    Q_OBJECT
public:
    explicit PageView(QWidget* parent = nullptr);
    void SetPage(const QImage& page, QSizeF pageMm);
    void SetSeal(const QImage& seal, QSizeF sealMm);
    void SetCentre(QPointF mm);
    QPointF Centre() const { return centre_; }
    // Where a point of the page (mm) is on the widget, and back.
    QPointF ToWidget(QPointF mm) const;
    QSize sizeHint() const override { return {560, 760}; }

signals:
    void Moved(QPointF centreMm);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    double PixelsPerMm() const;
    QRectF PageRect() const;
    QRectF SealRect() const;

    QImage page_, seal_;
    QSizeF pageMm_, sealMm_;
    QPointF centre_;
    std::optional<QPointF> grabbed_;  // the offset of the grip from the centre, in mm, while dragging
};

class StampDialog : public QDialog {
    Q_OBJECT
public:
    StampDialog(std::string book, QString name, QImage stamp, QString pdf, QWidget* parent = nullptr);
    ~StampDialog() override;

    // Whether the document opened; why not otherwise (shown in the dialog too).
    bool Ready() const { return doc_ != nullptr; }
    const QString& Problem() const { return problem_; }
    int Page() const;  // from 0
    QPointF CentreMm() const;
    // Whether the seal stands where the document's mark is.
    bool OnMark() const { return onMark_; }
    PageView* View() const { return view_; }
    void SetPurpose(const QString& purpose);

    // Stamps into the new file `out` and records it, off the interface
    // thread; the failure's words, or empty.
    std::string StampInto(const QString& out);
    const StampResult& Result() const { return result_; }

    // Asked for the new file's name (empty: cancelled), and told the outcome.
    std::function<QString(QWidget*, const QString& proposed)> askOutput;
    std::function<void(const QString& text, bool failure)> tell;

private:
    void ShowPage(int index, std::optional<QPointF> centre);
    void RemakeSeal();
    void ShowWhere();
    void Save();

    std::string book_;
    QString name_, pdf_, problem_;
    QImage stamp_;
    std::unique_ptr<PdfDocument> doc_;
    bool onMark_ = false;
    StampResult result_;
    PageView* view_;
    QSpinBox* page_;
    QDoubleSpinBox* size_;
    QLineEdit* purpose_;
    QLabel* where_;
};
