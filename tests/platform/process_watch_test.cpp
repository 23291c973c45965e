#include "platform/process_watch.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/named_event.h"
#include "platform/process.h"
#include "tests/support/peer_process.h"
#include "tests/support/system.h"

using xel::platform::ProcessWatch;

namespace {

// A peer process that waits for a named event nobody sets; the event goes with the object.
struct WaitingPeer {
    explicit WaitingPeer(const char* prefix)
        : event(prefix + std::to_string(xel::platform::currentProcessId())),
          process({"wait-event", QString::fromStdString(event)}) {}
    ~WaitingPeer() { xel::platform::NamedEvent::remove(event); }
    bool ready() { return process.started() && process.readLine() == "waiting"; }

    std::string event;
    xel::test::PeerProcess process;
};

TEST(ProcessWatch, AProcessThatEndsIsSeenToEnd) {
    WaitingPeer peer("pw");
    ASSERT_TRUE(peer.ready());
    ProcessWatch watch(peer.process.pid());
    EXPECT_FALSE(watch.hasEnded());
    // Ended through a watch of its own: the peer's QProcess belongs to this thread.
    std::thread killer([&] { ProcessWatch(peer.process.pid()).terminate(); });
    EXPECT_TRUE(watch.waitForEnd());
    killer.join();
    EXPECT_TRUE(watch.hasEnded());
}

TEST(ProcessWatch, TerminateEndsAStoppedProcess) {
    WaitingPeer peer("pt");
    ASSERT_TRUE(peer.ready());
    ProcessWatch watch(peer.process.pid());
    ASSERT_FALSE(watch.hasEnded());
    peer.process.stop();  // not even a stopped process has a say
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
    if (xel::test::runningUnderWine())
        GTEST_SKIP() << "under Wine a program started from Linux has no Windows parent";
    EXPECT_GT(xel::platform::parentProcessId(), 0);
    EXPECT_TRUE(xel::platform::processExists(xel::platform::parentProcessId()));
}

}  // namespace
