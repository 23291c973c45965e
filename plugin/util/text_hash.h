// The text hash that the host script and the attribute export share, and the file hash built on it.
#pragma once

#include <QString>

#include <cstdint>
#include <string_view>

namespace orvanta {

// djb2 over the bytes, each taken as a signed 8-bit value, modulo 2^32; the empty text hashes to 0.
std::uint32_t textHash(std::string_view text);

// The text hash of the file's whole content in standard Base64 (RFC 4648 alphabet, "=" padding, no
// line breaks); 0 for a missing, empty or unreadable file. Reads the whole file into memory. Any
// thread.
std::uint32_t fileHash(const QString& path);

}  // namespace orvanta
