// Pieces shared by the fuzz targets: reading an input as a stream of small fields, handing a
// payload over in memory of its own, and failing loudly.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace xel::fuzz {

// Reads a fuzz input front to back. Reads past its end give zeros and empty views, so that every
// input, however short, means something.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size)
        : m_data(reinterpret_cast<const char*>(data)), m_size(size) {}

    bool empty() const { return m_offset == m_size; }
    std::size_t remaining() const { return m_size - m_offset; }

    std::uint8_t byte() { return empty() ? 0 : static_cast<std::uint8_t>(m_data[m_offset++]); }
    std::uint16_t u16() {
        const std::uint16_t low = byte();
        return static_cast<std::uint16_t>(low | byte() << 8);
    }
    // Up to `count` bytes: fewer at the end of the input.
    std::string_view bytes(std::size_t count) {
        const std::size_t n = std::min(count, remaining());
        const std::string_view taken(m_data + m_offset, n);
        m_offset += n;
        return taken;
    }
    std::string_view rest() { return bytes(remaining()); }

private:
    const char* m_data;
    std::size_t m_size;
    std::size_t m_offset = 0;
};

// A copy of some bytes that begins `shift` bytes (0 to 15) past a 16-byte boundary and ends where
// its allocation ends, so that AddressSanitizer catches a read past its end, and a reader meets
// both aligned and unaligned payloads.
class PayloadCopy {
public:
    PayloadCopy(std::string_view bytes, unsigned shift)
        : m_shift(shift % 16),
          m_size(bytes.size()),
          m_block(static_cast<char*>(::operator new[](m_shift + m_size, std::align_val_t(16)))) {
        if (m_size)
            std::memcpy(m_block.get() + m_shift, bytes.data(), m_size);
    }

    const char* data() const { return m_block.get() + m_shift; }
    std::size_t size() const { return m_size; }

private:
    struct AlignedDelete {
        void operator()(char* block) const { ::operator delete[](block, std::align_val_t(16)); }
    };
    std::size_t m_shift;
    std::size_t m_size;
    std::unique_ptr<char[], AlignedDelete> m_block;
};

// A property of the code under test does not hold: says which, and aborts, so that the fuzzer
// keeps the input.
[[noreturn]] inline void fail(const char* target, const char* what) {
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace xel::fuzz
