// PdfDocument::WithSeal: the seal added to one page by qpdf, as its own
// overlay does: an image XObject with a soft mask, inside a form XObject
// placed by QPDFPageObjectHelper::placeFormXObject, after the page's own
// content, which is wrapped to restore the graphics state it may leave
// changed. Every token is written by qpdf.
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include "os/error.h"
#include "pdf/pdf_document.h"
#include "pdf/qpdf_source.h"

namespace {

using Handle = QPDFObjectHandle;

std::string Operator(const char* name) { return Handle::newOperator(name).unparse(); }

void SetImageKeys(Handle stream, const QImage& image, const char* colourSpace) {
    Handle dict = stream.getDict();
    dict.replaceKey("/Type", Handle::newName("/XObject"));
    dict.replaceKey("/Subtype", Handle::newName("/Image"));
    dict.replaceKey("/Width", Handle::newInteger(image.width()));
    dict.replaceKey("/Height", Handle::newInteger(image.height()));
    dict.replaceKey("/ColorSpace", Handle::newName(colourSpace));
    dict.replaceKey("/BitsPerComponent", Handle::newInteger(8));
}

// The seal's colours, with its alpha as their soft mask; qpdf compresses both.
Handle ImageOf(QPDF& pdf, const QImage& seal) {
    const QImage argb = seal.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull()) throw std::bad_alloc();
    std::string rgb, alpha;
    rgb.reserve(static_cast<std::size_t>(argb.width()) * argb.height() * 3);
    alpha.reserve(static_cast<std::size_t>(argb.width()) * argb.height());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            rgb += static_cast<char>(qRed(line[x]));
            rgb += static_cast<char>(qGreen(line[x]));
            rgb += static_cast<char>(qBlue(line[x]));
            alpha += static_cast<char>(qAlpha(line[x]));
        }
    }
    Handle mask = Handle::newStream(&pdf, alpha);
    SetImageKeys(mask, argb, "/DeviceGray");
    Handle image = Handle::newStream(&pdf, rgb);
    SetImageKeys(image, argb, "/DeviceRGB");
    image.getDict().replaceKey("/SMask", mask);
    return image;
}

// A form that paints the image over `width` × `height` points.
Handle FormOf(QPDF& pdf, Handle image, double width, double height) {
    Handle form = Handle::newStream(&pdf, Handle::newName("/Seal").unparse() + " " + Operator("Do") + "\n");
    Handle dict = form.getDict();
    dict.replaceKey("/Type", Handle::newName("/XObject"));
    dict.replaceKey("/Subtype", Handle::newName("/Form"));
    dict.replaceKey("/BBox", Handle::newArray(Handle::Rectangle(0, 0, 1, 1)));
    dict.replaceKey("/Matrix", Handle::newArray(Handle::Matrix(width, 0, 0, height, 0, 0)));
    Handle xobjects = Handle::newDictionary();
    xobjects.replaceKey("/Seal", image);
    Handle resources = Handle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    dict.replaceKey("/Resources", resources);
    return form;
}

// The page's rotation, 0, 90, 180 or 270 (clockwise, as shown).
int RotationOf(QPDFPageObjectHelper& page) {
    Handle rotate = page.getAttribute("/Rotate", false);
    const long long turn = rotate.isInteger() ? rotate.getIntValue() : 0;
    return static_cast<int>(((turn % 360) + 360) % 360 / 90 * 90);
}

// `centre` (points from the shown page's top-left corner) in the page's own
// space, whose origin is at the bottom left of its media box.
void ToPageSpace(const Handle::Rectangle& crop, int rotation, double dx, double dy, double& x, double& y) {
    switch (rotation) {
        case 90: x = crop.llx + dy, y = crop.lly + dx; break;
        case 180: x = crop.urx - dx, y = crop.lly + dy; break;
        case 270: x = crop.urx - dy, y = crop.ury - dx; break;
        default: x = crop.llx + dx, y = crop.ury - dy;
    }
}

Handle::Rectangle Normalised(const Handle::Rectangle& r) {
    return Handle::Rectangle(std::min(r.llx, r.urx), std::min(r.lly, r.ury), std::max(r.llx, r.urx), std::max(r.lly, r.ury));
}

}  // namespace

QByteArray PdfDocument::WithSeal(int index, const QImage& seal, QPointF centreMm, QSizeF sizeMm) const {
    CheckPage(index);
    std::unique_ptr<QPDF> pdf = OpenQpdf(bytes_, shown_);
    try {
        QPDFPageDocumentHelper pages(*pdf);
        pages.pushInheritedAttributesToPage();
        QPDFPageObjectHelper page = pages.getAllPages().at(static_cast<std::size_t>(index));
        const Handle::Rectangle crop = Normalised(page.getCropBox().getArrayAsRectangle());
        const int rotation = RotationOf(page);
        const double width = sizeMm.width() / kMillimetresPerPoint, height = sizeMm.height() / kMillimetresPerPoint;
        double x = 0, y = 0;
        ToPageSpace(crop, rotation, centreMm.x() / kMillimetresPerPoint, centreMm.y() / kMillimetresPerPoint, x, y);
        // On a page shown turned a quarter, the seal's width runs along the page's own height.
        const bool across = rotation == 90 || rotation == 270;
        const double w = across ? height : width, h = across ? width : height;
        const Handle form = FormOf(*pdf, ImageOf(*pdf, seal), width, height);

        Handle resources = page.getAttribute("/Resources", true);
        if (!resources.isDictionary()) {
            resources = Handle::newDictionary();
            page.getObjectHandle().replaceKey("/Resources", resources);
        }
        Handle xobjects = resources.getKey("/XObject");
        if (!xobjects.isDictionary()) {
            xobjects = Handle::newDictionary();
            resources.replaceKey("/XObject", xobjects);
        }
        int suffix = 0;
        const std::string name = resources.getUniqueResourceName("/KaldoriaSeal", suffix);
        xobjects.replaceKey(name, form);
        const std::string placed =
            page.placeFormXObject(form, name, Handle::Rectangle(x - w / 2, y - h / 2, x + w / 2, y + h / 2), true, true, true);
        page.addPageContents(Handle::newStream(pdf.get(), Operator("q") + "\n"), true);
        page.addPageContents(Handle::newStream(pdf.get(), "\n" + Operator("Q") + "\n" + placed), false);

        QPDFWriter writer(*pdf);
        writer.setOutputMemory();
        // The document's own streams are copied as they are, never decoded and encoded again.
        writer.setDecodeLevel(qpdf_dl_none);
        writer.setObjectStreamMode(qpdf_o_preserve);
        writer.write();
        if (pdf->anyWarnings()) RaiseDamagedPdf(shown_, pdf->getWarnings().front().getMessageDetail());
        const std::shared_ptr<Buffer> out = writer.getBufferSharedPointer();
        return QByteArray(reinterpret_cast<const char*>(out->getBuffer()), static_cast<qsizetype>(out->getSize()));
    } catch (const QPDFExc& e) {
        RaiseDamagedPdf(shown_, e.getMessageDetail());
    } catch (const std::logic_error& e) {
        RaiseDamagedPdf(shown_, e.what());
    }
}
