// The mesh digest's hash computed in one piece over bytes a test laid out itself, as the
// reference for the digest the tools compute array by array.
#pragma once

#include <QByteArray>

#include <xxhash.h>

namespace xel::test {

// The 128-bit XXH3 hash of `bytes` (seed 0) in its canonical form, as lowercase hex.
inline QByteArray xxh3Hex(const QByteArray& bytes) {
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical,
                             XXH3_128bits(bytes.constData(), static_cast<size_t>(bytes.size())));
    return QByteArray(reinterpret_cast<const char*>(canonical.digest), sizeof canonical.digest)
        .toHex();
}

}  // namespace xel::test
