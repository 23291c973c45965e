#include "tools/common/channel_end.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace orvanta::tools {

std::uint64_t ChannelEnd::mix(std::uint64_t digest, const unsigned char* data, std::size_t size) {
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        digest = (digest ^ word) * 0x100000001b3ull;
    }
    for (; i < size; ++i)
        digest = (digest ^ data[i]) * 0x100000001b3ull;
    return digest;
}

ChannelEnd::ChannelEnd(long queueId, bool checkContent)
    : XelInterProcessMessagesManager(this, queueId), m_checkContent(checkContent) {
    m_totals.digest = kDigestStart;
}

void ChannelEnd::onMessage(const char* type, const void* data, long size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (std::strcmp(type, "data") == 0) {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_checkContent) {
            void* cursor = const_cast<void*>(data);
            m_totals.inOrder = m_totals.inOrder && size >= 8 && popSize(cursor) == m_totals.count;
            m_totals.digest = mix(m_totals.digest, bytes, static_cast<std::size_t>(size));
        }
        ++m_totals.count;
        m_totals.bytes += static_cast<std::uint64_t>(size);
        return;
    }
    pushControl(type, std::vector<unsigned char>(bytes, bytes + size));
}

void ChannelEnd::onError(int code, const char* text) {
    std::fprintf(stderr, "channel error %d: %s\n", code, text);
    pushControl("error", {});
}

void ChannelEnd::pushControl(std::string type, std::vector<unsigned char> payload) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_control.emplace_back(std::move(type), std::move(payload));
    m_changed.notify_all();
}

std::pair<std::string, std::vector<unsigned char>> ChannelEnd::next(int timeoutSeconds) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_changed.wait_for(lock, std::chrono::seconds(timeoutSeconds),
                            [&] { return !m_control.empty(); }))
        return {"timeout", {}};
    auto message = std::move(m_control.front());
    m_control.pop_front();
    return message;
}

ChannelEnd::Totals ChannelEnd::totals() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_totals;
}

void ChannelEnd::sendWords(const char* type, std::initializer_list<std::uint64_t> words) {
    std::vector<unsigned char> payload(8 * words.size());
    std::size_t at = 0;
    for (std::uint64_t word : words) {
        writeSize(payload.data() + at, word);
        at += 8;
    }
    sendMessage(type, payload.data(), static_cast<long>(payload.size()));
}

std::uint64_t ChannelEnd::word(const std::vector<unsigned char>& payload, std::size_t index) {
    if (payload.size() < 8 * (index + 1))
        return 0;
    void* cursor = const_cast<unsigned char*>(payload.data()) + 8 * index;
    return popSize(cursor);
}

int ChannelEnd::servePeer(int timeoutSeconds) {
    sendWords("hello", {});
    for (;;) {
        const std::string type = next(timeoutSeconds).first;
        if (type == "done") {
            const Totals t = totals();
            sendWords("report", {t.count, t.bytes, t.digest, t.inOrder ? 1u : 0u});
        } else if (type == "bye" || type == "timeout" || type == "error") {
            return type == "bye" ? 0 : 1;
        }
    }
}

}  // namespace orvanta::tools
