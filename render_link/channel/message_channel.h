// The engine behind XelInterProcessMessagesManager: two segments, one written by each side, in the
// layout of channel_format.h, each with a lock and four events named as in channel_names.h.
//
// The reader takes every waiting record out of the segment in one pass, clears the count, and only
// then hands the messages to the observer: a handler never runs under a lock the writer needs, and
// may itself send synchronously. The records a count covers do not change until the reader clears
// it (the writer appends behind them), so the reader copies them without the segment lock while
// the writer goes on appending, and locks only to read the count, to take the first part of a
// record continued in chunks, and to clear the count once no record came in since its last look.
// A writer whose reader ended (abandonPeer()) clears the count itself, and one that gives up a
// chunked message takes its record back: a reader that sees the count fall starts its pass over.
// The records of a pass are copied into one block; a handler may keep a message's bytes past its
// call with holdDelivery(), which keeps the block (the reader then takes the next pass into a new
// one).
//
// A message that fits whole into the segment travels whole: a writer waits for the reader to make
// room rather than split it. Only a message larger than the segment's room travels in chunks.
#pragma once

#include <QtGlobal>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/interprocess_mutex.h"
#include "render_link/channel/channel_format.h"
#include "render_link/channel/channel_names.h"

class QSharedMemory;
class XelInterProcessMessagesObserver;

namespace xel {

namespace platform {
class NamedEvent;
}  // namespace platform

constexpr int kWaitTimeoutMs = 180000;
constexpr int kStallLimitMs = 10000;

constexpr char kNoHandlesError[] = "Unable to create all synchronization handles.";
constexpr char kNoSegmentError[] = "Unable to attach interprocess sharedd memory segment.";

struct ChannelOptions {
    std::size_t segmentBytes = kSegmentBytes;
    // The reader's idle wait. It only bounds how long a missed wake-up can go unnoticed.
    int waitTimeoutMs = kWaitTimeoutMs;
    // A send that waits for the peer (for room in the segment, for a chunk to be taken, for the
    // segment lock) gives up when the peer took nothing for this long: the peer counts as
    // stalled, and until it takes something again a send that would have to wait for room gives up
    // at once (a segment lock it holds is waited for a quarter of a second at most).
    int stallLimitMs = kStallLimitMs;
    // The most payload bytes the asynchronous backlog holds; one message is always accepted.
    std::size_t maxQueuedBytes = kSegmentBytes;
    // A delivery buffer larger than this is released after the message.
    std::size_t retainedBufferBytes = 256u << 20;
    // Where the reader places each payload in its delivery buffer: the function returns the offset,
    // within the payload, of the byte that should land 16-byte aligned (the first array of the
    // message, say). Null, or 0 returned: the payload itself is 16-byte aligned. Called on the
    // reader thread under the segment lock, with the payload still in the segment: it must be quick
    // and read nothing past `size` bytes. `size` is what the segment holds of the payload: all of
    // it, or the first part of a message continued in chunks.
    std::size_t (*placement)(const char* type, const void* payload, std::size_t size) = nullptr;
};

// Writes a payload of a size known beforehand straight into its place in the segment, in one
// piece or, for a message larger than the segment, chunk by chunk. `write(context, out, begin,
// count)` writes the payload's bytes [begin, begin + count) to `out`; it runs under the segment
// lock, so it copies and does nothing else (no locks, no sends, no throwing).
struct PayloadFill {
    void (*write)(const void* context, char* out, std::uint64_t begin, std::uint64_t count);
    const void* context;
};

// The segment size named by the environment variable `variable`, when it holds a decimal number
// from kMinSegmentBytes to kSegmentBytes; kSegmentBytes otherwise.
constexpr std::size_t kMinSegmentBytes = 64u << 10;
std::size_t segmentBytesFromEnvironment(const char* variable);

// The stall limit named by the environment variable `variable`, when it holds a decimal number of
// milliseconds from kMinStallLimitMs to kMaxStallLimitMs; kStallLimitMs otherwise.
constexpr int kMinStallLimitMs = 100;
constexpr int kMaxStallLimitMs = 600000;
int stallLimitFromEnvironment(const char* variable);

class MessageChannel {
public:
    // See XelInterProcessMessagesManager. `observer` is not owned and must outlive the channel.
    MessageChannel(XelInterProcessMessagesObserver* observer, long queueId,
                   const ChannelOptions& options = {});
    // Calls close().
    ~MessageChannel();
    MessageChannel(const MessageChannel&) = delete;
    MessageChannel& operator=(const MessageChannel&) = delete;

