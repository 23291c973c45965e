// The one writer and the one reader of payload bytes: every fixed-width value of a payload, and
// every size, string and wide string, goes through them.
//
// Fixed-width values are little-endian, whatever the host's byte order. Sizes are unsigned 64-bit.
// A string is its byte length as a size, then the bytes, no terminator. A wide string travels as
// UTF-16LE with a byte length of 2 x its code units, whatever the width of wchar_t on this
// platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace xel {

// UTF-16 from a wide string: a copy where wchar_t is 16-bit; where it is 32-bit, code points past
// the basic plane become surrogate pairs and values that are no code point become U+FFFD.
std::u16string toUtf16(std::wstring_view text);
// The inverse: surrogate pairs are joined; an unpaired surrogate is kept as it is.
std::wstring fromUtf16(std::u16string_view text);

// Writes into caller memory of a known capacity. A write that does not fit writes nothing and
// fails the writer for good; ok() tells whether every write so far fitted.
class PayloadWriter {
public:
    PayloadWriter(void* data, std::size_t capacity)
        : m_data(static_cast<unsigned char*>(data)), m_capacity(capacity) {}
    // For the raw primitives, whose callers size the memory themselves.
    static PayloadWriter unbounded(void* data) { return PayloadWriter(data, SIZE_MAX); }
    // Writes only the bytes of the payload that fall in [begin, begin + count), the byte at `begin`
    // to `data`; the others are counted but go nowhere. For a payload written piece by piece into
    // memory that holds one piece at a time.
    static PayloadWriter window(void* data, std::size_t begin, std::size_t count);

    static constexpr std::size_t sizeOfString(std::size_t bytes) { return 8 + bytes; }

    // Inline, so that a field's bytes are ordered in the caller and cost one call to write.
    bool putU8(std::uint8_t value) { return putLittleEndian(value, 1); }
    bool putU32(std::uint32_t value) { return putLittleEndian(value, 4); }
    bool putU64(std::uint64_t value) { return putLittleEndian(value, 8); }
    bool putSize(std::uint64_t value) { return putU64(value); }
    bool putBytes(const void* bytes, std::size_t count);
    bool putString(std::string_view text);
    bool putUtf16(std::u16string_view text);

    // Moves on by `count` bytes without writing, if none of them falls in the window; false,
    // doing nothing, otherwise.
    bool skip(std::size_t count);

    bool ok() const { return m_ok; }
    std::size_t written() const { return m_offset; }

private:
    bool reserve(std::size_t count);
    // Writes the low `bytes` (at most 8) bytes of `value`, least significant first.
    bool putLittleEndian(std::uint64_t value, std::size_t bytes) {
        unsigned char out[8];
        for (std::size_t i = 0; i < bytes; ++i)
            out[i] = static_cast<unsigned char>(value >> (8 * i));
        return putBytes(out, bytes);
    }
    // Copies what of `count` bytes at the current offset falls in the window, and moves on.
    void copy(const void* bytes, std::size_t count);

    unsigned char* m_data;
    std::size_t m_capacity;
    std::size_t m_offset = 0;
    // The payload bytes that land in m_data, which holds the byte at m_windowBegin first.
    std::size_t m_windowBegin = 0;
    std::size_t m_windowEnd = m_capacity;
    bool m_ok = true;
};

// Reads from a payload of a known size. A read past the end returns an empty value, reads nothing
// and fails the reader for good: a decoder checks ok() once, after its last field.
class PayloadReader {
public:
    PayloadReader(const void* data, std::size_t size)
        : m_data(static_cast<const unsigned char*>(data)), m_size(size) {}
    static PayloadReader unbounded(const void* data) { return PayloadReader(data, SIZE_MAX); }

    // Inline, as the writes are.
    std::uint8_t getU8() { return static_cast<std::uint8_t>(getLittleEndian(1)); }
    std::uint32_t getU32() { return static_cast<std::uint32_t>(getLittleEndian(4)); }
    std::uint64_t getU64() { return getLittleEndian(8); }
    std::uint64_t getSize() { return getU64(); }
    // A string ends at its first NUL: the bytes after it are consumed but not returned.
    std::string getString();
    std::u16string getUtf16();
    // `count` raw bytes, or null if they are not all there.
    const void* getBytes(std::size_t count);

    bool ok() const { return m_ok; }
    std::size_t consumed() const { return m_offset; }
    std::size_t remaining() const { return m_size - m_offset; }

private:
    const unsigned char* take(std::size_t count);
    // `bytes` (at most 8) bytes, least significant first; 0 when they are not all there.
    std::uint64_t getLittleEndian(std::size_t bytes) {
        const auto* at = static_cast<const unsigned char*>(getBytes(bytes));
        std::uint64_t value = 0;
        if (at) {
            for (std::size_t i = 0; i < bytes; ++i)
                value |= std::uint64_t(at[i]) << (8 * i);
        }
        return value;
    }

    const unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_offset = 0;
    bool m_ok = true;
};

}  // namespace xel
