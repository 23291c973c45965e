// The text hash that the host script and the attribute export share, and the file hash built on it.
#pragma once

#include <QString>

#include <cstdint>
#include <string_view>

namespace orvanta {

// djb2 over the bytes, each taken as a signed 8-bit value, modulo 2^32; the empty text hashes to 0.
std::uint32_t textHash(std::string_view text);

// The text hash of a text that arrives in pieces: value() is textHash() of everything add()ed, in
// order. One thread at a time.
class TextHasher {
public:
    void add(std::string_view piece);
    std::uint32_t value() const { return m_empty ? 0 : m_hash; }

private:
    std::uint32_t m_hash = 5381;
    bool m_empty = true;
};

// What fileHash() reads at a time: a multiple of 3, so that every block but the last encodes to
// Base64 without padding and the blocks' encodings follow on as the whole file's would.
inline constexpr std::int64_t kFileHashBlockBytes = 3 * 64 * 1024;

// The text hash of the file's whole content in standard Base64 (RFC 4648 alphabet, "=" padding, no
// line breaks); 0 for a missing, empty or unreadable file and for anything that is not a regular
// file (a folder, a FIFO, a device, a socket), which is never opened: it could block or never end.
// A symbolic link is followed: a link to a regular file hashes as that file. The file is read in
// blocks of kFileHashBlockBytes, in constant memory whatever its size. A path that changes from a
// regular file into something else between the check and the opening is not guarded against. Any
// thread.
std::uint32_t fileHash(const QString& path);

}  // namespace orvanta
