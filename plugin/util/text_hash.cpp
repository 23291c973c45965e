#include "plugin/util/text_hash.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <cstddef>
#include <cstring>

namespace orvanta {
namespace {

// Adds the standard Base64 of `bytes` to `hasher`.
void addBase64(TextHasher& hasher, const char* bytes, std::int64_t size) {
    if (size == 0)
        return;
    const QByteArray base64 = QByteArray::fromRawData(bytes, static_cast<int>(size)).toBase64();
    hasher.add(std::string_view(base64.constData(), static_cast<std::size_t>(base64.size())));
}

}  // namespace

void TextHasher::add(std::string_view piece) {
    if (piece.empty())
        return;
    m_empty = false;
    for (char c : piece)
        m_hash = m_hash * 33 +
                 static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c)));
}

std::uint32_t textHash(std::string_view text) {
    TextHasher hasher;
    hasher.add(text);
    return hasher.value();
}

std::uint32_t fileHash(const QString& path) {
    // Asked of the path before anything opens it; QFileInfo follows links.
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return 0;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    TextHasher hasher;
    QByteArray block(static_cast<int>(kFileHashBlockBytes), Qt::Uninitialized);
    // Bytes at the start of `block` read but not yet encoded: fewer than 3 after each round.
    std::int64_t held = 0;
    for (;;) {
        const std::int64_t count = file.read(block.data() + held, kFileHashBlockBytes - held);
        // A read that failed part-way would hash a truncated file.
        if (count < 0 || file.error() != QFileDevice::NoError)
            return 0;
        if (count == 0)
            break;
        held += count;
        const std::int64_t whole = held - held % 3;
        addBase64(hasher, block.constData(), whole);
        std::memmove(block.data(), block.constData() + whole,
                     static_cast<std::size_t>(held - whole));
        held -= whole;
    }
    addBase64(hasher, block.constData(), held);  // the end, with its padding
    return hasher.value();
}

}  // namespace orvanta
