// Hostile bytes in the segment a channel's reader drains.
//
// A creating and an attaching channel of one queue id live in this process for the whole run,
// with segments of 64 KiB, each attached between guard pages (guarded_segments.h), so that a read
// outside a segment faults. The attaching channel reads the creator's segment and places payloads
// as the render window's receiver has it do.
//
// Input: a 16-bit little-endian length, then that many bytes, which become the segment from its
// start, and again a length and bytes, which become the segment's end (the rest of it is zero):
// the record count, record lengths, types, payloads, whatever the bytes say. What follows are the
// chunks that a record running past the segment's end continues
// with, each a 16-bit little-endian length and that many bytes, zeros after them up to the chunk's
// size. When they run out before the message is complete, or after kMostChunks chunks, the message
// is given up as a writer gives it up.
//
// Each input is played the way a writer plays its part: the segment is written under its lock,
// the reader is woken through the data event, the end of its pass is awaited on the drained event,
// chunks are handed over one at a time as the reader takes them, and a well-formed message sent
// normally afterwards is awaited on the reader's observer. By then the reader must have delivered
// exactly the records that fit the segment layout, in order, the message completed from chunks
// if any, and that last message, and nothing else; it must not have crashed, hung, reported an
// error or read outside the segment.
#include <QSharedMemory>
#include <QString>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "XelInterProcessMessagesManager.h"
#include "platform/interprocess_mutex.h"
#include "platform/named_event.h"
#include "render_link/channel/message_channel.h"
#include "render_link/messages/message_catalogue.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/guarded_segments.h"
#include "tests/fuzz/ignoring_observer.h"
#include "tests/support/channel_test_support.h"

namespace {

using xel::platform::InterProcessMutex;
using xel::platform::NamedEvent;

constexpr char kTarget[] = "channel drain";

// The segment layout, as a writer lays it out.
constexpr std::size_t kSegmentBytes = 64u << 10;
constexpr std::size_t kCountBytes = 8;                 // word 0: records waiting, or a chunk's flag
constexpr std::size_t kLengthBytes = 8;                // a record's length: header and payload
constexpr std::size_t kTypeBytes = 12;                 // its type, NUL-padded
constexpr std::size_t kHeaderBytes = 20;               // length and type
constexpr std::uint64_t kGivenUp = ~std::uint64_t(0);  // word 0 of a chunked message given up
constexpr std::size_t kChunkBytes = kSegmentBytes - kCountBytes;
static_assert(kSegmentBytes >= xel::kMinSegmentBytes);

// The chunks one input hands over at most: 4 MiB of payload.
constexpr int kMostChunks = 64;

// How long a step of the reader may take before the run counts as hung; the fuzzer's own timeout
// is shorter.
constexpr int kPatienceMs = 60000;

constexpr char kSyncType[] = "fuzz-sync";

std::uint64_t load64(const unsigned char* at) {
    std::uint64_t value;
    std::memcpy(&value, at, 8);
    return value;
}

void store64(unsigned char* at, std::uint64_t value) {
    std::memcpy(at, &value, 8);
}

struct Record {
    std::string type;
    std::string payload;
    bool operator==(const Record& other) const {
        return type == other.type && payload == other.payload;
    }
};

// What one pass of a reader takes from a segment.
struct Pass {
    std::vector<Record> whole;
    // The last record counted runs past the segment's end: it continues in chunks. `last` holds
    // its type and the part of its payload in the segment.
    bool continues = false;
    Record last;
    std::uint64_t lastLength = 0;  // of its whole payload
};

// By the layout: word 0 counts the records (all ones: a chunked message given up, nothing to
// take), which follow from offset 8 back to back. A record whose length is below its header, whose
// payload is longer than a long can say, or that runs past the segment's end ends the pass, and
// the records after it are dropped; except that the last record counted may run past the end,
// continuing in chunks.
Pass passOver(const std::vector<unsigned char>& segment) {
    Pass pass;
    const unsigned char* base = segment.data();
    const std::uint64_t count = load64(base);
    if (count == kGivenUp)
        return pass;
    std::uint64_t offset = kCountBytes;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (kSegmentBytes - offset < kHeaderBytes)
            break;
        const std::uint64_t length = load64(base + offset);
        if (length < kHeaderBytes || length - kHeaderBytes > static_cast<std::uint64_t>(LONG_MAX))
            break;
        const auto* type = reinterpret_cast<const char*>(base + offset + kLengthBytes);
        Record record{std::string(type, ::strnlen(type, kTypeBytes)), {}};
        const std::uint64_t size = length - kHeaderBytes;
        const std::uint64_t at = offset + kHeaderBytes;
        const auto* payload = reinterpret_cast<const char*>(base + at);
        if (size <= kSegmentBytes - at) {
            record.payload.assign(payload, static_cast<std::size_t>(size));
            pass.whole.push_back(std::move(record));
            offset = at + size;
            continue;
        }
        if (i + 1 == count) {
            record.payload.assign(payload, static_cast<std::size_t>(kSegmentBytes - at));
            pass.continues = true;
            pass.last = std::move(record);
            pass.lastLength = size;
        }
        break;
    }
    return pass;
}

