#include "pdf/digest.h"

#include <qpdf/QPDFCryptoImpl.hh>
#include <qpdf/QPDFCryptoProvider.hh>

Sha256::Sha256() : impl_(QPDFCryptoProvider::getImpl()) { impl_->SHA2_init(256); }

Sha256::~Sha256() = default;

void Sha256::Add(const void* bytes, std::size_t size) { impl_->SHA2_update(static_cast<const unsigned char*>(bytes), size); }

std::string Sha256::Hex() {
    impl_->SHA2_finalize();
    const std::string digest = impl_->SHA2_digest();
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : digest) hex += {digits[c >> 4], digits[c & 15]};
    return hex;
}

std::string Sha256Hex(const QByteArray& bytes) {
    Sha256 sha;
    sha.Add(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return sha.Hex();
}
