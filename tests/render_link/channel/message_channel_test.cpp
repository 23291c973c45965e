// Framing, chunking, retry and lifecycle of the channel, with both ends in this process on small
// segments. The bytes expected in a segment are written out by hand from the record layout.
#include "render_link/channel/message_channel.h"

#include <gtest/gtest.h>

#include <QSharedMemory>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/interprocess_mutex.h"
#include "platform/named_event.h"
#include "platform/process.h"
#include "tests/support/blocked_name.h"
#include "tests/support/channel_test_support.h"
#include "tests/support/system.h"

using namespace xel;
using xel::test::ChannelCleanup;
using xel::test::digest;
using xel::test::pattern;
using xel::test::RecordingObserver;

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::size_t kSmall = 1024;  // a segment: 8 bytes of count, 1016 for records

std::vector<std::string> typesOf(const std::vector<test::ReceivedMessage>& messages) {
    std::vector<std::string> types;
    for (const auto& m : messages)
        types.push_back(m.type);
    return types;
}

class ChannelPair : public ::testing::Test {
protected:
    void open(std::size_t segmentBytes = kSmall, ChannelOptions options = {}) {
        options.segmentBytes = segmentBytes;
        creator = std::make_unique<MessageChannel>(&creatorSeen, id, options);
        attacher = std::make_unique<MessageChannel>(&attacherSeen, id, options);
        ASSERT_TRUE(creator->isCreator());
        ASSERT_FALSE(attacher->isCreator());
        senderView = std::make_unique<QSharedMemory>(QString::number(id) + "_Sender");
        ASSERT_TRUE(senderView->attach());
    }
    void runBoth() {
        creator->run();
        attacher->run();
        ASSERT_TRUE(creatorSeen.waitForConnected());
        ASSERT_TRUE(attacherSeen.waitForConnected());
    }
    // The creator's segment, as the attacher reads it.
    Bytes senderBytes(std::size_t offset, std::size_t count) const {
        const auto* base = static_cast<const unsigned char*>(senderView->constData());
        return Bytes(base + offset, base + offset + count);
    }
    std::uint64_t senderWord(std::size_t offset) const {
        std::uint64_t value;
        std::memcpy(&value, static_cast<const char*>(senderView->constData()) + offset, 8);
        return value;
    }
    // Any writer of the creator's segment holds this lock; the reader clears the count under it.
    void setSenderWord(std::size_t offset, std::uint64_t value) {
        std::memcpy(static_cast<char*>(senderView->data()) + offset, &value, 8);
    }
    std::unique_ptr<platform::InterProcessMutex> senderLock() const {
        return platform::InterProcessMutex::open(
            std::to_string(id) + "_SenderLock",
            platform::InterProcessMutex::OpenMode::OpenExisting);
    }

    const qint32 id = test::uniqueQueueId(1);
    ChannelCleanup cleanup{id};
    RecordingObserver creatorSeen;
    RecordingObserver attacherSeen;
    std::unique_ptr<MessageChannel> creator;
    std::unique_ptr<MessageChannel> attacher;
    std::unique_ptr<QSharedMemory> senderView;
};