// Where the render window's receiver has its reader place payloads: their first array aligned.
std::size_t placeArrays(const char* type, const void* payload, std::size_t size) {
    const xel::messages::MessageLayout* layout =
        xel::messages::findLayout(std::string_view(type, ::strnlen(type, kTypeBytes)), true);
    return layout ? xel::messages::firstArrayOffset(*layout, payload, size) : 0;
}

class Deliveries : public XelInterProcessMessagesObserver {
public:
    void onMessage(const char* type, const void* data, long size) override {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_messages.push_back(
            {type, std::string(static_cast<const char*>(data), static_cast<std::size_t>(size))});
        m_changed.notify_all();
    }
    void onChannelConnected() override {}
    void onChannelDisconnected() override {}
    void onError(int, const char* text) override {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_errors.push_back(text);
    }

    // Waits until `count` messages equal to `record` have come, within kPatienceMs; returns
    // everything that came and forgets it. Fails the run if they did not come or an error was
    // reported.
    std::vector<Record> takeUntil(const Record& record, std::size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, std::chrono::milliseconds(kPatienceMs), [&] {
                return static_cast<std::size_t>(
                           std::count(m_messages.begin(), m_messages.end(), record)) >= count;
            }))
            xel::fuzz::fail(kTarget, "the message sent after the input never came");
        if (!m_errors.empty()) {
            std::fprintf(stderr, "reported: %s\n", m_errors.front().c_str());
            xel::fuzz::fail(kTarget, "the reader reported an error");
        }
        std::vector<Record> taken;
        taken.swap(m_messages);
        return taken;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Record> m_messages;
    std::vector<std::string> m_errors;
};

