#include "plugin/util/text_hash.h"

#include <QByteArray>
#include <QFile>

#include <cstddef>

namespace orvanta {

std::uint32_t textHash(std::string_view text) {
    if (text.empty())
        return 0;
    std::uint32_t hash = 5381;
    for (char c : text)
        hash = hash * 33 +
               static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c)));
    return hash;
}

std::uint32_t fileHash(const QString& path) {
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray content = file.readAll();
    // A read that failed part-way would hash a truncated file.
    if (file.error() != QFileDevice::NoError)
        return 0;
    const QByteArray base64 = content.toBase64();
    return textHash(std::string_view(base64.constData(), static_cast<std::size_t>(base64.size())));
}

}  // namespace orvanta
