// Hostile payloads for the catalogue's bounds-checked decoder.
//
// Input: one byte picks a layout of allLayouts(), one byte where the payload begins against a
// 16-byte boundary (arrays are handed out in place when aligned, copied otherwise), the rest is
// the payload, in memory that ends where it ends.
//
// Whatever the payload, the decoder reads nothing outside it, and a payload it rejects leaves no
// fields. A payload that decodes is encoded again from the decoded values with the catalogue's
// encoder and decoded a second time: that must succeed and give the same values, as far as a
// round trip keeps them. A text ends at its first NUL, and a flag or an element of a U8 array
// reads as 0 or 1.
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <optional>
#include <vector>

#include "render_link/messages/message_catalogue.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

using xel::messages::DecodedMessage;
using xel::messages::FieldKind;
using xel::messages::FieldValue;
using xel::messages::MessageLayout;

[[noreturn]] void fail(const MessageLayout& layout, const char* what) {
    std::fprintf(stderr, "layout \"%s\": ", layout.type);
    xel::fuzz::fail("catalogue decoder", what);
}

// The decoded values, as the encoder takes them. Texts and arrays refer to `decoded`.
std::vector<FieldValue> valuesOf(const MessageLayout& layout, const DecodedMessage& decoded) {
    std::vector<FieldValue> values;
    for (std::size_t i = 0; i < layout.fieldCount; ++i) {
        switch (layout.fields[i]) {
            case FieldKind::Str:
                values.push_back(FieldValue::str(decoded.str(i)));
                break;
            case FieldKind::WStr:
                values.push_back(FieldValue::wstr(decoded.wstr(i)));
                break;
            case FieldKind::U8:
                values.push_back(FieldValue::u8(decoded.flag(i)));
                break;
            case FieldKind::I32:
                values.push_back(FieldValue::i32(decoded.i32(i)));
                break;
            case FieldKind::F32:
                values.push_back(FieldValue::f32(decoded.f32(i)));
                break;
            case FieldKind::I64:
                values.push_back(FieldValue::i64(decoded.i64(i)));
                break;
            case FieldKind::F32Array:
                values.push_back(FieldValue::f32Array(decoded.floats(i), decoded.count(i)));
                break;
            case FieldKind::I32Array:
                values.push_back(FieldValue::i32Array(decoded.ints(i), decoded.count(i)));
                break;
            case FieldKind::U8Array:
                values.push_back(FieldValue::u8Array(decoded.bools(i), decoded.count(i)));
                break;
            case FieldKind::RawText:
                values.push_back(FieldValue::rawText(decoded.str(i)));
                break;
        }
    }
    return values;
}

// An array field's elements: present exactly when the count is not 0.
const void* elements(const DecodedMessage& m, std::size_t field, FieldKind kind) {
    switch (kind) {
        case FieldKind::F32Array:
            return m.floats(field);
        case FieldKind::I32Array:
            return m.ints(field);
        default:
            return m.bools(field);
    }
}

void compare(const MessageLayout& layout, const DecodedMessage& a, const DecodedMessage& b) {
    for (std::size_t i = 0; i < layout.fieldCount; ++i) {
        const FieldKind kind = layout.fields[i];
        switch (kind) {
            case FieldKind::Str:
            case FieldKind::RawText:
                if (std::strcmp(a.str(i), b.str(i)) != 0)
                    fail(layout, "a text changed in the round trip");
                break;
            case FieldKind::WStr:
                if (std::wcscmp(a.wstr(i), b.wstr(i)) != 0)
                    fail(layout, "a wide text changed in the round trip");
                break;
            case FieldKind::U8:
                if (b.u8(i) > 1)
                    fail(layout, "an encoded flag is neither 0 nor 1");
                if (a.flag(i) != b.flag(i))
                    fail(layout, "a flag changed in the round trip");
                break;
            case FieldKind::I32:
                if (a.i32(i) != b.i32(i))
                    fail(layout, "an I32 changed in the round trip");
                break;
            case FieldKind::F32: {
                const float x = a.f32(i);
                const float y = b.f32(i);
                if (std::memcmp(&x, &y, sizeof x) != 0)
                    fail(layout, "the bits of an F32 changed in the round trip");
                break;
            }
            case FieldKind::I64:
                if (a.i64(i) != b.i64(i))
                    fail(layout, "an I64 changed in the round trip");
                break;
            case FieldKind::F32Array:
            case FieldKind::I32Array:
            case FieldKind::U8Array: {
                const std::uint64_t n = a.count(i);
                if (b.count(i) != n)
                    fail(layout, "an array's count changed in the round trip");
                const void* x = elements(a, i, kind);
                const void* y = elements(b, i, kind);
                if ((x != nullptr) != (n != 0) || (y != nullptr) != (n != 0))
                    fail(layout, "an array's elements are missing, or present with no count");
                if (n == 0)
                    break;
                if (kind == FieldKind::U8Array) {
                    // Read as bool: a value other than 0 or 1 is caught by the undefined-behaviour
                    // checks.
                    const auto* p = static_cast<const bool*>(x);
                    const auto* q = static_cast<const bool*>(y);
                    for (std::uint64_t k = 0; k < n; ++k) {
                        if (p[k] != q[k])
                            fail(layout, "a U8 array element changed in the round trip");
                    }
                } else if (std::memcmp(x, y, static_cast<std::size_t>(n) * 4) != 0) {
                    fail(layout, "the bits of an array changed in the round trip");
                }
                break;
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    xel::fuzz::InputReader input(data, size);
    const auto& layouts = xel::messages::allLayouts();
    const MessageLayout& layout = *layouts[input.byte() % layouts.size()];
    const unsigned shift = input.byte();
    const xel::fuzz::PayloadCopy payload(input.rest(), shift);

    if (xel::messages::firstArrayOffset(layout, payload.data(), payload.size()) > payload.size())
        fail(layout, "the first array lies past the payload's end");

    DecodedMessage first;
    if (!first.decode(layout, payload.data(), payload.size())) {
        if (first.fieldCount() != 0)
            fail(layout, "a rejected payload left fields behind");
        return 0;
    }
    if (first.fieldCount() != layout.fieldCount)
        fail(layout, "a decoded payload lacks fields");

    const std::vector<FieldValue> values = valuesOf(layout, first);
    const std::optional<std::size_t> bytes =
        xel::messages::payloadSize(layout, values.data(), values.size());
    if (!bytes)
        fail(layout, "the encoder refuses the decoded values");
    std::vector<char> buffer(*bytes);
    if (!xel::messages::encodePayload(layout, values.data(), values.size(), buffer.data(), *bytes))
        fail(layout, "the encoder did not fill the size it gave");
    const xel::fuzz::PayloadCopy again(std::string_view(buffer.data(), buffer.size()), shift);

    DecodedMessage second;
    if (!second.decode(layout, again.data(), again.size()))
        fail(layout, "the encoded values do not decode");
    if (second.fieldCount() != layout.fieldCount)
        fail(layout, "the encoded values decode to fewer fields");
    compare(layout, first, second);
    return 0;
}
