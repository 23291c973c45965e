#include "platform/process_watch.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/named_event.h"
#include "platform/process.h"
#include "tests/support/peer_process.h"

using xel::platform::ProcessWatch;

namespace {

TEST(ProcessWatch, AProcessThatEndsIsSeenToEnd) {
    const QString eventName = "pw" + QString::number(xel::platform::currentProcessId());
    struct Cleanup {
        std::string name;
        ~Cleanup() { xel::platform::NamedEvent::remove(name); }
    } cleanup{eventName.toStdString()};
    xel::test::PeerProcess peer({"wait-event", eventName});
    ASSERT_TRUE(peer.started());
    ASSERT_EQ(peer.readLine(), "waiting");
    ProcessWatch watch(peer.pid());
    EXPECT_FALSE(watch.hasEnded());
    std::thread killer([&] { peer.kill(); });
    EXPECT_TRUE(watch.waitForEnd());
    killer.join();
    EXPECT_TRUE(watch.hasEnded());
}

TEST(ProcessWatch, TerminateEndsAStoppedProcess) {
    const QString eventName = "pt" + QString::number(xel::platform::currentProcessId());
    struct Cleanup {
        std::string name;
        ~Cleanup() { xel::platform::NamedEvent::remove(name); }
    } cleanup{eventName.toStdString()};
    xel::test::PeerProcess peer({"wait-event", eventName});
    ASSERT_TRUE(peer.started());
    ASSERT_EQ(peer.readLine(), "waiting");
    ProcessWatch watch(peer.pid());
    ASSERT_FALSE(watch.hasEnded());
    peer.stop();  // not even a stopped process has a say
    watch.terminate();
    EXPECT_TRUE(watch.waitForEnd());
    watch.terminate();  // ended: nothing happens
    EXPECT_TRUE(watch.hasEnded());
}

TEST(ProcessWatch, ThisProcessHasNotEndedAndAWaitCanBeCancelled) {
    ProcessWatch watch(xel::platform::currentProcessId());
    EXPECT_FALSE(watch.hasEnded());
    std::thread canceller([&] { watch.cancel(); });
    EXPECT_FALSE(watch.waitForEnd());
    canceller.join();
}

TEST(ProcessWatch, NoProcessCountsAsEnded) {
    EXPECT_TRUE(ProcessWatch(0).hasEnded());
    EXPECT_TRUE(ProcessWatch(0).waitForEnd());
}

TEST(Process, ThisProcessHasAParent) {
    EXPECT_GT(xel::platform::parentProcessId(), 0);
    EXPECT_TRUE(xel::platform::processExists(xel::platform::parentProcessId()));
}

}  // namespace