    void run();
    // Ends the channel: stops and joins the reader and the asynchronous sender, removes the names
    // of what this side created (the peer keeps what it has open), detaches the segments and calls
    // onChannelDisconnected(). Afterwards nothing is sent or delivered: a send on another thread
    // meanwhile either finishes before the segments go or gives its message up. Called once, by
    // one thread at a time (later calls do nothing), not from the observer's callbacks. An owner
    // whose observer reaches the channel through a pointer calls it before it lets go of the
    // pointer.
    void close();
    qint32 queueId() const { return m_queueId; }
    bool isCreator() const { return m_isCreator; }
    // True from run() until the reader thread ends (set-up failure or destruction).
    bool isRunning() const { return m_running.load(); }

    // See XelInterProcessMessagesManager.
    void sendMessage(const char* type, const void* data, long size);
    void sendMessageAsync(const char* type, const char* data, std::uint64_t size);
    // sendMessage() for a payload built in place: `fill` writes its `size` bytes straight into the
    // segment, so that they are copied once, from the caller's memory into shared memory.
    void sendMessageInPlace(const char* type, std::uint64_t size, const PayloadFill& fill);
    // The largest payload that travels whole.
    std::uint64_t largestWholePayload() const;

    // Reader thread, inside the observer's onMessage(): keeps the bytes of the message being
    // delivered, `data` as handed over, alive and unchanged until the last copy of the result is
    // gone (on any thread), without copying them. Null if `data` is not the message being
    // delivered.
    std::shared_ptr<const char> holdDelivery(const void* data);

    // The peer is given up: what waits for it is dropped. Queued asynchronous messages are
    // discarded and a send waiting for the peer gives up at once; each message dropped is reported
    // to the observer. With `ended` (its process ended), the records nobody read are removed from
    // this side's segment too, so that a new peer starts clean, and later sends work as usual.
    // Without (a stalled peer that may run again), the records stay for it to read, and while it
    // takes none a send that would wait for room goes on giving up at once. Any thread, also from
    // the observer's onError().
    void abandonPeer(bool ended = true);

    // The peer's process has ended: wakes the reader and waits until it has delivered every whole
    // message the peer wrote before it ended. Gives up after `timeoutMs`, when the channel closes,
    // or when `giveUp()` (asked every few milliseconds; may be empty) says so. Returns whether
    // everything was delivered: false also when the reader is not running, or when the peer left a
    // message it did not finish (continued in chunks), which never completes. Any thread but the
    // reader's.
    bool deliverPeerLeftovers(int timeoutMs, const std::function<bool()>& giveUp);

    // Creating side, once the peer has attached: removes the names of the segments, events and
    // locks while both sides keep using them, so that the system frees them when the last of the
    // two processes ends, however it ends. No other peer can attach afterwards. Any thread.
    void releaseNames();

    // Waits until the asynchronous sender holds no message. Test and shutdown aid.
    void waitForAsyncIdle();
    // Whether the asynchronous sender holds no message now. Any thread.
    bool asyncIdle() const { return m_pending.load() == 0; }
    // Messages not delivered: dropped by the asynchronous bound, given up for a stalled or gone
    // peer, or not held by the reader for want of memory. Each was reported through onError().
    std::uint64_t droppedMessages() const { return m_dropped.load(); }
    // Whether the last send that waited for the peer gave up because the peer took nothing for
    // the stall limit, and the peer has taken nothing since.
    bool peerStalled() const { return m_peerStalled.load(); }

    // Removes every object a channel of this queue id may have left behind: segments (also while
    // an orphaned process still has them attached), events and locks. For tests and tools; never
    // call it while a live session uses the id.
    static void removeLeftovers(qint32 queueId);

private:
    struct Segment;
    using TypeField = std::array<char, kTypeBytes>;
    struct PendingMessage {
        TypeField type;
        std::unique_ptr<char[]> data;
        std::uint64_t size;
    };
    // A message this side did not deliver, reported once the write lock is released.
    struct Failure {
        TypeField type;
        std::uint64_t size;
        int code;
    };
    using Failures = std::vector<Failure>;
    enum class WriteResult {
        Written,
        Full,     // no room now; nothing written
        Busy,     // the segment lock was not free within the time allowed; nothing written
        Stalled,  // given up: the peer took nothing for the stall limit
        Gone,     // given up: the peer was abandoned, or the channel is closing
    };
    // A buffer of delivered messages, shared with the holds taken on them.
    struct Block {
        std::shared_ptr<char> bytes;
        std::size_t capacity = 0;
        // Whether the reader may write into it again: no hold shares it.
        bool reusable() const { return bytes && bytes.use_count() == 1; }
    };
    // The bytes of a write: `bytes`, or written by `fill` in the segment.
    struct Payload {
        const char* bytes = nullptr;
        const PayloadFill* fill = nullptr;
    };
    // One complete message of a drained batch, in m_batch.
    struct Delivery {
        char type[kTypeBytes + 4];
        std::size_t offset;       // of the payload in the segment
        std::size_t batchOffset;  // of the payload in its block
        std::uint64_t size;
        std::size_t block;  // 0: m_batch, else m_moreBlocks[block - 1]
    };
    // The last record of a pass, when it continues in chunks.
    struct PartialMessage {
        char type[kTypeBytes + 4] = {};
        std::uint64_t length = 0;  // 0: none
        std::uint64_t have = 0;
        std::size_t phase = 0;  // where the payload begins in m_partial
        bool keep = false;      // false: no memory for it; its chunks are taken and dropped
    };