TEST_F(ChannelPair, TheEchoRecordWithAbcIsThirtyOneBytes) {
    open();
    const Bytes payload{3, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'};
    creator->sendMessage("echo", payload.data(), static_cast<long>(payload.size()));

    EXPECT_EQ(senderBytes(0, 8), (Bytes{1, 0, 0, 0, 0, 0, 0, 0}));   // one record waiting
    EXPECT_EQ(senderBytes(8, 8), (Bytes{31, 0, 0, 0, 0, 0, 0, 0}));  // its length
    EXPECT_EQ(senderBytes(16, 5), (Bytes{'e', 'c', 'h', 'o', 0}));   // the type field
    EXPECT_EQ(senderBytes(28, 11), payload);

    runBoth();
    ASSERT_TRUE(attacherSeen.waitForMessages(1));
    const auto received = attacherSeen.messages();
    EXPECT_EQ(received[0].type, "echo");
    EXPECT_EQ(received[0].data, std::vector<char>(payload.begin(), payload.end()));
}

TEST_F(ChannelPair, AZeroLengthPayloadIsATwentyByteRecord) {
    open();
    creator->sendMessage("empty", nullptr, 0);
    EXPECT_EQ(senderWord(0), 1u);
    EXPECT_EQ(senderWord(8), 20u);
    runBoth();
    ASSERT_TRUE(attacherSeen.waitForMessages(1));
    EXPECT_EQ(attacherSeen.messages()[0].type, "empty");
    EXPECT_TRUE(attacherSeen.messages()[0].data.empty());
}

TEST_F(ChannelPair, ANegativeSizeIsRejected) {
    open();
    const char data[4] = {};
    creator->sendMessage("neg", data, -1);
    EXPECT_EQ(senderWord(0), 0u);
}

TEST_F(ChannelPair, RecordsWrittenBeforeTheReaderRunsArriveInOrder) {
    open();
    for (const char* type : {"first", "second", "third"})
        creator->sendMessage(type, type, static_cast<long>(std::strlen(type)));
    EXPECT_EQ(senderWord(0), 3u);
    runBoth();
    ASSERT_TRUE(attacherSeen.waitForMessages(3));
    EXPECT_EQ(typesOf(attacherSeen.messages()),
              (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(attacherSeen.messages()[1].data, (std::vector<char>{'s', 'e', 'c', 'o', 'n', 'd'}));
}

TEST_F(ChannelPair, TypesAreCutToTwelveBytes) {
    open();
    runBoth();
    for (const char* type : {"abcdefghijk", "abcdefghijkl", "abcdefghijklmnop"})
        creator->sendMessage(type, nullptr, 0);
    ASSERT_TRUE(attacherSeen.waitForMessages(3));
    EXPECT_EQ(typesOf(attacherSeen.messages()),
              (std::vector<std::string>{"abcdefghijk", "abcdefghijkl", "abcdefghijkl"}));
}

// A record is written only with more than 36 bytes free; otherwise an asynchronous message waits
// in the backlog until the reader drains. The first record leaves exactly the parameter free.
class FreeSpaceEdge : public ChannelPair, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(FreeSpaceEdge, ARecordNeedsMoreThanThirtySixBytesFree) {
    const std::size_t freeBytes = GetParam();
    open();
    const auto fill = pattern(kSmall - 8 - 20 - freeBytes, 1);
    creator->sendMessage("fill", fill.data(), static_cast<long>(fill.size()));
    creator->sendMessageAsync("next", nullptr, 0);  // written at once when it fits
    EXPECT_EQ(senderWord(0), freeBytes <= 36 ? 1u : 2u);

    runBoth();
    ASSERT_TRUE(attacherSeen.waitForMessages(2));
    EXPECT_EQ(typesOf(attacherSeen.messages()), (std::vector<std::string>{"fill", "next"}));
    EXPECT_EQ(creator->droppedMessages(), 0u);
}

INSTANTIATE_TEST_SUITE_P(FreeBytes, FreeSpaceEdge, ::testing::Values(36u, 37u));

// Chunked sends at their edges, in both directions. With 1016 bytes for records, the first part
// holds 996 payload bytes and each chunk 1016.
struct ChunkCase {
    const char* what;
    std::size_t size;
};

void PrintTo(const ChunkCase& c, std::ostream* out) {
    *out << c.what;
}

class ChunkEdges : public ChannelPair, public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(ChunkEdges, AMessageLargerThanTheFreeSpaceArrivesOnceAndWhole) {
    open();
    runBoth();
    const std::size_t size = GetParam().size;
    const auto payload = pattern(size, 7);
    creator->sendMessage("big", payload.data(), static_cast<long>(size));
    attacher->sendMessage("big", payload.data(), static_cast<long>(size));
    // A record right behind the chunks must not be mistaken for a chunk.
    creator->sendMessage("after", "x", 1);
    attacher->sendMessage("after", "y", 1);
    for (RecordingObserver* seen : {&attacherSeen, &creatorSeen}) {
        ASSERT_TRUE(seen->waitForMessages(2));
        const auto messages = seen->messages();
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[0].type, "big");
        ASSERT_EQ(messages[0].data.size(), size);
        EXPECT_EQ(digest(messages[0].data.data(), size), digest(payload.data(), size));
        EXPECT_EQ(messages[1].type, "after");
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ChunkEdges,
                         ::testing::Values(ChunkCase{"ExactlyTheFreeSpace", 996},
                                           ChunkCase{"OneByteOver", 997},
                                           ChunkCase{"ExactlyOneChunk", 996 + 1016},
                                           ChunkCase{"SeveralChunks", 996 + 3 * 1016 + 5}),
                         [](const auto& info) { return std::string(info.param.what); });

// The sizes the reader hands a placement function, in order.
std::mutex g_placedMutex;
std::vector<std::size_t> g_placedSizes;

std::size_t recordPlacement(const char*, const void*, std::size_t size) {
    std::lock_guard<std::mutex> guard(g_placedMutex);
    g_placedSizes.push_back(size);
    return 0;
}

// A placement reads the payload in the segment: for a message that continues in chunks it is
// given the first part only (996 bytes), not the length the record claims, which lies past the
// segment's end.
TEST_F(ChannelPair, APlacementIsGivenOnlyThePayloadBytesTheSegmentHolds) {
    g_placedSizes.clear();
    ChannelOptions options;
    options.placement = recordPlacement;
    open(kSmall, options);
    runBoth();
    const auto small = pattern(100, 3);
    const auto large = pattern(996 + 1016 + 10, 4);
    creator->sendMessage("small", small.data(), static_cast<long>(small.size()));
    // Delivered once the reader has emptied the segment: the large record starts at offset 8.
    ASSERT_TRUE(attacherSeen.waitForMessages(1));
    creator->sendMessage("large", large.data(), static_cast<long>(large.size()));
    ASSERT_TRUE(attacherSeen.waitForMessages(2));
    {
        std::lock_guard<std::mutex> guard(g_placedMutex);
        EXPECT_EQ(g_placedSizes, (std::vector<std::size_t>{100, 996}));
    }
    const auto messages = attacherSeen.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].type, "large");
    EXPECT_EQ(messages[1].data, std::vector<char>(large.begin(), large.end()));
}

TEST_F(ChannelPair, ANearlyFullSegmentIsRetriedOnceTheReaderDrains) {
    open();
    const auto fill = pattern(kSmall - 8 - 20 - 30, 2);
    creator->sendMessage("fill", fill.data(), static_cast<long>(fill.size()));
    for (int i = 0; i < 50; ++i)  // queued: the reader is not running
        creator->sendMessageAsync("queued", reinterpret_cast<const char*>(&i), sizeof i);
    EXPECT_EQ(senderWord(0), 1u);

    runBoth();
    ASSERT_TRUE(attacherSeen.waitForMessages(51));
    const auto messages = attacherSeen.messages();
    for (int i = 0; i < 50; ++i) {
        int value = -1;
        std::memcpy(&value, messages[i + 1].data.data(), sizeof value);
        EXPECT_EQ(value, i);
    }
    EXPECT_EQ(creator->droppedMessages(), 0u);
}

TEST_F(ChannelPair, OneThreadsSyncAndAsyncSendsKeepTheirOrder) {
    open();
    runBoth();
    constexpr int kCount = 3000;
    for (int i = 0; i < kCount; ++i) {
        const auto payload = pattern(static_cast<std::size_t>(i % 7) * 150, i);
        std::vector<char> tagged(payload);
        tagged.insert(tagged.begin(), reinterpret_cast<const char*>(&i),
                      reinterpret_cast<const char*>(&i) + sizeof i);
        if (i % 3 == 0)
            creator->sendMessage("sync", tagged.data(), static_cast<long>(tagged.size()));
        else
            creator->sendMessageAsync("async", tagged.data(), tagged.size());
    }
    ASSERT_TRUE(attacherSeen.waitForMessages(kCount));
    const auto messages = attacherSeen.messages();
    for (int i = 0; i < kCount; ++i) {
        int tag = -1;
        std::memcpy(&tag, messages[i].data.data(), sizeof tag);
        ASSERT_EQ(tag, i);
    }
}

TEST_F(ChannelPair, TheAsynchronousBacklogIsBounded) {
    ChannelOptions options;
    options.maxQueuedBytes = 4000;
    open(kSmall, options);
    const auto fill = pattern(kSmall - 8 - 20 - 30, 3);
    creator->sendMessage("fill", fill.data(), static_cast<long>(fill.size()));
    const auto payload = pattern(1000, 4);
    for (int i = 0; i < 20; ++i)
        creator->sendMessageAsync("async", payload.data(), payload.size());
    // At most four of them fit the backlog; the sender may hold one more while it waits.
    const std::uint64_t dropped = creator->droppedMessages();
    EXPECT_GE(dropped, 15u);
    EXPECT_LE(dropped, 16u);

    EXPECT_EQ(creatorSeen.errors().size(), dropped);  // each reported once
    EXPECT_EQ(creatorSeen.errors().front(),
              "-4 Message \"async\" (1000 bytes) not delivered: the asynchronous backlog is "
              "full.");

    runBoth();
    creator->waitForAsyncIdle();
    ASSERT_TRUE(attacherSeen.waitForMessages(1 + 20 - dropped));
    EXPECT_EQ(attacherSeen.messages().size(), 1 + 20 - dropped);
}

TEST_F(ChannelPair, ASendGivesUpOnASegmentLockThePeerHoldsForTheStallLimit) {
    ChannelOptions options;
    options.stallLimitMs = 200;
    open(kSmall, options);
    runBoth();
    // The peer's reader stopped while it held the lock of the creator's segment.
    auto lock = senderLock();
    ASSERT_TRUE(lock);
    std::mutex held;
    std::condition_variable changed;
    int state = 0;  // 1: locked, 2: may unlock
    std::thread holder([&] {
        ASSERT_EQ(lock->lock(), platform::InterProcessMutex::LockResult::Locked);
        std::unique_lock<std::mutex> guard(held);
        state = 1;
        changed.notify_all();
        changed.wait(guard, [&] { return state == 2; });
        lock->unlock();
    });
    {
        std::unique_lock<std::mutex> guard(held);
        changed.wait(guard, [&] { return state == 1; });
    }
    creator->sendMessage("lost", "l", 1);
    EXPECT_TRUE(creator->peerStalled());
    creator->sendMessage("lost2", "l", 1);  // gives up at once now
    EXPECT_EQ(creatorSeen.errors(),
              (std::vector<std::string>{
                  "-2 Message \"lost\" (1 bytes) not delivered: the peer took nothing for 200 ms.",
                  "-2 Message \"lost2\" (1 bytes) not delivered: the peer took nothing for 200 "
                  "ms."}));
    {
        std::lock_guard<std::mutex> guard(held);
        state = 2;
    }
    changed.notify_all();
    holder.join();
    creator->sendMessage("kept", "k", 1);
    ASSERT_TRUE(attacherSeen.waitForMessages(1));
    EXPECT_EQ(typesOf(attacherSeen.messages()), (std::vector<std::string>{"kept"}));
    EXPECT_EQ(creator->droppedMessages(), 2u);
}

TEST_F(ChannelPair, AHandlerMayAnswerSynchronously) {
    open();
    attacherSeen.answerEchoesOn(attacher.get(), true);
    runBoth();
    constexpr int kCount = 2000;
    for (int i = 0; i < kCount; ++i) {
        const auto payload = pattern(static_cast<std::size_t>(i % 5) * 100, i);
        creator->sendMessage("echo", payload.data(), static_cast<long>(payload.size()));
    }
    ASSERT_TRUE(creatorSeen.waitForMessages(kCount));
    const auto answers = creatorSeen.messages();
    for (int i = 0; i < kCount; ++i) {
        const auto payload = pattern(static_cast<std::size_t>(i % 5) * 100, i);
        ASSERT_EQ(answers[i].type, "echores");
        ASSERT_EQ(answers[i].data, std::vector<char>(payload.begin(), payload.end()));
    }
}

TEST_F(ChannelPair, ASecondRunDoesNothing) {
    open();
    runBoth();
    creator->run();
    creator->sendMessage("one", nullptr, 0);
    ASSERT_TRUE(attacherSeen.waitForMessages(1));
    attacher->sendMessage("back", nullptr, 0);
    ASSERT_TRUE(creatorSeen.waitForMessages(1));
    EXPECT_EQ(creatorSeen.connectedCalls(), 1);
    EXPECT_TRUE(creator->isRunning());
}

TEST_F(ChannelPair, DestructionWhileTheReaderWaitsJoinsItAndDisconnects) {
    ChannelOptions waitForever;
    waitForever.waitTimeoutMs = -1;  // only a wake can end the reader's wait
    open(kSmall, waitForever);
    runBoth();
    attacher.reset();  // its reader is inside a 180 s wait
    EXPECT_EQ(attacherSeen.disconnectedCalls(), 1);
    creator->sendMessage("still", nullptr, 0);  // the survivor keeps working
    creator.reset();
    EXPECT_EQ(creatorSeen.disconnectedCalls(), 1);
}

TEST_F(ChannelPair, AChunkedSendTheReaderNeverTakesIsGivenUpWithoutLosingEarlierRecords) {
    ChannelOptions options;
    options.stallLimitMs = 50;  // how long a chunk may wait for the reader
    open(kSmall, options);
    creator->sendMessage("kept", "k", 1);
    const auto payload = pattern(3000, 5);
    creator->sendMessage("big", payload.data(), static_cast<long>(payload.size()));
    EXPECT_EQ(creator->droppedMessages(), 1u);
    EXPECT_EQ(creatorSeen.errors(),
              (std::vector<std::string>{"-2 Message \"big\" (3000 bytes) not delivered: the peer "
                                        "took nothing for 50 ms."}));
    EXPECT_TRUE(creator->peerStalled());
    EXPECT_EQ(senderWord(0), 1u);  // the unread part of "big" was taken back
    creator->sendMessage("after", "a", 1);

    runBoth();
    ASSERT_TRUE(attacherSeen.waitForMessages(2));
    EXPECT_EQ(typesOf(attacherSeen.messages()), (std::vector<std::string>{"kept", "after"}));
}

TEST_F(ChannelPair, AnAbandonedPeerLeavesNothingWaiting) {
    open();  // the attacher never reads: its process is as good as gone
    // The writer signals this event when it starts handing over chunks; nobody else waits on it.
    auto chunking = platform::NamedEvent::open(std::to_string(id) + "_SenderDataPartial",
                                               platform::NamedEvent::ResetMode::Auto,
                                               platform::NamedEvent::OpenMode::OpenOrCreate);
    ASSERT_TRUE(chunking);
    const auto big = pattern(5000, 7);
    std::thread blocked([&] {  // a chunked send waits for a reader that never comes
        creator->sendMessage("big", big.data(), static_cast<long>(big.size()));
    });
    ASSERT_TRUE(chunking->wait(-1));
    for (int i = 0; i < 5; ++i)
        creator->sendMessageAsync("queued", "q", 1);  // behind the chunked send
    creator->abandonPeer();
    blocked.join();
    creator->waitForAsyncIdle();
    EXPECT_EQ(senderWord(0), 0u);
    EXPECT_EQ(creator->droppedMessages(), 6u);

    attacher.reset();  // a new render window takes the place of the dead one
    attacher = std::make_unique<MessageChannel>(&attacherSeen, id, ChannelOptions{kSmall});
    attacher->run();
    creator->sendMessage("fresh", "f", 1);
    ASSERT_TRUE(attacherSeen.waitForMessages(1));
    EXPECT_EQ(typesOf(attacherSeen.messages()), (std::vector<std::string>{"fresh"}));
}

// Sizes of whole pages: Windows tells a mapping's size in pages.
TEST_F(ChannelPair, ASegmentOfTheWrongSizeIsReportedAsNotAttached) {
    creator = std::make_unique<MessageChannel>(&creatorSeen, id, ChannelOptions{4 * kSmall});
    ChannelOptions larger;
    larger.segmentBytes = 8 * kSmall;
    attacher = std::make_unique<MessageChannel>(&attacherSeen, id, larger);
    attacher->run();
    ASSERT_TRUE(attacherSeen.waitForError());
    EXPECT_EQ(
        attacherSeen.errors(),
        (std::vector<std::string>{"-1 Unable to attach interprocess sharedd memory segment."}));
    attacher.reset();  // joins the ended reader
    EXPECT_EQ(attacherSeen.connectedCalls(), 0);
}

// Contents a corrupt or hostile peer could leave: the reader drops what does not fit the record
// layout, never reads outside the segment, and the channel goes on.
struct CorruptCase {
    const char* what;
    std::vector<std::pair<std::size_t, std::uint64_t>> words;  // offset, value
    std::vector<std::string> delivered;
};

void PrintTo(const CorruptCase& c, std::ostream* out) {
    *out << c.what;
}

class CorruptSegment : public ChannelPair, public ::testing::WithParamInterface<CorruptCase> {};

TEST_P(CorruptSegment, IsSurvived) {
    open();
    runBoth();
    // Written as a peer writes its segment, under the segment's lock: the running reader clears
    // the count under it (its first pass starts as the channel connects), and a count written
    // outside the lock could land between its load and its clear and be lost.
    auto lock = senderLock();
    ASSERT_TRUE(lock);
    ASSERT_EQ(lock->lock(), platform::InterProcessMutex::LockResult::Locked);
    for (const auto& [offset, value] : GetParam().words)
        setSenderWord(offset, value);
    lock->unlock();
    auto dataEvent = platform::NamedEvent::open(std::to_string(id) + "_SenderData",
                                                platform::NamedEvent::ResetMode::Auto,
                                                platform::NamedEvent::OpenMode::OpenOrCreate);
    ASSERT_TRUE(dataEvent);
    dataEvent->set();
    // The reader's pass over the corrupt records ends with the count cleared; only then does the
    // creator's writer, which appends where its own records end, write again.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (senderWord(0) != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(senderWord(0), 0u) << "the reader never cleared the corrupt count";
    creator->sendMessage("ok", "fine", 4);
    auto expected = GetParam().delivered;
    expected.push_back("ok");
    ASSERT_TRUE(attacherSeen.waitForMessages(expected.size()));
    EXPECT_EQ(typesOf(attacherSeen.messages()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, CorruptSegment,
    ::testing::Values(
        CorruptCase{"LengthBelowTheHeader", {{0, 5}, {8, 10}}, {}},
        CorruptCase{"HugeCountThenZeroLength", {{0, 1ull << 40}, {8, 24}, {16, 0x7476}}, {"vt"}},
        CorruptCase{"LengthPastTheEndOfANonLastRecord", {{0, 2}, {8, kSmall}}, {}},
        CorruptCase{"LengthBeyondLong", {{0, 1}, {8, ~0ull - 5}}, {}},
        CorruptCase{"CountAllOnes", {{0, ~0ull}, {8, 20}}, {}}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(ChannelNames, DeriveFromTheQueueIdInDecimal) {
    const ChannelNames names = ChannelNames::forQueue(1234);
    EXPECT_EQ(names.senderSegment, "1234_Sender");
    EXPECT_EQ(names.receiverSegment, "1234_Receiver");
    EXPECT_EQ(names.events[ChannelNames::ReceiverData], "1234_ReceiverData");
    EXPECT_EQ(names.events[ChannelNames::SenderDataReceivedPartial],
              "1234_SenderDataReceivedPartial");
    EXPECT_EQ(names.events[ChannelNames::ReceiverDataReceivedPartial],
              "1234_ReceiverDataReceivedPartial");
    EXPECT_EQ(ChannelNames::forQueue(-7).senderSegment, "-7_Sender");
}

TEST(Channel, QueueIdZeroStandsForThisProcess) {
    const auto pid = static_cast<qint32>(platform::currentProcessId());
    ChannelCleanup cleanup(pid);
    RecordingObserver seen;
    MessageChannel channel(&seen, 0, ChannelOptions{kSmall});
    EXPECT_EQ(channel.queueId(), pid);
    QSharedMemory segment(QString::number(pid) + "_Sender");
    EXPECT_TRUE(segment.attach());
}

TEST(Channel, ALeftoverSegmentOfThisProcessIdIsNotJoined) {
    if (test::kWindows)
        GTEST_SKIP() << "on Windows a segment lives only while a process maps it: a dead process "
                        "leaves none";
    // A segment under the channel's key that no channel of this process created, as a dead
    // process with the same id would leave it: the new channel must create, not attach.
    const qint32 id = test::uniqueQueueId(2);
    ChannelCleanup cleanup(id);
    QSharedMemory leftover(QString::number(id) + "_Sender");
    ASSERT_TRUE(leftover.create(kSmall));
    std::memset(leftover.data(), 0x5A, 64);  // old records
    RecordingObserver seen;
    MessageChannel channel(&seen, id, ChannelOptions{kSmall});
    EXPECT_TRUE(channel.isCreator());
    QSharedMemory now(QString::number(id) + "_Sender");
    ASSERT_TRUE(now.attach());
    EXPECT_EQ(static_cast<const char*>(now.constData())[0], 0);
}

// A named event that cannot be created (an object of another type holds its name) leaves the
// channel without its handles: that is reported once, the reader ends, and sends do nothing.
TEST(Channel, AnEventThatCannotBeCreatedIsReportedAsMissingHandles) {
    const qint32 id = test::uniqueQueueId(3);
    ChannelCleanup cleanup(id);
    const ChannelNames names = ChannelNames::forQueue(id);
    const test::BlockedObjectName blocked("event", names.events[ChannelNames::SenderDataReceived]);
    ASSERT_TRUE(blocked.blocked());
    RecordingObserver seen;
    MessageChannel channel(&seen, id, ChannelOptions{kSmall});
    channel.run();
    ASSERT_TRUE(seen.waitForError());
    EXPECT_EQ(seen.errors(),
              (std::vector<std::string>{"-1 Unable to create all synchronization handles."}));
    channel.sendMessage("echo", "abc", 3);
    channel.sendMessageAsync("echo", "abc", 3);
    EXPECT_EQ(seen.connectedCalls(), 0);
    EXPECT_EQ(seen.errors().size(), 1u);
}

}  // namespace
