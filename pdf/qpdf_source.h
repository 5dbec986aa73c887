#pragma once
// A document's bytes opened by qpdf, private to this folder: the one place
// that says which files are refused and in what words.
#include <QByteArray>
#include <memory>
#include <string>

class QPDF;

// Raises Error(err::InvalidFileFormat) naming `shown` for what is not a
// PDF, a PDF with damage qpdf would have to repair (every warning counts),
// an encrypted PDF and one without pages. `bytes` must outlive the result.
std::unique_ptr<QPDF> OpenQpdf(const QByteArray& bytes, const std::string& shown);

// The messages, for the other reader and the writer.
[[noreturn]] void RaiseDamagedPdf(const std::string& shown, const std::string& detail);
[[noreturn]] void RaiseEncryptedPdf(const std::string& shown);
