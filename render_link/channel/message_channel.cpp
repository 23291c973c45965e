#include "render_link/channel/message_channel.h"

#include <QFile>
#include <QSharedMemory>
#include <QSystemSemaphore>
#include <QtDebug>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <set>

#include "XelInterProcessMessagesManager.h"
#include "platform/interprocess_mutex.h"
#include "platform/named_event.h"
#include "platform/process.h"
#include "platform/shared_segment.h"

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "segment words are stored in host order");

namespace xel {

using platform::InterProcessMutex;
using platform::NamedEvent;

struct MessageChannel::Segment {
    QString key;
    std::unique_ptr<QSharedMemory> memory;
    std::unique_ptr<InterProcessMutex> lock;
    unsigned char* base = nullptr;  // null unless attached and locked by a usable mutex
    bool created = false;
    // Events of this segment, owned by MessageChannel::m_events.
    NamedEvent* data = nullptr;             // a record was appended
    NamedEvent* received = nullptr;         // the reader drained the segment
    NamedEvent* partial = nullptr;          // a chunk is waiting
    NamedEvent* partialReceived = nullptr;  // the reader took the first part or a chunk

    bool usable() const { return base && lock && data && received && partial && partialReceived; }
};

namespace {

std::uint64_t load64(const unsigned char* at) {
    std::uint64_t value;
    std::memcpy(&value, at, 8);
    return value;
}

void store64(unsigned char* at, std::uint64_t value) {
    std::memcpy(at, &value, 8);
}

class SegmentLock {
public:
    explicit SegmentLock(InterProcessMutex& mutex)
        : m_mutex(mutex), m_locked(mutex.lock() != InterProcessMutex::LockResult::Failed) {}
    ~SegmentLock() {
        if (m_locked)
            m_mutex.unlock();
    }
    SegmentLock(const SegmentLock&) = delete;
    SegmentLock& operator=(const SegmentLock&) = delete;
    explicit operator bool() const { return m_locked; }

private:
    InterProcessMutex& m_mutex;
    bool m_locked;
};

// Keys of the segments that managers of this process created and still hold. A segment whose
// creator id is this process but that is not listed here was left by a dead process whose id the
// system has given to this one.
std::mutex g_createdMutex;
std::set<QString> g_createdKeys;

bool createdHere(const QString& key) {
    std::lock_guard<std::mutex> guard(g_createdMutex);
    return g_createdKeys.count(key) != 0;
}

void setCreatedHere(const QString& key, bool created) {
    std::lock_guard<std::mutex> guard(g_createdMutex);
    if (created)
        g_createdKeys.insert(key);
    else
        g_createdKeys.erase(key);
}

// Whether a live session holds the segment behind `key`.
bool heldByLiveSession(const QString& key, const platform::SegmentOwnership& owner) {
    if (owner.attachCount == 0 || !platform::processExists(owner.creatorPid))
        return false;
    return owner.creatorPid != platform::currentProcessId() || createdHere(key);
}

std::array<char, kTypeBytes> typeField(const char* type) {
    std::array<char, kTypeBytes> field{};
    if (type)
        std::memcpy(field.data(), type, ::strnlen(type, kTypeBytes));
    return field;
}

}  // namespace

ChannelNames ChannelNames::forQueue(qint32 queueId) {
    const std::string id = std::to_string(queueId);
    ChannelNames names;
    names.senderSegment = id + "_Sender";
    names.receiverSegment = id + "_Receiver";
    const char* suffixes[EventCount] = {"_ReceiverData",
                                        "_SenderData",
                                        "_ReceiverDataReceived",
                                        "_SenderDataReceived",
                                        "_ReceiverDataPartial",
                                        "_SenderDataPartial",
                                        "_ReceiverDataReceivedPartial",
                                        "_SenderDataReceivedPartial"};
    for (int i = 0; i < EventCount; ++i)
        names.events[i] = id + suffixes[i];
    names.senderLock = id + "_SenderLock";
    names.receiverLock = id + "_ReceiverLock";
    return names;
}

MessageChannel::MessageChannel(XelInterProcessMessagesObserver* observer, long queueId,
                               const ChannelOptions& options)
    : m_observer(observer),
      m_options(options),
      m_queueId(static_cast<qint32>(queueId == 0 ? platform::currentProcessId() : queueId)),
      m_names(ChannelNames::forQueue(m_queueId)),
      m_sender(std::make_unique<Segment>()),
      m_receiver(std::make_unique<Segment>()) {
    setUp();
}

void MessageChannel::setUp() {
    m_sender->key = QString::fromStdString(m_names.senderSegment);
    m_receiver->key = QString::fromStdString(m_names.receiverSegment);
    const int bytes = static_cast<int>(m_options.segmentBytes);

    // Creates the segment, replacing one that no live session holds. With `takeOver`, a held one
    // is replaced too: the creating side owns both names.
    auto create = [&](Segment& segment, bool takeOver) {
        auto memory = std::make_unique<QSharedMemory>(segment.key);
        if (auto owner = platform::segmentOwnership(*memory)) {
            if (!takeOver && heldByLiveSession(segment.key, *owner))
                return false;
            platform::removeSegment(*memory);
        }
        if (!memory->create(bytes))
            return false;
        segment.memory = std::move(memory);
        segment.created = true;
        setCreatedHere(segment.key, true);
        return true;
    };
    // Attaches with a fresh object: one on which create() was called takes Qt's lock semaphore of
    // the key over and removes it when destroyed.
    auto attach = [&](Segment& segment) {
        auto memory = std::make_unique<QSharedMemory>(segment.key);
        if (memory->attach(QSharedMemory::ReadWrite) && memory->size() >= bytes)
            segment.memory = std::move(memory);
    };

    m_isCreator = create(*m_sender, false);
    if (m_isCreator) {
        // Nothing a dead session left under these names is inherited: the creator makes them anew.
        openSyncObjects(true);
        create(*m_receiver, true);
    } else {
        attach(*m_sender);
        attach(*m_receiver);
        // Joins only the objects the creator made: a creator that closed meanwhile has removed
        // them, and opening must not bring their names back for nobody to remove.
        openSyncObjects(false);
    }
    for (Segment* segment : {m_sender.get(), m_receiver.get()}) {
        if (segment->memory && segment->memory->isAttached())
            segment->base = static_cast<unsigned char*>(segment->memory->data());
    }
    m_own = m_isCreator ? m_sender.get() : m_receiver.get();
    m_peer = m_isCreator ? m_receiver.get() : m_sender.get();
}

bool MessageChannel::openSyncObjects(bool fresh) {
    for (int i = 0; i < ChannelNames::EventCount; ++i) {
        const bool autoReset = i == ChannelNames::ReceiverData || i == ChannelNames::SenderData ||
                               i == ChannelNames::ReceiverDataPartial ||
                               i == ChannelNames::SenderDataPartial;
        m_events[i] = NamedEvent::open(
            m_names.events[i],
            autoReset ? NamedEvent::ResetMode::Auto : NamedEvent::ResetMode::Manual,
            fresh ? NamedEvent::OpenMode::CreateFresh : NamedEvent::OpenMode::OpenExisting);
    }
    const auto lockMode = fresh ? InterProcessMutex::OpenMode::CreateFresh
                                : InterProcessMutex::OpenMode::OpenExisting;
    m_sender->lock = InterProcessMutex::open(m_names.senderLock, lockMode);
    m_receiver->lock = InterProcessMutex::open(m_names.receiverLock, lockMode);

    m_sender->data = m_events[ChannelNames::SenderData].get();
    m_sender->received = m_events[ChannelNames::SenderDataReceived].get();
    m_sender->partial = m_events[ChannelNames::SenderDataPartial].get();
    m_sender->partialReceived = m_events[ChannelNames::SenderDataReceivedPartial].get();
    m_receiver->data = m_events[ChannelNames::ReceiverData].get();
    m_receiver->received = m_events[ChannelNames::ReceiverDataReceived].get();
    m_receiver->partial = m_events[ChannelNames::ReceiverDataPartial].get();
    m_receiver->partialReceived = m_events[ChannelNames::ReceiverDataReceivedPartial].get();
    return std::all_of(m_events.begin(), m_events.end(),
                       [](const auto& e) { return e != nullptr; });
}

MessageChannel::~MessageChannel() {
    close();
}

void MessageChannel::close() {
    if (m_closed)
        return;
    m_closed = true;
    m_closing.store(true);
    wakeWaiters();
    {
        std::lock_guard<std::mutex> guard(m_queueMutex);
        m_senderStop = true;
    }
    m_queueChanged.notify_all();
    if (m_senderThread.joinable())
        m_senderThread.join();
    if (m_reader.joinable())
        m_reader.join();
    m_running.store(false);

    for (Segment* segment : {m_receiver.get(), m_sender.get()}) {
        segment->base = nullptr;
        if (segment->memory)
            segment->memory->detach();
        if (segment->created)
            setCreatedHere(segment->key, false);
    }
    if (m_isCreator) {
        // The peer keeps the objects it has open; a later session makes new ones.
        for (const std::string& name : m_names.events)
            NamedEvent::remove(name);
        InterProcessMutex::remove(m_names.senderLock);
        InterProcessMutex::remove(m_names.receiverLock);
    }
    if (m_observer)
        m_observer->onChannelDisconnected();
}

void MessageChannel::wakeWaiters() {
    // Each of these is waited on only by a thread of this side.
    for (NamedEvent* event :
         {m_peer->data, m_peer->partial, m_own->received, m_own->partialReceived})
        if (event)
            event->set();
}

void MessageChannel::run() {
    bool expected = false;
    if (!m_running.compare_exchange_strong(expected, true))
        return;
    if (m_reader.joinable())
        m_reader.join();  // a reader that ended on a set-up failure
    try {
        m_reader = std::thread(&MessageChannel::readerLoop, this);
    } catch (...) {
        m_running.store(false);
        throw;
    }
}

void MessageChannel::readerLoop() {
    const bool handles =
        std::all_of(m_events.begin(), m_events.end(), [](const auto& e) { return e != nullptr; });
    const bool segments = m_sender->base && m_sender->lock && m_receiver->base && m_receiver->lock;
    if (!handles || !segments) {
        if (m_observer && !handles)
            m_observer->onError(-1, kNoHandlesError);
        if (m_observer && !segments)
            m_observer->onError(-1, kNoSegmentError);
        m_running.store(false);
        return;
    }
    if (m_observer)
        m_observer->onChannelConnected();
    drain();  // records the peer wrote before this reader started
    while (!m_closing.load()) {
        if (m_peer->data->wait(m_options.waitTimeoutMs) && !m_closing.load() &&
            !m_receivingPartial.load())
            drain();
    }
}

bool MessageChannel::ensureBuffer(std::uint64_t length) {
    // Never empty, so that even a zero-length payload is handed over at a valid address.
    length = std::max<std::uint64_t>(length, 1);
    if (length <= m_bufferCapacity)
        return true;
    m_buffer.reset();
    m_bufferCapacity = 0;
    if (length > SIZE_MAX)
        return false;
    // Not zero-filled: every byte handed to the observer is copied in first.
    m_buffer.reset(new (std::nothrow) char[static_cast<std::size_t>(length)]);
    if (!m_buffer)
        return false;
    m_bufferCapacity = static_cast<std::size_t>(length);
    return true;
}

void MessageChannel::trimBuffer() {
    if (m_bufferCapacity > m_options.retainedBufferBytes) {
        m_buffer.reset();
        m_bufferCapacity = 0;
    }
}

void MessageChannel::drain() {
    Segment& segment = *m_peer;
    const std::uint64_t segmentBytes = m_options.segmentBytes;
    char type[kTypeBytes + 4] = {};
    std::uint64_t partialLength = 0;
    std::uint64_t have = 0;
    bool keep = false;
    {
        SegmentLock lock(*segment.lock);
        if (!lock)
            return;
        unsigned char* base = segment.base;
        const std::uint64_t count = load64(base);
        // Consumed before any is delivered: a reader killed inside a handler leaves no batch for
        // the next reader to deliver again. The writer cannot append before the unlock.
        store64(base, 0);
        std::uint64_t offset = 8;
        // Whatever the count and the lengths say, no read leaves the segment: a record that does
        // not fit its place ends the drain and the rest is dropped.
        for (std::uint64_t i = 0; i < count && count != kChunkAbandoned; ++i) {
            if (segmentBytes - offset < kRecordHeaderBytes)
                break;
            const std::uint64_t length = load64(base + offset);
            if (length < kRecordHeaderBytes || length - kRecordHeaderBytes > LONG_MAX)
                break;
            const std::uint64_t payloadLength = length - kRecordHeaderBytes;
            std::memcpy(type, base + offset + 8, kTypeBytes);
            const std::uint64_t payloadOffset = offset + kRecordHeaderBytes;
            const std::uint64_t available = segmentBytes - payloadOffset;
            if (payloadLength <= available) {
                if (ensureBuffer(payloadLength)) {
                    std::memcpy(m_buffer.get(), base + payloadOffset, payloadLength);
                    if (m_observer)
                        m_observer->onMessage(type, m_buffer.get(),
                                              static_cast<long>(payloadLength));
                } else {
                    qWarning("Message channel %d: no memory for a message of %llu bytes; dropped",
                             int(m_queueId), static_cast<unsigned long long>(payloadLength));
                }
                offset = payloadOffset + payloadLength;
                continue;
            }
            // Only the last record may run past the end: it continues in chunks.
            if (i + 1 != count)
                break;
            keep = ensureBuffer(payloadLength);
            if (keep)
                std::memcpy(m_buffer.get(), base + payloadOffset, available);
            partialLength = payloadLength;
            have = available;
            m_receivingPartial.store(true);
            break;
        }
    }
    segment.received->set();
    if (m_receivingPartial.load())
        receiveChunks(type, partialLength, have, keep);
    trimBuffer();
}

void MessageChannel::receiveChunks(const char* type, std::uint64_t length, std::uint64_t have,
                                   bool keep) {
    Segment& segment = *m_peer;
    const std::uint64_t chunkBytes = m_options.segmentBytes - 8;
    if (!keep)
        qWarning("Message channel %d: no memory for a message of %llu bytes; dropped",
                 int(m_queueId), static_cast<unsigned long long>(length));
    segment.partialReceived->set();
    bool abandoned = false;
    while (have < length) {
        bool took = false;
        {
            SegmentLock lock(*segment.lock);
            if (!lock)
                break;
            const std::uint64_t flag = load64(segment.base);
            if (flag == kChunkAbandoned) {
                store64(segment.base, 0);
                abandoned = true;
            } else if (flag != 0) {
                const std::uint64_t n = std::min(length - have, chunkBytes);
                if (keep)
                    std::memcpy(m_buffer.get() + have, segment.base + 8, n);
                have += n;
                store64(segment.base, 0);
                took = true;
            }
        }
        if (abandoned) {
            segment.received->set();
            break;
        }
        if (took) {
            segment.partialReceived->set();
            continue;
        }
        if (m_closing.load())
            break;
        segment.partial->wait(m_options.waitTimeoutMs);
    }
    m_receivingPartial.store(false);
    if (have == length && keep && !abandoned && m_observer)
        m_observer->onMessage(type, m_buffer.get(), static_cast<long>(length));
}

MessageChannel::WriteResult MessageChannel::writeMessage(const std::array<char, kTypeBytes>& type,
                                                         const char* data, std::uint64_t size,
                                                         std::uint64_t generation) {
    Segment& segment = *m_own;
    if (!segment.usable() || m_peerGeneration.load() != generation) {
        if (segment.usable())
            m_dropped.fetch_add(1);  // meant for a peer that is gone
        return WriteResult::GivenUp;
    }
    const std::uint64_t segmentBytes = m_options.segmentBytes;
    std::uint64_t count = 0;
    std::uint64_t end = 8;
    std::uint64_t written = 0;
    {
        SegmentLock lock(*segment.lock);
        if (!lock)
            return WriteResult::GivenUp;
        unsigned char* base = segment.base;
        count = load64(base);
        bool valid = count != kChunkAbandoned;  // an abandoned chunk the reader has not seen yet
        if (valid && count != 0) {
            if (count == m_cachedCount) {
                end = m_cachedEnd;
            } else {
                for (std::uint64_t i = 0; i < count && valid; ++i) {
                    const std::uint64_t length = segmentBytes - end < 8 ? 0 : load64(base + end);
                    valid = length >= kRecordHeaderBytes && length <= segmentBytes - end;
                    end += valid ? length : 0;
                }
            }
        }
        // A segment whose records do not add up counts as full until the reader drops them.
        if (!valid || segmentBytes - end < kMinFreeBytes) {
            segment.received->reset();
            return WriteResult::Full;
        }
        written = std::min(segmentBytes - end - kRecordHeaderBytes, size);
        store64(base + end, size + kRecordHeaderBytes);
        std::memcpy(base + end + 8, type.data(), kTypeBytes);
        if (written)
            std::memcpy(base + end + kRecordHeaderBytes, data, written);
        store64(base, count + 1);
        m_cachedCount = count + 1;
        m_cachedEnd = end + kRecordHeaderBytes + written;
    }
    segment.data->set();
    if (written == size)
        return WriteResult::Written;
    return sendChunks(data, size, written, count, end, generation);
}

MessageChannel::WriteResult MessageChannel::sendChunks(const char* data, std::uint64_t size,
                                                       std::uint64_t sent,
                                                       std::uint64_t countBefore,
                                                       std::uint64_t recordOffset,
                                                       std::uint64_t generation) {
    Segment& segment = *m_own;
    const std::uint64_t chunkBytes = m_options.segmentBytes - 8;
    m_sendingPartial.store(true);
    m_cachedCount = 0;
    segment.partial->set();
    bool readerSawRecord = false;
    // Each turn waits until word 0 is 0 (the reader took the first part or the last chunk), then
    // hands over the next chunk. The last turn only waits for the last chunk to be taken, so that
    // the next record never meets a chunk flag.
    for (;;) {
        bool done = false;
        bool wrote = false;
        {
            SegmentLock lock(*segment.lock);
            if (!lock)
                break;
            // Reset under the lock: a set after this means word 0 changed since it was read.
            segment.partialReceived->reset();
            if (load64(segment.base) == 0) {
                readerSawRecord = true;
                if (sent == size) {
                    done = true;
                } else {
                    const std::uint64_t n = std::min(size - sent, chunkBytes);
                    std::memcpy(segment.base + 8, data + sent, n);
                    store64(segment.base, 1);
                    sent += n;
                    wrote = true;
                }
            }
        }
        if (done) {
            m_sendingPartial.store(false);
            return WriteResult::Written;
        }
        if (wrote) {
            segment.partial->set();
            continue;
        }
        if (m_closing.load() || m_peerGeneration.load() != generation ||
            !segment.partialReceived->wait(m_options.waitTimeoutMs))
            break;
    }
    if (giveUpChunkedSend(readerSawRecord, countBefore)) {
        m_cachedCount = countBefore;
        m_cachedEnd = recordOffset;
    }
    return WriteResult::GivenUp;
}

bool MessageChannel::giveUpChunkedSend(bool readerSawRecord, std::uint64_t countBefore) {
    Segment& segment = *m_own;
    bool retracted = false;
    {
        SegmentLock lock(*segment.lock);
        if (!readerSawRecord && load64(segment.base) == countBefore + 1) {
            store64(segment.base, countBefore);  // the reader never saw it: retract the record
            retracted = true;
        } else {
            store64(segment.base, kChunkAbandoned);
        }
    }
    segment.partial->set();
    m_sendingPartial.store(false);
    m_dropped.fetch_add(1);
    qWarning("Message channel %d: the peer did not take a chunked message; dropped",
             int(m_queueId));
    return retracted;
}

void MessageChannel::sendMessage(const char* type, const void* data, long size) {
    if (size < 0 || (size > 0 && !data) || !m_own->usable())
        return;
    const auto field = typeField(type);
    const auto* bytes = static_cast<const char*>(data);
    // Behind queued messages, a message waits its turn so that one thread's messages keep their
    // order.
    if (m_pending.load() == 0) {
        std::lock_guard<std::mutex> guard(m_writeMutex);
        if (writeMessage(field, bytes, static_cast<std::uint64_t>(size), m_peerGeneration.load()) !=
            WriteResult::Full)
            return;
    }
    enqueue(field, bytes, static_cast<std::uint64_t>(size));
}

void MessageChannel::sendMessageAsync(const char* type, const char* data, std::uint64_t size) {
    if ((size > 0 && !data) || size > LONG_MAX || !m_own->usable())
        return;
    enqueue(typeField(type), data, size);
}

void MessageChannel::enqueue(const std::array<char, kTypeBytes>& type, const char* data,
                             std::uint64_t size) {
    std::unique_lock<std::mutex> lock(m_queueMutex);
    if (m_senderStop)
        return;
    if (!m_queue.empty() && m_queuedBytes + size > m_options.maxQueuedBytes) {
        if (m_dropped.fetch_add(1) == 0 || m_dropped.load() % 1000 == 0)
            qWarning(
                "Message channel %d: the peer is not draining; asynchronous message \"%.12s\" "
                "dropped (%llu so far)",
                int(m_queueId), type.data(), static_cast<unsigned long long>(m_dropped.load()));
        return;
    }
    PendingMessage message{type, std::unique_ptr<char[]>(new char[size ? size : 1]), size};
    if (size)
        std::memcpy(message.data.get(), data, size);
    if (!m_senderThread.joinable())
        m_senderThread = std::thread(&MessageChannel::senderLoop, this);
    m_queue.push_back(std::move(message));
    m_queuedBytes += size;
    m_pending.fetch_add(1);
    lock.unlock();
    m_queueChanged.notify_one();
}

void MessageChannel::senderLoop() {
    for (;;) {
        PendingMessage message;
        {
            std::unique_lock<std::mutex> lock(m_queueMutex);
            m_queueChanged.wait(lock, [this] { return m_senderStop || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            message = std::move(m_queue.front());
            m_queue.pop_front();
            m_queuedBytes -= message.size;
        }
        sendQueued(message);
        std::lock_guard<std::mutex> guard(m_queueMutex);
        if (m_pending.fetch_sub(1) == 1)
            m_queueIdle.notify_all();
    }
}

void MessageChannel::sendQueued(PendingMessage& message) {
    const std::uint64_t generation = m_peerGeneration.load();
    int backoffMs = 1;
    for (;;) {
        WriteResult result;
        {
            std::lock_guard<std::mutex> guard(m_writeMutex);
            result = writeMessage(message.type, message.data.get(), message.size, generation);
        }
        if (result != WriteResult::Full)
            return;
        if (m_closing.load() || m_peerGeneration.load() != generation) {
            m_dropped.fetch_add(1);
            return;
        }
        // writeMessage() reset the received event under the segment lock; the peer's reader sets
        // it after its next drain. The timeout only bounds a missed wake, it is not a poll.
        m_own->received->wait(backoffMs);
        backoffMs = std::min(backoffMs * 2, 1000);
    }
}

void MessageChannel::abandonPeer() {
    // The queue goes first: a writer woken below must find nothing more to send to the old peer.
    {
        std::lock_guard<std::mutex> guard(m_queueMutex);
        m_dropped.fetch_add(m_queue.size());
        m_pending.fetch_sub(m_queue.size());
        m_queue.clear();
        m_queuedBytes = 0;
        if (m_pending.load() == 0)
            m_queueIdle.notify_all();
    }
    m_peerGeneration.fetch_add(1);
    for (NamedEvent* event : {m_own->received, m_own->partialReceived})
        if (event)
            event->set();  // a writer waiting for the peer sees the new generation
    std::lock_guard<std::mutex> guard(m_writeMutex);
    if (!m_own->usable())
        return;
    SegmentLock lock(*m_own->lock);
    if (lock)
        store64(m_own->base, 0);
    m_cachedCount = 0;
}

void MessageChannel::releaseNames() {
    if (!m_isCreator)
        return;
    for (Segment* segment : {m_sender.get(), m_receiver.get()}) {
        if (!segment->memory)
            continue;
        platform::removeSegment(*segment->memory);
        QFile::remove(segment->memory->nativeKey());
        // Qt's lock semaphore of the key, which this library does not use.
        QSystemSemaphore(segment->key, 1, QSystemSemaphore::Create);
    }
    for (const std::string& name : m_names.events)
        NamedEvent::remove(name);
    InterProcessMutex::remove(m_names.senderLock);
    InterProcessMutex::remove(m_names.receiverLock);
}

void MessageChannel::waitForAsyncIdle() {
    std::unique_lock<std::mutex> lock(m_queueMutex);
    m_queueIdle.wait(lock, [this] { return m_pending.load() == 0; });
}

void MessageChannel::removeLeftovers(qint32 queueId) {
    const ChannelNames names = ChannelNames::forQueue(queueId);
    for (const std::string& name : {names.senderSegment, names.receiverSegment}) {
        const QString key = QString::fromStdString(name);
        {
            QSharedMemory probe(key);
            platform::removeSegment(probe);
            QFile::remove(probe.nativeKey());
        }
        // Qt's lock semaphore for the key: an owner made with Create removes it when destroyed.
        QSystemSemaphore(key, 1, QSystemSemaphore::Create);
    }
    for (const std::string& name : names.events)
        NamedEvent::remove(name);
    InterProcessMutex::remove(names.senderLock);
    InterProcessMutex::remove(names.receiverLock);
}

}  // namespace xel
