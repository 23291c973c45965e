// The 64-bit FNV-1a hash (offset basis 0xcbf29ce484222325, prime 0x100000001b3), written out for
// tests that check checksums independently of the code under test.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace xel::test {

// A running hash: feed it bytes, read `value`. Not thread-safe; one owner.
struct Fnv {
    std::uint64_t value = 0xcbf29ce484222325ULL;

    // Folds in `count` bytes from `data`.
    void bytes(const char* data, std::size_t count);
    // Folds in a text as its bytes followed by one 0 byte; a QString as its UTF-8 bytes.
    void text(const QByteArray& t);
    void text(const QString& t);
};

}  // namespace xel::test
