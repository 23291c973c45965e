// Shared pieces of the channel tests: queue ids, clean-up, a recording observer, payload patterns.
#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "XelInterProcessMessagesManager.h"

namespace xel {
class MessageChannel;
}

namespace xel::test {

// A queue id that no other test process uses at the same time: derived from this process's id.
qint32 uniqueQueueId(int slot = 0);

// Removes everything a channel of `queueId` may have left, on construction and on destruction, so
// a test starts clean and leaves nothing behind, also when an assertion ends it early.
class ChannelCleanup {
public:
    explicit ChannelCleanup(qint32 queueId);
    ~ChannelCleanup();
    ChannelCleanup(const ChannelCleanup&) = delete;
    ChannelCleanup& operator=(const ChannelCleanup&) = delete;

private:
    qint32 m_queueId;
};

// Removes what crashed test processes left behind: the objects of every queue id in the tests'
// range whose segments no live process holds. Returns how many queue ids it cleaned.
int sweepTestLeftovers();

struct ReceivedMessage {
    std::string type;
    std::vector<char> data;
};

// Records what a channel delivers. Answers "echo" with "echores" when given a channel, from inside
// its handler, asynchronously or synchronously.
class RecordingObserver : public XelInterProcessMessagesObserver {
public:
    void onMessage(const char* type, const void* data, long size) override;
    void onChannelConnected() override;
    void onChannelDisconnected() override;
    void onError(int code, const char* text) override;

    void answerEchoesOn(MessageChannel* channel, bool synchronously = false) {
        m_echoChannel = channel;
        m_echoSynchronously = synchronously;
    }
    // A slow reader: each message is held this long in the handler. Set before the channel runs.
    void delayEachMessage(int microseconds) { m_delayUs = microseconds; }
    // A reader that takes nothing: from the next message on, the handler waits, before it records
    // the message, until delivery resumes. Any thread.
    void pauseDelivery();
    void resumeDelivery();
    // Waits until `count` messages have arrived in all, up to `timeoutMs`; returns whether they
    // did.
    bool waitForMessages(std::size_t count, int timeoutMs = 120000);
    // Waits until `count` messages of `type` have arrived in all; returns whether they did.
    bool waitForType(const std::string& type, std::size_t count, int timeoutMs = 120000);
    bool waitForConnected(int timeoutMs = 60000);
    bool waitForError(int timeoutMs = 60000);
    std::vector<ReceivedMessage> messages() const;
    std::vector<std::string> errors() const;
    int connectedCalls() const;
    int disconnectedCalls() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<ReceivedMessage> m_messages;
    std::vector<std::string> m_errors;
    int m_connected = 0;
    int m_disconnected = 0;
    MessageChannel* m_echoChannel = nullptr;
    bool m_echoSynchronously = false;
    int m_delayUs = 0;
    bool m_paused = false;  // under m_mutex
};

// Deterministic payload bytes for (size, seed), and a fast 64-bit digest of bytes.
std::vector<char> pattern(std::size_t size, std::uint32_t seed);
std::uint64_t digest(const void* data, std::size_t size);

}  // namespace xel::test
