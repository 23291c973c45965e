#include "tests/support/channel_test_support.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include <QSharedMemory>

#include <thread>

#include "platform/process.h"
#include "platform/shared_segment.h"
#include "render_link/channel/message_channel.h"
#include "tests/support/named_object_ids.h"

namespace xel::test {

qint32 uniqueQueueId(int slot) {
    // Positive, far from real process ids, and distinct for concurrent test processes.
    return 0x20000000 + static_cast<qint32>(platform::currentProcessId() % 0x400000) * 16 + slot;
}

int sweepTestLeftovers() {
    int cleaned = 0;
    for (qint32 id : queueIdsWithNamedObjects()) {
        if (id < 0x20000000 || id >= 0x40000000)
            continue;  // not a test's
        QSharedMemory segment(QString::number(id) + "_Sender");
        const auto owner = platform::segmentOwnership(segment);
        if (owner && owner->attachCount > 0 && platform::processExists(owner->creatorPid))
            continue;  // a test that runs now
        MessageChannel::removeLeftovers(id);
        ++cleaned;
    }
    return cleaned;
}

ChannelCleanup::ChannelCleanup(qint32 queueId) : m_queueId(queueId) {
    MessageChannel::removeLeftovers(m_queueId);
}

ChannelCleanup::~ChannelCleanup() {
    MessageChannel::removeLeftovers(m_queueId);
}

void RecordingObserver::onMessage(const char* type, const void* data, long size) {
    if (m_delayUs > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(m_delayUs));
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_paused; });
    }
    ReceivedMessage message{type, std::vector<char>(static_cast<const char*>(data),
                                                    static_cast<const char*>(data) + size)};
    if (m_echoChannel && message.type == "echo") {
        if (m_echoSynchronously)
            m_echoChannel->sendMessage("echores", message.data.data(),
                                       static_cast<long>(message.data.size()));
        else
            m_echoChannel->sendMessageAsync("echores", message.data.data(), message.data.size());
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    m_messages.push_back(std::move(message));
    m_changed.notify_all();
}

void RecordingObserver::pauseDelivery() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_paused = true;
}

void RecordingObserver::resumeDelivery() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_paused = false;
    m_changed.notify_all();
}

void RecordingObserver::onChannelConnected() {
    std::lock_guard<std::mutex> guard(m_mutex);
    ++m_connected;
    m_changed.notify_all();
}

void RecordingObserver::onChannelDisconnected() {
    std::lock_guard<std::mutex> guard(m_mutex);
    ++m_disconnected;
}

void RecordingObserver::onError(int code, const char* text) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_errors.push_back(std::to_string(code) + " " + text);
    m_changed.notify_all();
}

bool RecordingObserver::waitForMessages(std::size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_messages.size() >= count; });
}

bool RecordingObserver::waitForType(const std::string& type, std::size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return static_cast<std::size_t>(std::count_if(
                   m_messages.begin(), m_messages.end(),
                   [&](const ReceivedMessage& m) { return m.type == type; })) >= count;
    });
}

bool RecordingObserver::waitForConnected(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_connected > 0; });
}

bool RecordingObserver::waitForError(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return !m_errors.empty(); });
}

std::vector<ReceivedMessage> RecordingObserver::messages() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_messages;
}

std::vector<std::string> RecordingObserver::errors() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_errors;
}

int RecordingObserver::connectedCalls() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_connected;
}

int RecordingObserver::disconnectedCalls() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_disconnected;
}

std::vector<char> pattern(std::size_t size, std::uint32_t seed) {
    std::vector<char> bytes(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x);
    }
    return bytes;
}

std::uint64_t digest(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint64_t h = 0xcbf29ce484222325ull ^ size;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        h = (h ^ word) * 0x100000001b3ull;
        h ^= h >> 29;
    }
    for (; i < size; ++i)
        h = (h ^ bytes[i]) * 0x100000001b3ull;
    return h;
}

}  // namespace xel::test
