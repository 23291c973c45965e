// Small pieces both cross-process benchmarks use to build and read their messages.
#pragma once

#include <cstdint>
#include <cstring>

namespace xel::bench {

// 64-bit numbers in a payload, in the machine's order (both processes run on one machine).
inline std::uint64_t get64(const void* at) {
    std::uint64_t value;
    std::memcpy(&value, at, 8);
    return value;
}

inline void put64(void* at, std::uint64_t value) {
    std::memcpy(at, &value, 8);
}

// Whether a message's type, as the channel hands it over, is `expected`.
inline bool isType(const char* type, const char* expected) {
    return std::strcmp(type, expected) == 0;
}

}  // namespace xel::bench
