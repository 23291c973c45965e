// The channel between two real processes: this test process and xel_test_peer, driven by
// command/answer handshakes.
#include <gtest/gtest.h>

#include <QSharedMemory>

#include <sstream>

#include "platform/process.h"
#include "render_link/channel/message_channel.h"
#include "tests/support/channel_test_support.h"
#include "tests/support/peer_process.h"

using namespace xel;
using xel::test::ChannelCleanup;
using xel::test::digest;
using xel::test::pattern;
using xel::test::PeerProcess;
using xel::test::RecordingObserver;

namespace {

struct Sent {
    std::string type;
    std::size_t size;
    std::uint32_t seed;
};

std::string line(const Sent& m) {
    const auto bytes = pattern(m.size, m.seed);
    return "msg " + m.type + " " + std::to_string(m.size) + " " +
           std::to_string(digest(bytes.data(), bytes.size()));
}

std::unique_ptr<PeerProcess> startPeer(qint32 queueId, std::size_t segmentBytes,
                                       const char* expectedReady) {
    auto peer = std::make_unique<PeerProcess>(
        QStringList{"channel", QString::number(queueId), QString::number(segmentBytes)});
    EXPECT_TRUE(peer->started());
    EXPECT_EQ(peer->readLine(), expectedReady);
    return peer;
}

// Sends `messages` from `channel` and checks that the peer received exactly them, in order.
void sendAndExpect(MessageChannel& channel, PeerProcess& peer, const std::vector<Sent>& messages) {
    for (const Sent& m : messages) {
        const auto bytes = pattern(m.size, m.seed);
        channel.sendMessage(m.type.c_str(), bytes.data(), static_cast<long>(bytes.size()));
    }
    ASSERT_EQ(peer.ask("expect " + std::to_string(messages.size())),
              "got " + std::to_string(messages.size()));
    for (const Sent& m : messages)
        ASSERT_EQ(peer.readLine(), line(m));
}

// Asks the peer to send `count` messages and checks that `seen` got them, after `already`.
void peerSendsAndExpect(PeerProcess& peer, RecordingObserver& seen, std::size_t already,
                        const std::string& type, std::size_t size, std::uint32_t seed, int count) {
    ASSERT_EQ(peer.ask("send " + type + " " + std::to_string(size) + " " + std::to_string(seed) +
                       " " + std::to_string(count)),
              "ok");
    ASSERT_TRUE(seen.waitForMessages(already + count));
    const auto messages = seen.messages();
    for (int i = 0; i < count; ++i) {
        const auto& m = messages[already + i];
        const auto bytes = pattern(size, seed + i);
        ASSERT_EQ(m.type, type);
        ASSERT_EQ(m.data.size(), size);
        ASSERT_EQ(digest(m.data.data(), size), digest(bytes.data(), size));
    }
}

std::vector<Sent> mixedMessages(int count, std::uint32_t seed) {
    static const std::size_t sizes[] = {0, 1, 64, 4096, 100000, 13};
    std::vector<Sent> messages;
    for (int i = 0; i < count; ++i)
        messages.push_back({"m" + std::to_string(i % 10), sizes[i % 6], seed + i});
    return messages;
}

class ChannelProcesses : public ::testing::Test {
protected:
    const qint32 id = test::uniqueQueueId(3);
    ChannelCleanup cleanup{id};
    RecordingObserver seen;
};

TEST_F(ChannelProcesses, MessagesCrossBothWaysInOrder) {
    MessageChannel channel(&seen, id);
    ASSERT_TRUE(channel.isCreator());
    channel.run();
    auto peer = startPeer(id, kSegmentBytes, "ready 0");
    ASSERT_EQ(peer->ask("run"), "ok");
    sendAndExpect(channel, *peer, mixedMessages(1000, 1));
    peerSendsAndExpect(*peer, seen, 0, "back", 3000, 9, 500);
    EXPECT_EQ(peer->ask("quit"), "bye");
}

TEST_F(ChannelProcesses, QueueIdZeroIsTheCreatorsProcessId) {
    const auto pid = static_cast<qint32>(platform::currentProcessId());
    ChannelCleanup pidCleanup(pid);
    MessageChannel channel(&seen, 0);
    ASSERT_EQ(channel.queueId(), pid);
    channel.run();
    auto peer = startPeer(pid, kSegmentBytes, "ready 0");
    ASSERT_EQ(peer->ask("run"), "ok");
    sendAndExpect(channel, *peer, {{"hello", 5, 1}});
    peerSendsAndExpect(*peer, seen, 0, "hi", 2, 2, 1);
}

TEST_F(ChannelProcesses, QueueId1234NamesTheSegments) {
    ChannelCleanup named(1234);
    MessageChannel channel(&seen, 1234);
    channel.run();
    auto peer = startPeer(1234, kSegmentBytes, "ready 0");
    ASSERT_EQ(peer->ask("run"), "ok");
    QSharedMemory sender(QStringLiteral("1234_Sender"));
    QSharedMemory receiver(QStringLiteral("1234_Receiver"));
    EXPECT_TRUE(sender.attach());
    EXPECT_TRUE(receiver.attach());
    EXPECT_EQ(sender.size(), 671088640);
    sendAndExpect(channel, *peer, {{"x", 10, 3}});
}

TEST_F(ChannelProcesses, ABurstWrittenBeforeThePeerRunsArrivesWhole) {
    MessageChannel channel(&seen, id);
    channel.run();
    auto peer = startPeer(id, kSegmentBytes, "ready 0");
    const auto burst = mixedMessages(300, 5);
    for (const Sent& m : burst) {
        const auto bytes = pattern(m.size, m.seed);
        channel.sendMessage(m.type.c_str(), bytes.data(), static_cast<long>(bytes.size()));
    }
    ASSERT_EQ(peer->ask("run"), "ok");
    ASSERT_EQ(peer->ask("expect 300"), "got 300");
    for (const Sent& m : burst)
        ASSERT_EQ(peer->readLine(), line(m));
}

TEST_F(ChannelProcesses, AMessageLargerThanASegmentArrivesOnceAndWhole) {
    MessageChannel channel(&seen, id);
    channel.run();
    auto peer = startPeer(id, kSegmentBytes, "ready 0");
    ASSERT_EQ(peer->ask("run"), "ok");
    const std::size_t size = kSegmentBytes + 12345678;
    sendAndExpect(channel, *peer, {{"small", 10, 1}, {"huge", size, 2}, {"tail", 3, 3}});
}

TEST_F(ChannelProcesses, ANearlyFullSegmentIsRetriedLater) {
    constexpr std::size_t kSegment = 4096;
    MessageChannel channel(&seen, id, ChannelOptions{kSegment});
    channel.run();
    auto peer = startPeer(id, kSegment, "ready 0");
    std::vector<Sent> messages;
    for (int i = 0; i < 100; ++i)
        messages.push_back({"n", 100, static_cast<std::uint32_t>(i)});
    for (const Sent& m : messages) {  // about 33 fit; every send returns at once
        const auto bytes = pattern(m.size, m.seed);
        channel.sendMessage(m.type.c_str(), bytes.data(), static_cast<long>(bytes.size()));
    }
    ASSERT_EQ(peer->ask("run"), "ok");
    ASSERT_EQ(peer->ask("expect 100"), "got 100");
    for (const Sent& m : messages)
        ASSERT_EQ(peer->readLine(), line(m));
    EXPECT_EQ(channel.droppedMessages(), 0u);
}

TEST_F(ChannelProcesses, TheSecondSideAttachesToTheSegmentsTheFirstCreated) {
    auto peer = startPeer(id, kSegmentBytes, "ready 1");  // the peer comes first and creates
    ASSERT_EQ(peer->ask("run"), "ok");
    MessageChannel channel(&seen, id);
    EXPECT_FALSE(channel.isCreator());
    channel.run();
    sendAndExpect(channel, *peer, mixedMessages(20, 7));
    peerSendsAndExpect(*peer, seen, 0, "back", 10, 1, 20);
}

TEST_F(ChannelProcesses, ThePeerKilledTheSurvivorWorksAndARestartedPeerAttaches) {
    MessageChannel channel(&seen, id);
    channel.run();
    {
        auto peer = startPeer(id, kSegmentBytes, "ready 0");
        ASSERT_EQ(peer->ask("run"), "ok");
        sendAndExpect(channel, *peer, {{"before", 8, 1}});
        peer->kill();
    }
    const auto between = pattern(16, 2);
    channel.sendMessage("between", between.data(), 16);  // nobody reads; nothing breaks
    auto restarted = startPeer(id, kSegmentBytes, "ready 0");
    ASSERT_EQ(restarted->ask("run"), "ok");
    ASSERT_EQ(restarted->ask("expect 1"), "got 1");
    EXPECT_EQ(restarted->readLine(), line({"between", 16, 2}));
    sendAndExpect(channel, *restarted, {{"after", 4, 3}});
    peerSendsAndExpect(*restarted, seen, 0, "back", 5, 1, 3);
}

TEST_F(ChannelProcesses, ANewSessionDoesNotInheritAKilledCreatorsSegments) {
    {
        auto dead = startPeer(id, kSegmentBytes, "ready 1");
        ASSERT_EQ(dead->ask("send stale 32 1 5"), "ok");  // never read
        dead->kill();
    }
    MessageChannel channel(&seen, id);
    EXPECT_TRUE(channel.isCreator());
    channel.run();
    auto peer = startPeer(id, kSegmentBytes, "ready 0");
    ASSERT_EQ(peer->ask("run"), "ok");
    sendAndExpect(channel, *peer, {{"fresh", 6, 4}});
    peerSendsAndExpect(*peer, seen, 0, "back", 7, 5, 2);
}

TEST_F(ChannelProcesses, ACreatorKilledUnderALivePeerLeavesNoTrap) {
    auto creator = startPeer(id, kSegmentBytes, "ready 1");
    ASSERT_EQ(creator->ask("run"), "ok");
    auto orphan = startPeer(id, kSegmentBytes, "ready 0");
    ASSERT_EQ(orphan->ask("run"), "ok");
    creator->kill();
    ASSERT_EQ(orphan->ask("send lost 10 1 3"), "ok");  // the survivor keeps working

    MessageChannel channel(&seen, id);  // a new session under the same id
    EXPECT_TRUE(channel.isCreator());
    channel.run();
    auto peer = startPeer(id, kSegmentBytes, "ready 0");
    ASSERT_EQ(peer->ask("run"), "ok");
    sendAndExpect(channel, *peer, {{"new", 3, 9}});
    peerSendsAndExpect(*peer, seen, 0, "back", 4, 2, 2);
    EXPECT_EQ(orphan->ask("quit"), "bye");
}

}  // namespace
