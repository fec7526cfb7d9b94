#include "tests/support/sha256.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>

#include <stdexcept>

namespace test_support {

std::string Sha256Hex(const std::string& bytes) {
    return QCryptographicHash::hash(
               QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::string Sha256OfFile(const std::filesystem::path& file) {
    QFile in(QFile::decodeName(file.c_str()));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!in.open(QIODevice::ReadOnly) || !hash.addData(&in))
        throw std::runtime_error("cannot read " + file.string());
    return hash.result().toHex().toStdString();
}

} // namespace test_support
