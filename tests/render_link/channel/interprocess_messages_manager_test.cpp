// The public manager as a render-window program uses it: linked against the shared library,
// through its exported symbols only.
#include "XelInterProcessMessagesManager.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace {

class Observer : public XelInterProcessMessagesObserver {
public:
    void onMessage(const char* type, const void* data, long size) override {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_messages.push_back(type + std::string(":") +
                             std::string(static_cast<const char*>(data), size));
        m_changed.notify_all();
    }
    void onChannelConnected() override { ++connected; }
    void onChannelDisconnected() override { ++disconnected; }
    void onError(int, const char*) override { ++errors; }

    std::vector<std::string> waitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(60),
                           [&] { return m_messages.size() >= count; });
        return m_messages;
    }

    int connected = 0;  // written by the reader thread before any message
    int disconnected = 0;
    int errors = 0;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_messages;
};

TEST(XelInterProcessMessagesManager, TwoManagersOfOneQueueIdTalkBothWays) {
    // A queue id of this test process alone; both managers leave nothing behind when destroyed.
    const long queueId = 0x30000000 + (::getpid() % 0x100000);
    Observer creatorSeen;
    Observer attacherSeen;
    {
        XelInterProcessMessagesManager creator(&creatorSeen, queueId);
        XelInterProcessMessagesManager attacher(&attacherSeen, queueId);
        EXPECT_EQ(creator.queueId(), queueId);
        creator.run();
        attacher.run();
        creator.sendMessage("ping", "abc", 3);
        creator.sendMessageAsync("async", "de", 2);
        attacher.sendMessageAsync("pong", "f", 1);
        EXPECT_EQ(attacherSeen.waitFor(2), (std::vector<std::string>{"ping:abc", "async:de"}));
        EXPECT_EQ(creatorSeen.waitFor(1), (std::vector<std::string>{"pong:f"}));
        EXPECT_EQ(creatorSeen.connected, 1);
        EXPECT_EQ(attacherSeen.connected, 1);
    }
    EXPECT_EQ(creatorSeen.disconnected, 1);
    EXPECT_EQ(attacherSeen.disconnected, 1);
    EXPECT_EQ(creatorSeen.errors + attacherSeen.errors, 0);
}

}  // namespace