    void setUp();
    bool openSyncObjects(bool fresh);
    // Under m_writeMutex, once the reader and the sender have ended: no write reaches the
    // segments from now on, and both are detached.
    void detachSegments();

    // Reader thread.
    void readerLoop();
    void drain();
    // Waits, for microseconds at most, while the peer keeps appending records.
    void letBurstGather(const Segment& segment) const;
    // What one pass has taken of the segment so far.
    struct Listing {
        std::uint64_t records = 0;              // records listed (the count last seen)
        std::uint64_t offset = kRecordsOffset;  // where the record after them begins
        std::size_t block = 0;                  // where the records go: as Delivery::block
        std::size_t batchBytes = 0;             // bytes of that block in use
        std::uint64_t partialOffset = 0;        // of the last record, when it continues in chunks
        bool ended = false;                     // no record after these is taken: the pass ends
    };
    // Whether a count below the records listed means that the writer took back the last, which
    // continues in chunks.
    static bool retracted(const Listing& listing, std::uint64_t count);
    // Under the segment lock: copies the first part of the record continued in chunks, if it is
    // still the one listed.
    bool takeFirstPart(const unsigned char* base, const Listing& listing, PartialMessage& partial);
    // Copies every waiting record out of the segment and clears the count, holding the segment
    // lock only to look at the count. Returns false if the channel closed while it waited for the
    // lock.
    bool takeBatch(Segment& segment, PartialMessage& partial, Failures& failures);
    // Lists and copies the records from listing.records up to `count`, without the lock.
    void listRecords(const unsigned char* base, std::uint64_t count, Listing& listing,
                     PartialMessage& partial, Failures& failures);
    void receiveChunks(const PartialMessage& message);
    // Where the payload of `delivery` goes in the batch, from `at` on.
    std::size_t placeInBatch(const Delivery& delivery, const unsigned char* payload,
                             std::size_t at) const;
    // Deliveries of one message from `block`.
    void deliver(const char* type, const Block& block, const char* data, std::uint64_t size);
    static bool reserveBlock(Block& block, std::uint64_t bytes, std::uint64_t keep);
    Block& blockOf(std::size_t index);
    bool reserveBatch(std::size_t bytes);
    bool reservePartial(std::uint64_t bytes, std::uint64_t keep);
    void trimBuffers();

    // Writers: every call below holds m_writeMutex.
    // Appends one record if it can do so without waiting for the peer. With `allowChunks` false,
    // a message that does not fit whole counts as Full. `lockTimeoutMs` bounds the wait for the
    // segment lock.
    WriteResult tryWrite(const TypeField& type, const Payload& payload, std::uint64_t size,
                         std::uint64_t generation, bool allowChunks, int lockTimeoutMs);
    // Writes one message, waiting for room while the peer takes records.
    WriteResult writeWaiting(const TypeField& type, const Payload& payload, std::uint64_t size,
                             std::uint64_t generation);
    // Under the segment lock: the payload's bytes [begin, begin + count) to `out`.
    static void writePiece(const Payload& payload, unsigned char* out, std::uint64_t begin,
                           std::uint64_t count);
    // sendMessage() of either kind of payload.
    void sendWaiting(const TypeField& type, const Payload& payload, std::uint64_t size);
    WriteResult sendChunks(const Payload& payload, std::uint64_t size, std::uint64_t sent,
                           std::uint64_t countBefore, std::uint64_t recordOffset,
                           std::uint64_t generation);
    bool settleGivenUpChunks(unsigned char* base);
    void settlePending(unsigned char* base);
    // Writes the queued asynchronous messages in order. With `wait` false (closing), what does
    // not fit at once is dropped.
    void flushQueue(bool wait, Failures& failures);
    // Locks the segment within `timeoutMs` (negative: no limit), in slices, stopping early when
    // `giveUp()` says so after a slice.
    template <class GiveUp>
    platform::InterProcessMutex::LockResult lockSegment(Segment& segment, int timeoutMs,
                                                        GiveUp giveUp);
    // How long a writer waits for the segment lock: the stall limit, or a short grace once the
    // peer is stalled.
    int lockTimeoutMs() const;

