#include "tests/support/fnv.h"

namespace xel::test {

void Fnv::bytes(const char* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        value ^= static_cast<unsigned char>(data[i]);
        value *= 0x100000001b3ULL;
    }
}

void Fnv::text(const QByteArray& t) {
    bytes(t.constData(), static_cast<std::size_t>(t.size()));
    bytes("", 1);
}

void Fnv::text(const QString& t) {
    text(t.toUtf8());
}

}  // namespace xel::test
