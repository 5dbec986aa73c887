#pragma once
// SHA-256 as the ledger records documents and pictures by it, computed by
// the PDF library's crypto provider, which uses the processor's SHA
// instructions where it has them (a 10 MB document in a few milliseconds,
// where a plain implementation takes ten times as long).
#include <QByteArray>
#include <memory>
#include <string>

class QPDFCryptoImpl;

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void Add(const void* bytes, std::size_t size);
    // Lower-case hex of everything added; the object is then spent.
    std::string Hex();

private:
    std::shared_ptr<QPDFCryptoImpl> impl_;
};

std::string Sha256Hex(const QByteArray& bytes);
