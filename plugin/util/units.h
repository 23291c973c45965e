// Length units as the host names them, and the small blocks the host script borrows.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <string_view>

namespace orvanta {

// `inches` in the unit named exactly "in", "ft", "mm", "cm" or "m"; the empty name means inches,
// and any other name (other letter case, surrounding spaces) leaves the value as it is. Any thread.
double lengthFromInches(double inches, std::string_view unit);

// A length in `unit`, UTF-8 with surrounding white space ignored, in inches; a null `unit` means
// `modelUnit`, trimmed the same way. Names as for lengthFromInches; metres convert through
// centimetres (value * 100 / 2.54), which can differ from value / 0.0254 in the last bit. Any
// thread.
double lengthToInches(double value, const char* unit, const QByteArray& modelUnit);

// A copy of `unit` that stays valid until the next call; never null. Host thread only: the copy is
// one buffer of this module.
const char* keepLengthUnitText(const QByteArray& unit);

// A zero-filled block of `count` integers, of one integer when `count` is 0; null for a negative
// count (logged, rate-limited). Throws std::bad_alloc when the memory cannot be had, which the
// export's guard answers with null. The caller owns it and releases it with releaseIntegerBlock().
// Any thread.
std::int32_t* createIntegerBlock(std::int32_t count);
// Releases a block of createIntegerBlock(); null is ignored. Any thread.
void releaseIntegerBlock(std::int32_t* block);

}  // namespace orvanta
