// The channel between two real processes: this test process and xel_test_peer, driven by
// command/answer handshakes.
#include <gtest/gtest.h>

#include <QSharedMemory>

#include <algorithm>
#include <fstream>
#include <future>
#include <map>
#include <sstream>

#include "platform/process.h"
#include "render_link/channel/message_channel.h"
#include "tests/support/channel_test_support.h"
#include "tests/support/peer_process.h"
#include "tests/support/system.h"

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
    // The reader's pass over a whole segment is one step of progress; under the sanitizers it can
    // take longer than the production stall limit.
    ChannelOptions options;
    options.stallLimitMs = 300000;
    MessageChannel channel(&seen, id, options);
    channel.run();
    auto peer = startPeer(id, kSegmentBytes, "ready 0");
    ASSERT_EQ(peer->ask("run"), "ok");
    const std::size_t size = kSegmentBytes + 12345678;
    sendAndExpect(channel, *peer, {{"small", 10, 1}, {"huge", size, 2}, {"tail", 3, 3}});
}

// The peak memory of this process so far, in bytes.
std::size_t peakResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoull(line.substr(6)) * 1024;
    }
    return 0;
}

// The index of each sent message by the digest of its bytes, to tell which ones a peer got.
std::map<std::uint64_t, int> indexByDigest(const std::vector<Sent>& sent) {
    std::map<std::uint64_t, int> index;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const auto bytes = pattern(sent[i].size, sent[i].seed);
        index[digest(bytes.data(), bytes.size())] = static_cast<int>(i);
    }
    return index;
}

// Reads the peer's `count` message lines and returns the indices in `sent` of what arrived.
std::vector<int> arrivedIndices(PeerProcess& peer, const std::vector<Sent>& sent,
                                std::size_t count) {
    const auto index = indexByDigest(sent);
    std::vector<int> arrived;
    EXPECT_EQ(peer.ask("expect " + std::to_string(count)), "got " + std::to_string(count));
    for (std::size_t i = 0; i < count; ++i) {
        std::istringstream in(peer.readLine());
        std::string word, type;
        std::size_t size = 0;
        std::uint64_t hash = 0;
        in >> word >> type >> size >> hash;
        const auto it = index.find(hash);
        arrived.push_back(it == index.end() ? -1 : it->second);
    }
    return arrived;
}

std::vector<std::string> errorCodes(const RecordingObserver& observer) {
    std::vector<std::string> codes;
    for (const std::string& error : observer.errors())
        codes.push_back(error.substr(0, error.find(' ')));
    return codes;
}

TEST_F(ChannelProcesses, BehindASlowReaderEverySynchronousMessageArrivesAndTheBacklogIsBounded) {
    ChannelOptions options;
    options.segmentBytes = 1 << 20;
    options.maxQueuedBytes = 256 << 10;
    MessageChannel channel(&seen, id, options);
    channel.run();
    auto peer = startPeer(id, options.segmentBytes, "ready 0");
    ASSERT_EQ(peer->ask("slow 1000"), "ok");  // a millisecond a message, whatever the build
    ASSERT_EQ(peer->ask("pause"), "ok");      // its first batch stays in its handler
    ASSERT_EQ(peer->ask("run"), "ok");

    // While the reader holds its first batch (at most a segment's 15 records), the writer takes a
    // segment's worth and the backlog's bound (4) more: of a burst of 48 the rest is dropped,
    // however fast either side runs. Then the reader goes on, slowly, behind a long mix.
    constexpr int kHeldBurst = 48;
    std::vector<Sent> sent;
    std::vector<std::vector<char>> payloads;
    for (int i = 0; i < kHeldBurst + 900; ++i) {
        const bool sync = i >= kHeldBurst && (i - kHeldBurst) % 10 == 0;
        sent.push_back({sync ? "sync" : "async", 64 << 10, static_cast<std::uint32_t>(i)});
        payloads.push_back(pattern(sent.back().size, sent.back().seed));
    }
    [[maybe_unused]] const std::size_t peakBefore = peakResidentBytes();
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const Sent& m = sent[i];
        const auto& bytes = payloads[i];
        if (m.type == "sync")
            channel.sendMessage("sync", bytes.data(), static_cast<long>(bytes.size()));
        else
            channel.sendMessageAsync("async", bytes.data(), bytes.size());
        if (i + 1 == kHeldBurst) {
            ASSERT_EQ(peer->ask("resume"), "ok");  // long before the writer's stall limit
        }
    }
    channel.waitForAsyncIdle();
    // 810 asynchronous messages of 64 KiB would hold 50 MiB if the backlog were not bounded.
    // AddressSanitizer keeps freed memory in quarantine, so there only the count tells.
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(peakResidentBytes() - peakBefore, std::size_t(16) << 20);
#endif

    const std::uint64_t dropped = channel.droppedMessages();
    EXPECT_GE(dropped, std::uint64_t(kHeldBurst - 15 - 15 - 4));
    const auto codes = errorCodes(seen);
    EXPECT_EQ(codes, std::vector<std::string>(dropped, "-4"));  // each reported once, as such

    const auto arrived = arrivedIndices(*peer, sent, sent.size() - dropped);
    EXPECT_TRUE(std::is_sorted(arrived.begin(), arrived.end()));
    EXPECT_EQ(std::count(arrived.begin(), arrived.end(), -1), 0);
    for (int i = kHeldBurst; i < static_cast<int>(sent.size()); i += 10)
        EXPECT_TRUE(std::binary_search(arrived.begin(), arrived.end(), i)) << "sync " << i;
}

