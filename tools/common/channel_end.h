// One end of the two-process channel tools (the channel demo, the raw channel the host driver's
// summary compares with): a bare message channel that counts the "data" messages arriving and
// hands every other message to the main thread as a control message.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "XelInterProcessMessagesManager.h"

namespace orvanta::tools {

class ChannelEnd : public XelInterProcessMessagesManager, public XelInterProcessMessagesObserver {
public:
    using XelInterProcessMessagesManager::popSize;
    using XelInterProcessMessagesManager::writeSize;

    // What arrived as "data": how many, their bytes, and with content checks their digest and
    // whether each began with its sequence number.
    struct Totals {
        std::uint64_t count = 0;
        std::uint64_t bytes = 0;
        std::uint64_t digest = 0;
        bool inOrder = true;
    };

    // The digest's start, and one step of it: FNV-1a over 8-byte words, then the bytes left.
    static constexpr std::uint64_t kDigestStart = 0xcbf29ce484222325ull;
    static std::uint64_t mix(std::uint64_t digest, const unsigned char* data, std::size_t size);

    // `queueId` as for the channel (0: this process's). With `checkContent`, every "data" message
    // is digested and must begin with its sequence number, 8 bytes little-endian; without, it is
    // only counted, at no cost per byte.
    ChannelEnd(long queueId, bool checkContent);

    // Main thread: the next control message (type and payload); "timeout" when none came within
    // `timeoutSeconds`, "error" after a channel error.
    std::pair<std::string, std::vector<unsigned char>> next(int timeoutSeconds);
    // Any thread.
    Totals totals();
    // Sends `type` with the words as its payload, 8 bytes each, little-endian.
    void sendWords(const char* type, std::initializer_list<std::uint64_t> words);
    // Word `index` of a payload; 0 when the payload is shorter.
    static std::uint64_t word(const std::vector<unsigned char>& payload, std::size_t index);

    // The peer's part, on the main thread: says "hello", answers each "done" with "report" (count,
    // bytes, digest, 1 if in order else 0) and returns 0 at "bye", 1 when nothing came within
    // `timeoutSeconds` or the channel failed.
    int servePeer(int timeoutSeconds);

    void onMessage(const char* type, const void* data, long size) override;
    void onChannelConnected() override {}
    void onChannelDisconnected() override {}
    void onError(int code, const char* text) override;

private:
    void pushControl(std::string type, std::vector<unsigned char> payload);

    const bool m_checkContent;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::pair<std::string, std::vector<unsigned char>>> m_control;
    Totals m_totals;
};

}  // namespace orvanta::tools
