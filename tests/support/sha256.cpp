#include "tests/support/sha256.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <fstream>
#include <stdexcept>
#include <vector>

namespace test_support {

std::string Sha256Hex(const std::string& bytes) {
    return QCryptographicHash::hash(
               QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::string Sha256OfFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> block(1 << 16);
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0)
        hash.addData(QByteArrayView(block.data(), static_cast<qsizetype>(in.gcount())));
    if (in.bad())
        throw std::runtime_error("cannot read " + file.string());
    return hash.result().toHex().toStdString();
}

} // namespace test_support