TEST_F(ChannelProcesses, ASynchronousMessageLargerThanTheFreeSpaceBehindABacklogArrivesWhole) {
    ChannelOptions options;
    options.segmentBytes = 64 << 10;
    MessageChannel channel(&seen, id, options);
    channel.run();
    auto peer = startPeer(id, options.segmentBytes, "ready 0");
    ASSERT_EQ(peer->ask("slow 200"), "ok");
    ASSERT_EQ(peer->ask("run"), "ok");
    std::vector<Sent> sent;
    for (int i = 0; i < 60; ++i)
        sent.push_back({"queued", 4000, static_cast<std::uint32_t>(i)});
    sent.push_back({"big", 300000, 100});
    sent.push_back({"tail", 10, 101});
    for (const Sent& m : sent) {
        const auto bytes = pattern(m.size, m.seed);
        if (m.type == "queued")
            channel.sendMessageAsync("queued", bytes.data(), bytes.size());
        else
            channel.sendMessage(m.type.c_str(), bytes.data(), static_cast<long>(bytes.size()));
    }
    EXPECT_EQ(channel.droppedMessages(), 0u);
    ASSERT_EQ(peer->ask("expect " + std::to_string(sent.size())),
              "got " + std::to_string(sent.size()));
    for (const Sent& m : sent)
        ASSERT_EQ(peer->readLine(), line(m));
}

// A peer stopped with SIGSTOP: a synchronous send that waits for room gives up within the stall
// limit and reports the message; until the peer takes something again, a send that would wait
// gives up at once.
class StalledPeer : public ChannelProcesses {
protected:
    void SetUp() override {
        options.segmentBytes = 64 << 10;
        // Paid once, when the stopped peer is first found full; once the peer runs again, its
        // reader has this long to wake and take a message that the next send waits behind.
        options.stallLimitMs = 1000;
        channel = std::make_unique<MessageChannel>(&seen, id, options);
        channel->run();
        peer = startPeer(id, options.segmentBytes, "ready 0");
        ASSERT_EQ(peer->ask("run"), "ok");
        sendAndExpect(*channel, *peer, {{"first", 10, 1}});
        peer->stop();
        for (int i = 0; i < 8; ++i) {  // 128 KiB for a segment of 64 KiB
            sent.push_back({"full", 16 << 10, static_cast<std::uint32_t>(10 + i)});
            const auto bytes = pattern(sent.back().size, sent.back().seed);
            channel->sendMessage("full", bytes.data(), static_cast<long>(bytes.size()));
        }
    }

    ChannelOptions options;
    std::unique_ptr<MessageChannel> channel;
    std::unique_ptr<PeerProcess> peer;
    std::vector<Sent> sent;
};

