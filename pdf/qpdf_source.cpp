#include "pdf/qpdf_source.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include "os/error.h"
#include "text/korean.h"

namespace {

std::string Named(const std::string& shown) { return WithParticle("'" + shown + "'", Particle::EunNeun); }

// A PDF starts with its header; readers allow some bytes before it.
bool HasPdfHeader(const QByteArray& bytes) {
    const qsizetype at = bytes.indexOf("%PDF-");
    return at >= 0 && at < 1024;
}

}  // namespace

void RaiseDamagedPdf(const std::string& shown, const std::string& detail) {
    throw Error(err::InvalidFileFormat, Named(shown) + " 손상된 PDF라서 읽을 수 없습니다. 문서를 만든 프로그램에서 PDF로 "
                                        "다시 저장해 주십시오 — " + detail);
}

void RaiseEncryptedPdf(const std::string& shown) {
    throw Error(err::InvalidFileFormat, Named(shown) + " 암호가 걸린 PDF라서 도장을 찍을 수 없습니다. 암호를 풀어 다시 "
                                        "저장한 PDF를 주십시오 (찍은 뒤에 다시 암호를 걸 수 있습니다).");
}

std::unique_ptr<QPDF> OpenQpdf(const QByteArray& bytes, const std::string& shown) {
    if (!HasPdfHeader(bytes))
        throw Error(err::InvalidFileFormat, Named(shown) + " PDF 파일이 아닙니다 (PDF라면 '%PDF-'로 시작합니다). "
                                            "문서를 PDF로 저장한 파일을 주십시오.");
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    // A file qpdf would have to rebuild is not stamped: what it rebuilt may
    // not be what the sender's viewer shows.
    pdf->setAttemptRecovery(false);
    try {
        pdf->processMemoryFile(shown.c_str(), bytes.constData(), static_cast<size_t>(bytes.size()));
        if (pdf->isEncrypted()) RaiseEncryptedPdf(shown);
        if (QPDFPageDocumentHelper(*pdf).getAllPages().empty())
            throw Error(err::InvalidFileFormat, Named(shown) + " 쪽이 하나도 없는 PDF입니다.");
    } catch (const QPDFExc& e) {
        if (e.getErrorCode() == qpdf_e_password) RaiseEncryptedPdf(shown);
        RaiseDamagedPdf(shown, e.getMessageDetail());
    } catch (const std::logic_error& e) {
        RaiseDamagedPdf(shown, e.what());
    } catch (const std::runtime_error& e) {
        if (dynamic_cast<const Error*>(&e)) throw;
        RaiseDamagedPdf(shown, e.what());
    }
    if (pdf->anyWarnings()) RaiseDamagedPdf(shown, pdf->getWarnings().front().getMessageDetail());
    return pdf;
}
