#include "platform/named_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/channel_test_support.h"
#include "tests/support/peer_process.h"
#include "tests/support/system.h"

using xel::platform::NamedEvent;

namespace {

std::string eventName(const char* what) {
    return "evt" + std::to_string(xel::test::uniqueQueueId()) + what;
}

struct EventCleanup {
    std::string name;
    ~EventCleanup() { NamedEvent::remove(name); }
};

std::unique_ptr<NamedEvent> openEvent(
    const std::string& name, NamedEvent::ResetMode mode,
    NamedEvent::OpenMode open = NamedEvent::OpenMode::OpenOrCreate) {
    return NamedEvent::open(name, mode, open);
}

TEST(NamedEvent, AutoResetReleasesOneWaitAndClears) {
    EventCleanup cleanup{eventName("auto")};
    auto event = openEvent(cleanup.name, NamedEvent::ResetMode::Auto);
    ASSERT_TRUE(event);
    EXPECT_FALSE(event->wait(0));
    event->set();
    event->set();  // sets do not accumulate
    EXPECT_TRUE(event->wait(0));
    EXPECT_FALSE(event->wait(0));
    EXPECT_FALSE(event->wait(20));
}

TEST(NamedEvent, ManualResetStaysSetUntilReset) {
    EventCleanup cleanup{eventName("manual")};
    auto event = openEvent(cleanup.name, NamedEvent::ResetMode::Manual);
    ASSERT_TRUE(event);
    event->set();
    EXPECT_TRUE(event->wait(0));
    EXPECT_TRUE(event->wait(0));
    event->reset();
    EXPECT_FALSE(event->wait(0));
}

TEST(NamedEvent, OpeningOnlyAnExistingEventNeverBringsARemovedNameBack) {
    if (xel::test::kWindows)
        GTEST_SKIP() << "on Windows a name lives exactly as long as a handle to its event";
    EventCleanup cleanup{eventName("existing")};
    EXPECT_FALSE(
        openEvent(cleanup.name, NamedEvent::ResetMode::Auto, NamedEvent::OpenMode::OpenExisting));
    auto created = openEvent(cleanup.name, NamedEvent::ResetMode::Auto);
    auto joined =
        openEvent(cleanup.name, NamedEvent::ResetMode::Auto, NamedEvent::OpenMode::OpenExisting);
    ASSERT_TRUE(created && joined);
    created->set();
    EXPECT_TRUE(joined->wait(0));
    NamedEvent::remove(cleanup.name);
    EXPECT_FALSE(
        openEvent(cleanup.name, NamedEvent::ResetMode::Auto, NamedEvent::OpenMode::OpenExisting));
    // The name is gone for good: a creating open starts a new event.
    created->set();
    auto fresh = openEvent(cleanup.name, NamedEvent::ResetMode::Auto);
    ASSERT_TRUE(fresh);
    EXPECT_FALSE(fresh->wait(0));
}

TEST(NamedEvent, TwoHandlesOfOneNameShareTheState) {
    EventCleanup cleanup{eventName("shared")};
    auto a = openEvent(cleanup.name, NamedEvent::ResetMode::Auto);
    auto b = openEvent(cleanup.name, NamedEvent::ResetMode::Auto);
    ASSERT_TRUE(a && b);
    a->set();
    EXPECT_TRUE(b->wait(0));
    EXPECT_FALSE(a->wait(0));
}

TEST(NamedEvent, CreateFreshDiscardsALeftSetState) {
    if (xel::test::kWindows)
        GTEST_SKIP() << "on Windows a name lives exactly as long as a handle to its event: nothing "
                        "is left that a live holder does not hold";
    EventCleanup cleanup{eventName("fresh")};
    auto old = openEvent(cleanup.name, NamedEvent::ResetMode::Manual);
    ASSERT_TRUE(old);
    old->set();
    auto fresh =
        openEvent(cleanup.name, NamedEvent::ResetMode::Manual, NamedEvent::OpenMode::CreateFresh);
    ASSERT_TRUE(fresh);
    EXPECT_FALSE(fresh->wait(0));
    EXPECT_TRUE(old->wait(0));  // a holder of the old object keeps it
}

TEST(NamedEvent, SetWakesAWaitingThread) {
    EventCleanup cleanup{eventName("thread")};
    auto event = openEvent(cleanup.name, NamedEvent::ResetMode::Auto);
    ASSERT_TRUE(event);
    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = event->wait(-1); });
    event->set();
    waiter.join();
    EXPECT_TRUE(woke);
}

TEST(NamedEvent, ManualSetReleasesEveryWaiter) {
    EventCleanup cleanup{eventName("all")};
    auto event = openEvent(cleanup.name, NamedEvent::ResetMode::Manual);
    ASSERT_TRUE(event);
    std::atomic<int> woke{0};
    std::thread a([&] { woke += event->wait(-1); });
    std::thread b([&] { woke += event->wait(-1); });
    event->set();
    a.join();
    b.join();
    EXPECT_EQ(woke, 2);
}

TEST(NamedEvent, SetInOneProcessWakesAWaitInAnother) {
    EventCleanup cleanup{eventName("process")};
    auto event = openEvent(cleanup.name, NamedEvent::ResetMode::Auto);
    ASSERT_TRUE(event);
    xel::test::PeerProcess peer({"wait-event", QString::fromStdString(cleanup.name)});
    ASSERT_TRUE(peer.started());
    ASSERT_EQ(peer.readLine(), "waiting");
    event->set();
    EXPECT_EQ(peer.readLine(), "signalled");
    EXPECT_EQ(peer.waitForExit(), 0);
}

}  // namespace