TEST_F(StalledPeer, GivesUpReportsAndRecoversWhenThePeerGoesOn) {
    EXPECT_TRUE(channel->peerStalled());
    const std::uint64_t dropped = channel->droppedMessages();
    EXPECT_GE(dropped, 5u);  // at most three fit behind each other
    EXPECT_EQ(errorCodes(seen), std::vector<std::string>(dropped, "-2"));
    ASSERT_FALSE(seen.errors().empty());
    EXPECT_NE(seen.errors().front().find("the peer took nothing for 1000 ms"), std::string::npos);

    peer->resume();
    const auto after = pattern(5, 99);
    channel->sendMessage("after", after.data(), 5);
    sent.push_back({"after", 5, 99});
    const auto arrived = arrivedIndices(*peer, sent, sent.size() - dropped);
    EXPECT_EQ(arrived.back(), static_cast<int>(sent.size()) - 1);
    EXPECT_TRUE(std::is_sorted(arrived.begin(), arrived.end()));
    // The next write sees that the peer took what waited: sends wait for it again.
    sendAndExpect(*channel, *peer, {{"again", 40000, 7}, {"more", 40000, 8}});
    EXPECT_FALSE(channel->peerStalled());
    EXPECT_EQ(channel->droppedMessages(), dropped);
}

TEST_F(StalledPeer, ANewPeerTakesOverOnceTheStalledOneIsAbandoned) {
    EXPECT_TRUE(channel->peerStalled());
    peer->kill();
    channel->abandonPeer();
    EXPECT_FALSE(channel->peerStalled());
    auto next = startPeer(id, options.segmentBytes, "ready 0");
    ASSERT_EQ(next->ask("run"), "ok");
    sendAndExpect(*channel, *next, mixedMessages(40, 3));
    peerSendsAndExpect(*next, seen, 0, "back", 700, 4, 20);
}

TEST_F(ChannelProcesses, HandlersOnBothSidesAnswerSynchronouslyWithoutDeadlock) {
    MessageChannel channel(&seen, id);
    seen.answerEchoesOn(&channel, true);
    channel.run();
    auto peer = startPeer(id, kSegmentBytes, "ready 0");
    ASSERT_EQ(peer->ask("sync-echoes"), "ok");
    ASSERT_EQ(peer->ask("run"), "ok");
    constexpr int kCount = 3000;
    // Both sides send at once, and each handler answers from inside the delivery.
    peer->writeLine("send echo 64 1 " + std::to_string(kCount));
    for (int i = 0; i < kCount; ++i) {
        const auto bytes = pattern(64, 1000 + i);
        channel.sendMessage("echo", bytes.data(), 64);
    }
    EXPECT_EQ(peer->readLine(), "ok");
    EXPECT_TRUE(seen.waitForType("echores", kCount));
    EXPECT_TRUE(seen.waitForType("echo", kCount));
    EXPECT_EQ(peer->ask("await echores " + std::to_string(kCount)),
              "got " + std::to_string(kCount));
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

TEST_F(ChannelProcesses, WhatAPeerWroteBeforeItEndedIsDeliveredBeforeItsEndIsActedOn) {
    MessageChannel channel(&seen, id);
    channel.run();
    auto peer = startPeer(id, kSegmentBytes, "ready 0");
    ASSERT_EQ(peer->ask("run"), "ok");
    // The reader holds what it takes until the peer has ended: it is all still to be delivered.
    seen.pauseDelivery();
    ASSERT_EQ(peer->ask("send last 32 1 3"), "ok");
    EXPECT_EQ(peer->ask("quit"), "bye");
    ASSERT_EQ(peer->waitForExit(), 0);
    ASSERT_TRUE(seen.messages().empty());

    // Held up, the wait gives up: when told to, and at its time limit.
    EXPECT_FALSE(channel.deliverPeerLeftovers(60000, [] { return true; }));
    EXPECT_FALSE(channel.deliverPeerLeftovers(50, nullptr));

    auto delivered = std::async(std::launch::async,
                                [&] { return channel.deliverPeerLeftovers(60000, nullptr); });
    seen.resumeDelivery();
    ASSERT_TRUE(delivered.get());
    // Every message was handed over by the time the wait ended.
    const auto messages = seen.messages();
    ASSERT_EQ(messages.size(), 3u);
    for (std::uint32_t i = 0; i < 3; ++i) {
        const auto bytes = pattern(32, 1 + i);
        EXPECT_EQ(messages[i].type, "last");
        EXPECT_EQ(digest(messages[i].data.data(), messages[i].data.size()),
                  digest(bytes.data(), bytes.size()));
    }
    // Nothing left: at once.
    EXPECT_TRUE(channel.deliverPeerLeftovers(60000, nullptr));
    channel.close();
    EXPECT_FALSE(channel.deliverPeerLeftovers(60000, nullptr));
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
    if (test::kWindows)
        GTEST_SKIP()
            << "on Windows the survivor's watch holds the dead creator's process, whose id "
               "is then not given again";
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
