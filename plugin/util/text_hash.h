// The text hash that the host script and the attribute export share.
#pragma once

#include <cstdint>
#include <string_view>

namespace orvanta {

// djb2 over the bytes, each taken as a signed 8-bit value, modulo 2^32; the empty text hashes to 0.
std::uint32_t textHash(std::string_view text);

}  // namespace orvanta