// Holds the segment lock of a scope.
class Locked {
public:
    explicit Locked(InterProcessMutex& mutex) : m_mutex(mutex) {
        const auto result = m_mutex.lock(kPatienceMs);
        if (result != InterProcessMutex::LockResult::Locked)
            xel::fuzz::fail(kTarget, "the segment lock was not free");
    }
    ~Locked() { m_mutex.unlock(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    InterProcessMutex& m_mutex;
};

void await(NamedEvent& event, const char* what) {
    if (!event.wait(kPatienceMs))
        xel::fuzz::fail(kTarget, what);
}

std::unique_ptr<NamedEvent> openEvent(const std::string& name, NamedEvent::ResetMode mode) {
    auto event = NamedEvent::open(name, mode, NamedEvent::OpenMode::OpenExisting);
    if (!event)
        xel::fuzz::fail(kTarget, "cannot open the segment's events");
    return event;
}

class DrainHarness {
public:
    DrainHarness() {
        const xel::ChannelNames names = xel::ChannelNames::forQueue(m_id);
        xel::ChannelOptions options;
        options.segmentBytes = kSegmentBytes;
        m_writer = std::make_unique<xel::MessageChannel>(&m_ignored, m_id, options);
        options.placement = placeArrays;
        m_reader = std::make_unique<xel::MessageChannel>(&m_seen, m_id, options);
        if (!m_writer->isCreator() || m_reader->isCreator())
            xel::fuzz::fail(kTarget, "the channel pair did not form");

        m_view = std::make_unique<QSharedMemory>(QString::fromStdString(names.senderSegment));
        if (!m_view->attach() || m_view->size() < static_cast<int>(kSegmentBytes))
            xel::fuzz::fail(kTarget, "cannot attach the segment");
        m_base = static_cast<unsigned char*>(m_view->data());
        m_lock =
            InterProcessMutex::open(names.senderLock, InterProcessMutex::OpenMode::OpenExisting);
        if (!m_lock)
            xel::fuzz::fail(kTarget, "cannot open the segment lock");
        using Mode = NamedEvent::ResetMode;
        using Names = xel::ChannelNames;
        m_data = openEvent(names.events[Names::SenderData], Mode::Auto);
        m_drained = openEvent(names.events[Names::SenderDataReceived], Mode::Manual);
        m_chunk = openEvent(names.events[Names::SenderDataPartial], Mode::Auto);
        m_chunkTaken = openEvent(names.events[Names::SenderDataReceivedPartial], Mode::Manual);
        if (xel::fuzz::guardedSegments() == 0 || xel::fuzz::unguardedSegments() != 0)
            xel::fuzz::fail(kTarget, "a segment is attached without guard pages");

        m_writer->run();
        m_reader->run();
        sync({});
    }

    void run(xel::fuzz::InputReader& input) {
        std::vector<unsigned char> segment(kSegmentBytes, 0);
        const std::string_view start = input.bytes(input.u16());
        std::memcpy(segment.data(), start.data(), start.size());
        const std::string_view end = input.bytes(input.u16());
        std::memcpy(segment.data() + kSegmentBytes - end.size(), end.data(), end.size());
        const Pass pass = passOver(segment);
        std::vector<Record> expected = pass.whole;

        {
            Locked locked(*m_lock);
            // Reset under the lock: a set after this ends the pass over these bytes.
            m_drained->reset();
            m_chunkTaken->reset();
            std::memcpy(m_base, segment.data(), kSegmentBytes);
        }
        m_data->set();
        await(*m_drained, "the reader's pass did not end");

        if (pass.continues) {
            Record whole = pass.last;
            for (int chunks = 0; whole.payload.size() < pass.lastLength; ++chunks) {
                if (input.empty() || chunks == kMostChunks) {
                    giveUp();
                    break;
                }
                const auto n = static_cast<std::size_t>(
                    std::min<std::uint64_t>(pass.lastLength - whole.payload.size(), kChunkBytes));
                std::string chunk(input.bytes(std::min<std::size_t>(input.u16(), n)));
                chunk.resize(n, '\0');
                handOver(chunk);
                whole.payload += chunk;
            }
            if (whole.payload.size() == pass.lastLength) {
                handOver({});  // waits for the last chunk to be taken
                expected.push_back(std::move(whole));
            }
        }
        sync(expected);
    }

private:
    // Sends a well-formed message normally and waits for it; what the reader delivered before it
    // must be `expected`.
    void sync(const std::vector<Record>& expected) {
        const std::uint64_t token = m_syncs++;
        const Record marker{kSyncType, std::string(reinterpret_cast<const char*>(&token), 8)};
        const auto alike =
            static_cast<std::size_t>(std::count(expected.begin(), expected.end(), marker));
        m_writer->sendMessage(kSyncType, &token, 8);
        std::vector<Record> delivered = m_seen.takeUntil(marker, alike + 1);
        if (delivered.empty() || !(delivered.back() == marker))
            xel::fuzz::fail(kTarget, "something came after the last message");
        delivered.pop_back();
        if (delivered == expected)
            return;
        std::fprintf(stderr, "expected %zu messages, the reader delivered %zu\n", expected.size(),
                     delivered.size());
        for (std::size_t i = 0; i < std::max(expected.size(), delivered.size()); ++i) {
            const auto show = [](const std::vector<Record>& records, std::size_t at) {
                return at < records.size()
                           ? "\"" + records[at].type + "\" of " +
                                 std::to_string(records[at].payload.size()) + " bytes"
                           : std::string("nothing");
            };
            std::fprintf(stderr, "  %zu: expected %s, delivered %s\n", i, show(expected, i).c_str(),
                         show(delivered, i).c_str());
        }
        xel::fuzz::fail(kTarget, "the reader did not deliver what the segment held");
    }

    // Once word 0 is 0 (the reader took the first part or the last chunk), writes `chunk` and
    // flags it; an empty chunk only waits.
    void handOver(const std::string& chunk) {
        for (;;) {
            bool done = false;
            {
                Locked locked(*m_lock);
                // Reset under the lock: a set after this means that word 0 changed since.
                m_chunkTaken->reset();
                if (load64(m_base) == 0) {
                    if (!chunk.empty()) {
                        std::memcpy(m_base + kCountBytes, chunk.data(), chunk.size());
                        store64(m_base, 1);
                    }
                    done = true;
                }
            }
            if (done) {
                if (!chunk.empty())
                    m_chunk->set();
                return;
            }
            await(*m_chunkTaken, "the reader took no chunk");
        }
    }

    void giveUp() {
        {
            Locked locked(*m_lock);
            m_drained->reset();
            store64(m_base, kGivenUp);
        }
        m_chunk->set();
        await(*m_drained, "the reader did not drop a message given up");
    }

    const qint32 m_id = xel::test::uniqueQueueId();
    xel::test::ChannelCleanup m_cleanup{m_id};
    Deliveries m_seen;
    xel::fuzz::IgnoringObserver m_ignored;
    std::unique_ptr<xel::MessageChannel> m_writer;  // creates the segments
    std::unique_ptr<xel::MessageChannel> m_reader;  // drains the writer's segment
    std::unique_ptr<QSharedMemory> m_view;
    unsigned char* m_base = nullptr;
    std::unique_ptr<InterProcessMutex> m_lock;
    std::unique_ptr<NamedEvent> m_data;
    std::unique_ptr<NamedEvent> m_drained;
    std::unique_ptr<NamedEvent> m_chunk;
    std::unique_ptr<NamedEvent> m_chunkTaken;
    std::uint64_t m_syncs = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static DrainHarness harness;
    xel::fuzz::InputReader input(data, size);
    harness.run(input);
    return 0;
}
