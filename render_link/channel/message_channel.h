// The engine behind XelInterProcessMessagesManager.
//
// Segment layout. Normal mode: word 0 is the number of records waiting, records follow back to
// back from offset 8: a 64-bit record length (20 + payload), 12 type bytes, the payload. Chunk
// mode, while a record that did not fit is continued: word 0 is 1 while a chunk waits and 0 once
// the reader took it, the chunk follows from offset 8. All words are 64-bit little-endian.
//
// A writer that gives up on a chunked message (the reader did not take a chunk within the wait
// limit, or the channel is closing) retracts the record if the reader has not seen it yet, and
// otherwise stores kChunkAbandoned into word 0; the reader then drops the message and stores 0.
// A reader that is closing in the middle of a chunked message delivers nothing of it.
#pragma once

#include <QtGlobal>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class QSharedMemory;
class XelInterProcessMessagesObserver;

namespace xel {

namespace platform {
class NamedEvent;
class InterProcessMutex;
}  // namespace platform

constexpr std::size_t kSegmentBytes = 671088640;  // 640 MiB
constexpr std::size_t kRecordHeaderBytes = 20;
constexpr std::size_t kTypeBytes = 12;
constexpr std::size_t kMinFreeBytes = 37;  // a record is written only with more than 36 bytes free
constexpr std::uint64_t kChunkAbandoned = ~std::uint64_t(0);
constexpr int kWaitTimeoutMs = 180000;

constexpr char kNoHandlesError[] = "Unable to create all synchronization handles.";
constexpr char kNoSegmentError[] = "Unable to attach interprocess sharedd memory segment.";

struct ChannelOptions {
    std::size_t segmentBytes = kSegmentBytes;
    // The reader's idle wait, and how long a chunk may wait for the peer before the send is given
    // up.
    int waitTimeoutMs = kWaitTimeoutMs;
    // The most payload bytes the asynchronous sender holds; one message is always accepted.
    std::size_t maxQueuedBytes = kSegmentBytes;
    // A delivery buffer larger than this is released after the message.
    std::size_t retainedBufferBytes = 256u << 20;
};

// The names of the channel's objects for one queue id.
struct ChannelNames {
    enum Event {
        ReceiverData,
        SenderData,
        ReceiverDataReceived,
        SenderDataReceived,
        ReceiverDataPartial,
        SenderDataPartial,
        ReceiverDataReceivedPartial,
        SenderDataReceivedPartial,
        EventCount
    };
    std::string senderSegment;
    std::string receiverSegment;
    std::array<std::string, EventCount> events;
    std::string senderLock;
    std::string receiverLock;

    static ChannelNames forQueue(qint32 queueId);
};

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
    // Ends the channel: stops and joins the reader and the asynchronous sender, detaches the
    // segments and calls onChannelDisconnected(). Afterwards nothing is sent or delivered. Called
    // once by the owner (later calls do nothing), not from the observer's callbacks. An owner whose
    // observer reaches the channel through a pointer calls it before it lets go of the pointer.
    void close();
    qint32 queueId() const { return m_queueId; }
    bool isCreator() const { return m_isCreator; }
    // True from run() until the reader thread ends (set-up failure or destruction).
    bool isRunning() const { return m_running.load(); }

    void sendMessage(const char* type, const void* data, long size);
    void sendMessageAsync(const char* type, const char* data, std::uint64_t size);

    // The peer is gone for good (its process ended): what waits for it is dropped. Queued
    // asynchronous messages are discarded, a send waiting for the peer gives up at once, and the
    // records nobody read are removed from this side's segment, so that a new peer starts clean.
    // Later sends work as usual. Any thread.
    void abandonPeer();

    // Creating side, once the peer has attached: removes the names of the segments, events and
    // locks while both sides keep using them, so that the system frees them when the last of the
    // two processes ends, however it ends. No other peer can attach afterwards. Any thread.
    void releaseNames();

    // Waits until the asynchronous sender holds no message. Test and shutdown aid.
    void waitForAsyncIdle();
    // Asynchronous messages dropped because the backlog was full, or sends given up.
    std::uint64_t droppedMessages() const { return m_dropped.load(); }

    // Removes every object a channel of this queue id may have left behind: segments (also while
    // an orphaned process still has them attached), events and locks. For tests and tools; never
    // call it while a live session uses the id.
    static void removeLeftovers(qint32 queueId);

private:
    struct Segment;
    struct PendingMessage {
        std::array<char, kTypeBytes> type;
        std::unique_ptr<char[]> data;
        std::uint64_t size;
    };
    enum class WriteResult { Written, Full, GivenUp };

    void setUp();
    bool openSyncObjects(bool fresh);
    void readerLoop();
    void drain();
    void receiveChunks(const char* type, std::uint64_t length, std::uint64_t have, bool keep);
    bool ensureBuffer(std::uint64_t length);
    void trimBuffer();

    // `generation` is m_peerGeneration when the message was taken up: a send gives up when the
    // peer is abandoned under it.
    WriteResult writeMessage(const std::array<char, kTypeBytes>& type, const char* data,
                             std::uint64_t size, std::uint64_t generation);
    WriteResult sendChunks(const char* data, std::uint64_t size, std::uint64_t sent,
                           std::uint64_t countBefore, std::uint64_t recordOffset,
                           std::uint64_t generation);
    // Returns true if the record was retracted before the reader saw it.
    bool giveUpChunkedSend(bool readerSawRecord, std::uint64_t countBefore);
    void enqueue(const std::array<char, kTypeBytes>& type, const char* data, std::uint64_t size);
    void senderLoop();
    void sendQueued(PendingMessage& message);
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
    bool m_closed = false;  // owner's thread only
    std::atomic<bool> m_receivingPartial{false};
    std::atomic<bool> m_sendingPartial{false};
    std::atomic<std::uint64_t> m_peerGeneration{0};  // advanced by abandonPeer()
    std::thread m_reader;

    // Reader thread only: the delivery buffer, reused from message to message.
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_bufferCapacity = 0;

    // Writers of this process, one at a time for the whole of a message (chunks included).
    std::mutex m_writeMutex;
    // Under m_writeMutex: where the next record goes while the record count is m_cachedCount.
    std::uint64_t m_cachedCount = 0;
    std::uint64_t m_cachedEnd = 0;

    // The asynchronous sender.
    std::mutex m_queueMutex;
    std::condition_variable m_queueChanged;
    std::condition_variable m_queueIdle;
    std::deque<PendingMessage> m_queue;
    std::size_t m_queuedBytes = 0;
    bool m_senderStop = false;
    std::thread m_senderThread;
    std::atomic<std::size_t> m_pending{0};  // queued or being written by the sender thread
    std::atomic<std::uint64_t> m_dropped{0};
};

}  // namespace xel
