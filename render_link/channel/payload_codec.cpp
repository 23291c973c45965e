#include "render_link/channel/payload_codec.h"

#include <algorithm>
#include <cstring>

namespace xel {

std::u16string toUtf16(std::wstring_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto cp = static_cast<std::uint32_t>(wc);
        if constexpr (sizeof(wchar_t) == 2) {
            out.push_back(static_cast<char16_t>(cp));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char16_t>(cp));
        } else if (cp <= 0x10FFFF) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(u'\uFFFD');
        }
    }
    return out;
}

std::wstring fromUtf16(std::u16string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if constexpr (sizeof(wchar_t) == 4) {
            if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] < 0xE000) {
                const std::uint32_t cp =
                    0x10000 + ((std::uint32_t(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                out.push_back(static_cast<wchar_t>(cp));
                ++i;
                continue;
            }
        }
        out.push_back(static_cast<wchar_t>(unit));
    }
    return out;
}

PayloadWriter PayloadWriter::window(void* data, std::size_t begin, std::size_t count) {
    PayloadWriter writer(data, SIZE_MAX);
    writer.m_windowBegin = begin;
    writer.m_windowEnd = count > SIZE_MAX - begin ? SIZE_MAX : begin + count;
    return writer;
}

void PayloadWriter::copy(const void* bytes, std::size_t count) {
    const std::size_t from = std::max(m_offset, m_windowBegin);
    const std::size_t to = std::min(m_offset + count, m_windowEnd);
    if (from < to)
        std::memcpy(m_data + (from - m_windowBegin),
                    static_cast<const unsigned char*>(bytes) + (from - m_offset), to - from);
    m_offset += count;
}

bool PayloadWriter::skip(std::size_t count) {
    if (!reserve(count))
        return false;
    if (m_offset + count > m_windowBegin && m_offset < m_windowEnd)
        return false;
    m_offset += count;
    return true;
}

bool PayloadWriter::reserve(std::size_t count) {
    if (!m_ok || count > m_capacity - m_offset)
        m_ok = false;
    return m_ok;
}

bool PayloadWriter::putBytes(const void* bytes, std::size_t count) {
    if (!reserve(count))
        return false;
    if (count)
        copy(bytes, count);
    return true;
}

bool PayloadWriter::putString(std::string_view text) {
    if (!reserve(sizeOfString(text.size())))
        return false;
    putSize(text.size());
    return putBytes(text.data(), text.size());
}

bool PayloadWriter::putUtf16(std::u16string_view text) {
    if (!reserve(sizeOfString(2 * text.size())))
        return false;
    putSize(2 * static_cast<std::uint64_t>(text.size()));
    for (char16_t unit : text) {
        const unsigned char bytes[2] = {static_cast<unsigned char>(unit & 0xFF),
                                        static_cast<unsigned char>(unit >> 8)};
        copy(bytes, 2);
    }
    return true;
}

const unsigned char* PayloadReader::take(std::size_t count) {
    if (!m_ok || count > m_size - m_offset) {
        m_ok = false;
        return nullptr;
    }
    const unsigned char* at = m_data + m_offset;
    m_offset += count;
    return at;
}

std::string PayloadReader::getString() {
    const std::uint64_t length = getSize();
    if (!m_ok || length > SIZE_MAX)
        return {};
    const auto* at = reinterpret_cast<const char*>(take(static_cast<std::size_t>(length)));
    if (!at)
        return {};
    return std::string(at, ::strnlen(at, static_cast<std::size_t>(length)));
}

std::u16string PayloadReader::getUtf16() {
    const std::uint64_t length = getSize();
    if (!m_ok || length > SIZE_MAX)
        return {};
    const unsigned char* at = take(static_cast<std::size_t>(length));
    if (!at)
        return {};
    std::u16string out;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        const auto unit = static_cast<char16_t>(at[i] | (at[i + 1] << 8));
        if (unit == 0)
            break;
        out.push_back(unit);
    }
    return out;
}

const void* PayloadReader::getBytes(std::size_t count) {
    return take(count);
}

}  // namespace xel