    // The asynchronous backlog.
    void enqueue(const TypeField& type, const char* data, std::uint64_t size, Failures& failures);
    void senderLoop();

    void report(const Failures& failures);
    void notDelivered(Failures& failures, const TypeField& type, std::uint64_t size,
                      WriteResult why);
    void wakeWaiters();

    XelInterProcessMessagesObserver* m_observer;
    const ChannelOptions m_options;
    qint32 m_queueId;
    ChannelNames m_names;
    bool m_isCreator = false;
    std::unique_ptr<Segment> m_sender;    // the "_Sender" segment: written by the creator
    std::unique_ptr<Segment> m_receiver;  // the "_Receiver" segment: written by the attacher
    std::array<std::unique_ptr<platform::NamedEvent>, ChannelNames::EventCount> m_events;
    Segment* m_own = nullptr;   // the segment this side writes
    Segment* m_peer = nullptr;  // the segment this side reads

    std::atomic<bool> m_running{false};
    std::atomic<bool> m_closing{false};
    // Whether this side's segment can be written: set up, and not closed. Written under
    // m_writeMutex once set up; a writer checks the segment itself again under that mutex.
    std::atomic<bool> m_usable{false};
    std::atomic<bool> m_closed{false};
    std::atomic<std::uint64_t> m_peerGeneration{0};  // advanced by abandonPeer()
    std::atomic<bool> m_peerStalled{false};
    std::thread m_reader;
    // Passes of the reader over the peer's segment, begun and ended (drain()); a thread in
    // deliverPeerLeftovers() waits under m_passMutex for one begun after its call to end.
    std::atomic<std::uint64_t> m_passesBegun{0};
    std::atomic<std::uint64_t> m_passesEnded{0};
    std::atomic<bool> m_passLeftNothing{false};  // the last pass ended with no record left
    std::atomic<int> m_passWaiters{0};
    std::mutex m_passMutex;
    std::condition_variable m_passEnded;

    // Reader thread only: the complete messages of the last drain, each placed in m_batch as
    // ChannelOptions::placement says, and the message arriving in chunks. Each is reused from
    // drain to drain unless a hold keeps it. m_delivering is the block being delivered from.
    Block m_batch;
    // A pass that goes on while the writer appends continues in blocks of its own rather than
    // moving what it took.
    std::vector<Block> m_moreBlocks;
    std::vector<Delivery> m_deliveries;
    Block m_partial;
    const Block* m_delivering = nullptr;
    const char* m_deliveringData = nullptr;

    // Writers of this process, one at a time for the whole of a message (chunks included). The
    // asynchronous sender holds it while it writes queued messages, and a synchronous send writes
    // what is queued before its own message, so that one thread's messages keep their order.
    std::mutex m_writeMutex;
    // Under m_writeMutex: where the next record goes while the record count is m_cachedCount.
    std::uint64_t m_cachedCount = 0;
    std::uint64_t m_cachedEnd = 0;
    // Under m_writeMutex: repairs of the segment that wait for its lock. A chunked message given
    // up while the lock was not free, and the records of an abandoned peer.
    struct GivenUpChunks {
        bool pending = false;
        bool readerSawRecord = false;
        std::uint64_t countBefore = 0;
    } m_givenUp;
    bool m_clearPending = false;
    // Under m_writeMutex: word 0 as this side last saw or left it. Another value means that the
    // reader took records since, which ends a stall.
    std::uint64_t m_lastWord = 0;

    // The asynchronous backlog.
    std::mutex m_queueMutex;
    std::condition_variable m_queueChanged;
    std::condition_variable m_queueIdle;
    std::deque<PendingMessage> m_queue;
    std::size_t m_queuedBytes = 0;
    bool m_senderStop = false;
    std::thread m_senderThread;
    std::atomic<std::size_t> m_pending{0};  // queued or being written
    std::atomic<std::uint64_t> m_dropped{0};
};

}  // namespace xel
