#include "render_link/channel/message_channel.h"

#include <QSharedMemory>
#include <QtDebug>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <new>
#include <set>
#include <string>

#include "XelInterProcessMessagesManager.h"
#include "platform/cpu_relax.h"
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

using LockResult = InterProcessMutex::LockResult;
using Clock = std::chrono::steady_clock;

bool locked(LockResult result) {
    return result == LockResult::Locked || result == LockResult::LockedOwnerDied;
}

// Unlocks a segment lock taken by MessageChannel::lockSegment().
class SegmentUnlock {
public:
    SegmentUnlock(InterProcessMutex& mutex, LockResult result)
        : m_mutex(locked(result) ? &mutex : nullptr) {}
    ~SegmentUnlock() {
        if (m_mutex)
            m_mutex->unlock();
    }
    SegmentUnlock(const SegmentUnlock&) = delete;
    SegmentUnlock& operator=(const SegmentUnlock&) = delete;

private:
    InterProcessMutex* m_mutex;
};

// How long a lock wait lasts at most before it looks at the channel's state again.
constexpr int kLockSliceMs = 100;

// How long a writer waits for the segment lock once the peer counts as stalled: a peer that runs
// again holds the lock only for one pass, while one that stopped in a pass holds it for good.
constexpr int kStalledLockGraceMs = 250;

constexpr std::size_t kDeliveryAlignment = 16;

// While the peer keeps appending records, the reader waits a little before it takes them, so that
// one pass takes many records and the two sides do not contend for the lock over every record: it
// looks at the count every kGatherPauses pauses (about a microsecond), and takes the records once
// the count stops growing, reaches kGatherRecords, or after kGatherPolls looks.
constexpr int kGatherPauses = 16;
constexpr int kGatherPolls = 64;
constexpr std::uint64_t kGatherRecords = 4096;

std::size_t alignUp(std::size_t value) {
    return (value + kDeliveryAlignment - 1) & ~(kDeliveryAlignment - 1);
}

int msSince(Clock::time_point start) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

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

std::size_t segmentBytesFromEnvironment(const char* variable) {
    bool ok = false;
    const qulonglong bytes = qEnvironmentVariable(variable).trimmed().toULongLong(&ok);
    return ok && bytes >= kMinSegmentBytes && bytes <= kSegmentBytes
               ? static_cast<std::size_t>(bytes)
               : kSegmentBytes;
}

int stallLimitFromEnvironment(const char* variable) {
    bool ok = false;
    const int ms = qEnvironmentVariable(variable).trimmed().toInt(&ok);
    return ok && ms >= kMinStallLimitMs && ms <= kMaxStallLimitMs ? ms : kStallLimitMs;
}

void removeSyncObjectNames(const ChannelNames& names) {
    for (const std::string& name : names.events)
        NamedEvent::remove(name);
    InterProcessMutex::remove(names.senderLock);
    InterProcessMutex::remove(names.receiverLock);
}

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
    m_usable.store(m_own->usable());
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
    if (m_closed.exchange(true))
        return;
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

    // The peer keeps the objects it has open, and the system frees them when it lets go of them;
    // a later session makes new ones.
    releaseNames();
    {
        // A send on another thread finishes its write before the segments go.
        std::lock_guard<std::mutex> guard(m_writeMutex);
        m_usable.store(false);
        for (Segment* segment : {m_receiver.get(), m_sender.get()}) {
            segment->base = nullptr;
            if (segment->memory)
                segment->memory->detach();
            if (segment->created)
                setCreatedHere(segment->key, false);
        }
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

// ---- Reporting ---------------------------------------------------------------------------------

void MessageChannel::notDelivered(Failures& failures, const TypeField& type, std::uint64_t size,
                                  WriteResult why) {
    int code = XelInterProcessMessagesObserver::kPeerGone;
    if (why == WriteResult::Stalled)
        code = XelInterProcessMessagesObserver::kPeerStalled;
    failures.push_back({type, size, code});
}

void MessageChannel::report(const Failures& failures) {
    for (const Failure& failure : failures) {
        const std::uint64_t count = m_dropped.fetch_add(1) + 1;
        const char* reason = "the peer is gone";
        std::string stalled;
        switch (failure.code) {
            case XelInterProcessMessagesObserver::kPeerStalled:
                stalled =
                    "the peer took nothing for " + std::to_string(m_options.stallLimitMs) + " ms";
                reason = stalled.c_str();
                break;
            case XelInterProcessMessagesObserver::kBacklogFull:
                reason = "the asynchronous backlog is full";
                break;
            case XelInterProcessMessagesObserver::kNoMemory:
                reason = "no memory to hold it";
                break;
            default:
                break;
        }
        const std::string text =
            "Message \"" +
            std::string(failure.type.data(), ::strnlen(failure.type.data(), kTypeBytes)) + "\" (" +
            std::to_string(failure.size) + " bytes) not delivered: " + reason + ".";
        if (count == 1 || count % 1000 == 0)
            qWarning("Message channel %d: %s (%llu not delivered so far)", int(m_queueId),
                     text.c_str(), static_cast<unsigned long long>(count));
        if (m_observer)
            m_observer->onError(failure.code, text.c_str());
    }
}

// ---- Locking -----------------------------------------------------------------------------------

template <class GiveUp>
LockResult MessageChannel::lockSegment(Segment& segment, int timeoutMs, GiveUp giveUp) {
    const LockResult first = segment.lock->lock(0);
    if (first != LockResult::TimedOut || timeoutMs == 0 || giveUp())
        return first;
    const auto start = Clock::now();
    for (;;) {
        const int slice =
            timeoutMs < 0 ? kLockSliceMs : std::clamp(timeoutMs - msSince(start), 0, kLockSliceMs);
        const LockResult result = segment.lock->lock(slice);
        if (result != LockResult::TimedOut || giveUp() ||
            (timeoutMs >= 0 && msSince(start) >= timeoutMs))
            return result;
    }
}

int MessageChannel::lockTimeoutMs() const {
    return m_peerStalled.load() ? std::min(kStalledLockGraceMs, m_options.stallLimitMs)
                                : m_options.stallLimitMs;
}

// ---- Reader ------------------------------------------------------------------------------------

void MessageChannel::readerLoop() {
    const bool handles =
        std::all_of(m_events.begin(), m_events.end(), [](const auto& e) { return e != nullptr; });
    const bool segments = m_sender->base && m_sender->lock && m_receiver->base && m_receiver->lock;
    if (!handles || !segments) {
        if (m_observer && !handles)
            m_observer->onError(XelInterProcessMessagesObserver::kSetUpFailed, kNoHandlesError);
        if (m_observer && !segments)
            m_observer->onError(XelInterProcessMessagesObserver::kSetUpFailed, kNoSegmentError);
        m_running.store(false);
        return;
    }
    if (m_observer)
        m_observer->onChannelConnected();
    drain();  // records the peer wrote before this reader started
    while (!m_closing.load()) {
        if (m_peer->data->wait(m_options.waitTimeoutMs) && !m_closing.load())
            drain();
    }
}

// A block of at least `bytes` (never empty, so that even a zero-length payload is handed over at
// a valid address), reused when no hold shares it and it is large enough. Not zero-filled: every
// byte handed to the observer is copied in first. With `keep`, the first `keep` bytes move along.
bool MessageChannel::reserveBlock(Block& block, std::uint64_t bytes, std::uint64_t keep) {
    bytes = std::max<std::uint64_t>(bytes, 1);
    if (block.reusable() && bytes <= block.capacity)
        return true;
    if (bytes > SIZE_MAX)
        return false;
    const auto size = static_cast<std::size_t>(bytes);
    // A block no hold shares goes first, so that a large one is never needed twice at once.
    if (block.reusable() && !keep)
        block = {};
    std::shared_ptr<char> grown;
    try {
        char* raw = new (std::nothrow) char[size];
        if (!raw)
            return false;
        grown = std::shared_ptr<char>(raw, std::default_delete<char[]>());
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (keep)
        std::memcpy(grown.get(), block.bytes.get(), static_cast<std::size_t>(keep));
    block.bytes = std::move(grown);
    block.capacity = size;
    return true;
}

bool MessageChannel::reserveBatch(std::size_t bytes) {
    return reserveBlock(m_batch, bytes, 0);
}

bool MessageChannel::reservePartial(std::uint64_t bytes, std::uint64_t keep) {
    return reserveBlock(m_partial, bytes, keep);
}

MessageChannel::Block& MessageChannel::blockOf(std::size_t index) {
    return index == 0 ? m_batch : m_moreBlocks[index - 1];
}

void MessageChannel::trimBuffers() {
    m_moreBlocks.clear();  // a held one belongs to its holds now
    for (Block* block : {&m_batch, &m_partial}) {
        if (!block->reusable() || block->capacity > m_options.retainedBufferBytes)
            *block = {};  // a held block belongs to its holds now
    }
}

void MessageChannel::deliver(const char* type, const Block& block, const char* data,
                             std::uint64_t size) {
    if (!m_observer)
        return;
    m_delivering = &block;
    m_deliveringData = data;
    m_observer->onMessage(type, data, static_cast<long>(size));
    m_delivering = nullptr;
    m_deliveringData = nullptr;
}

std::shared_ptr<const char> MessageChannel::holdDelivery(const void* data) {
    if (!m_delivering || !data || data != m_deliveringData)
        return nullptr;
    return std::shared_ptr<const char>(m_delivering->bytes, m_deliveringData);
}

std::size_t MessageChannel::placeInBatch(const Delivery& delivery, const unsigned char* payload,
                                         std::size_t at) const {
    at = alignUp(at);
    if (!m_options.placement)
        return at;
    const std::size_t aligned =
        m_options.placement(delivery.type, payload, static_cast<std::size_t>(delivery.size));
    return at + (kDeliveryAlignment - aligned % kDeliveryAlignment) % kDeliveryAlignment;
}

void MessageChannel::letBurstGather(const Segment& segment) const {
    // Read without the lock, as a hint only: the pass itself reads the count under the lock.
    const auto* count = reinterpret_cast<const std::uint64_t*>(segment.base);
    std::uint64_t seen = __atomic_load_n(count, __ATOMIC_RELAXED);
    for (int poll = 0; poll < kGatherPolls && seen != 0 && seen < kGatherRecords; ++poll) {
        for (int i = 0; i < kGatherPauses; ++i)
            platform::cpuRelax();
        const std::uint64_t now = __atomic_load_n(count, __ATOMIC_RELAXED);
        if (now == seen)
            return;  // the writer paused: take what is there
        seen = now;
    }
}

void MessageChannel::drain() {
    Segment& segment = *m_peer;
    letBurstGather(segment);
    PartialMessage partial;
    Failures failures;
    if (!takeBatch(segment, partial, failures))
        return;  // closing
    segment.received->set();
    if (partial.length)
        segment.partialReceived->set();  // the writer may hand over the next chunk meanwhile
    report(failures);
    for (const Delivery& delivery : m_deliveries) {
        const Block& block = blockOf(delivery.block);
        deliver(delivery.type, block, block.bytes.get() + delivery.batchOffset, delivery.size);
    }
    if (partial.length)
        receiveChunks(partial);
    trimBuffers();
}

bool MessageChannel::takeBatch(Segment& segment, PartialMessage& partial, Failures& failures) {
    m_deliveries.clear();
    unsigned char* base = segment.base;
    Listing listing;
    // The records the count covers stay as they are until the reader clears the count: the writer
    // only appends behind them. So they are copied out without the lock, while the writer goes on
    // appending; the lock is held to read the count, and, once no record came in since the last
    // look, to take the first part of a record continued in chunks and clear the count.
    for (;;) {
        std::uint64_t count = 0;
        {
            const LockResult lock = lockSegment(segment, -1, [this] { return m_closing.load(); });
            SegmentUnlock unlock(*segment.lock, lock);
            if (!locked(lock))
                return false;
            count = load64(base);
            // Records taken back: a chunked message given up after the reader saw it, or the
            // writer gave up on this reader and cleared the count.
            const bool takenBack =
                count == kChunkAbandoned || (count < listing.records && !retracted(listing, count));
            bool startOver = takenBack;
            if (takenBack && (count == kChunkAbandoned || count == 0)) {
                store64(base, 0);
                m_deliveries.clear();
                partial = {};
                return true;
            }
            if (!takenBack && count < listing.records) {
                // The writer took back the record it gave up, the last, continued in chunks,
                // before the reader took its first part; the records before it stand.
                store64(base, 0);
                partial = {};
                return true;
            }
            if (!takenBack && (count == listing.records || listing.ended)) {
                if (!listing.partialOffset || takeFirstPart(base, listing, partial)) {
                    // Consumed before any is delivered: a reader killed inside a handler leaves
                    // no batch for the next reader to deliver again.
                    store64(base, 0);
                    return true;
                }
                startOver = true;  // the writer replaced the record continued in chunks
            }
            if (startOver) {
                m_deliveries.clear();
                partial = {};
                listing = {};
            }
        }
        if (count > listing.records)
            listRecords(base, count, listing, partial, failures);
    }
}

bool MessageChannel::retracted(const Listing& listing, std::uint64_t count) {
    return listing.partialOffset != 0 && count + 1 == listing.records;
}

bool MessageChannel::takeFirstPart(const unsigned char* base, const Listing& listing,
                                   PartialMessage& partial) {
    // The record is checked again under the lock: a writer that gave it up and appended another
    // in its place makes the pass start over.
    const std::uint64_t at = listing.partialOffset;
    if (load64(base + at) != partial.length + kRecordHeaderBytes ||
        std::memcmp(base + at + 8, partial.type, kTypeBytes) != 0)
        return false;
    if (partial.keep)
        std::memcpy(m_partial.bytes.get() + partial.phase, base + at + kRecordHeaderBytes,
                    static_cast<std::size_t>(partial.have));
    return true;
}

void MessageChannel::listRecords(const unsigned char* base, std::uint64_t count, Listing& listing,
                                 PartialMessage& partial, Failures& failures) {
    const std::uint64_t segmentBytes = m_options.segmentBytes;
    const std::size_t first = m_deliveries.size();
    std::size_t batchBytes = listing.batchBytes;
    // Whatever the count and the lengths say, no read leaves the segment: a record that does not
    // fit its place ends the pass and the rest is dropped.
    std::uint64_t offset = listing.offset;
    for (std::uint64_t i = listing.records; i < count; ++i) {
        listing.ended = true;  // unless the record fits
        if (segmentBytes - offset < kRecordHeaderBytes)
            break;
        const std::uint64_t length = load64(base + offset);
        if (length < kRecordHeaderBytes || length - kRecordHeaderBytes > LONG_MAX)
            break;
        Delivery delivery{};
        std::memcpy(delivery.type, base + offset + 8, kTypeBytes);
        delivery.size = length - kRecordHeaderBytes;
        delivery.offset = static_cast<std::size_t>(offset + kRecordHeaderBytes);
        const std::uint64_t available = segmentBytes - delivery.offset;
        if (delivery.size <= available) {
            delivery.batchOffset = placeInBatch(delivery, base + delivery.offset, batchBytes);
            // The list is kept from pass to pass; it grows only with records that are there.
            try {
                m_deliveries.push_back(delivery);
            } catch (const std::bad_alloc&) {
                TypeField type{};
                std::memcpy(type.data(), delivery.type, kTypeBytes);
                failures.push_back(
                    {type, delivery.size, XelInterProcessMessagesObserver::kNoMemory});
                qWarning(
                    "Message channel %d: no memory to list the records behind \"%.12s\"; "
                    "dropped",
                    int(m_queueId), delivery.type);
                break;
            }
            batchBytes = delivery.batchOffset + static_cast<std::size_t>(delivery.size);
            offset = delivery.offset + delivery.size;
            listing.ended = false;
            continue;
        }
        // Only the last record may run past the end: it continues in chunks. Its first part is
        // taken under the lock, as the pass ends; what the reader holds of it grows with what
        // actually arrives, whatever length the record claims.
        if (i + 1 != count)
            break;
        std::memcpy(partial.type, delivery.type, sizeof partial.type);
        partial.length = delivery.size;
        partial.have = available;
        // Placed by the bytes the segment holds of it: the placement reads no further than the
        // size it is given, and the rest of the payload lies beyond the segment's end.
        Delivery firstPart = delivery;
        firstPart.size = available;
        partial.phase = placeInBatch(firstPart, base + delivery.offset, 0);
        // Only what is there: a claimed length is no reason to allocate.
        partial.keep = reservePartial(partial.phase + available, 0);
        listing.partialOffset = offset;
        break;
    }
    listing.records = count;
    listing.offset = offset;

    bool room = true;
    if (listing.batchBytes == 0 && listing.block == 0) {
        room = reserveBatch(batchBytes);
    } else if (batchBytes > blockOf(listing.block).capacity) {
        // Records that came in while the pass went on, more than the block has room for: they go
        // to a block of their own, at least as large as the last.
        batchBytes = 0;
        for (std::size_t i = first; i < m_deliveries.size(); ++i) {
            Delivery& delivery = m_deliveries[i];
            delivery.batchOffset = placeInBatch(delivery, base + delivery.offset, batchBytes);
            batchBytes = delivery.batchOffset + static_cast<std::size_t>(delivery.size);
        }
        Block block;
        room = reserveBlock(block, std::max(batchBytes, blockOf(listing.block).capacity), 0);
        if (room) {
            try {
                m_moreBlocks.push_back(std::move(block));
                listing.block = m_moreBlocks.size();
            } catch (const std::bad_alloc&) {
                room = false;
            }
        }
    }
    if (!room) {
        for (std::size_t i = first; i < m_deliveries.size(); ++i) {
            TypeField type{};
            std::memcpy(type.data(), m_deliveries[i].type, kTypeBytes);
            failures.push_back(
                {type, m_deliveries[i].size, XelInterProcessMessagesObserver::kNoMemory});
        }
        m_deliveries.resize(first);
        listing.ended = true;  // what follows would not be in order
        return;
    }
    listing.batchBytes = batchBytes;
    char* const to = blockOf(listing.block).bytes.get();
    for (std::size_t i = first; i < m_deliveries.size(); ++i) {
        Delivery& delivery = m_deliveries[i];
        delivery.block = listing.block;
        std::memcpy(to + delivery.batchOffset, base + delivery.offset,
                    static_cast<std::size_t>(delivery.size));
    }
}

void MessageChannel::receiveChunks(const PartialMessage& message) {
    Segment& segment = *m_peer;
    const std::uint64_t chunkBytes = m_options.segmentBytes - 8;
    const std::uint64_t length = message.length;
    std::uint64_t have = message.have;
    bool keep = message.keep;
    bool abandoned = false;
    while (have < length) {
        const std::uint64_t n = std::min(length - have, chunkBytes);
        // Grown before the lock is taken, geometrically, and only when the next chunk would not
        // fit: what the reader holds grows with the chunks that arrive, not with the length the
        // record claims or with how often the reader wakes.
        const std::uint64_t phase = message.phase;
        const bool grow = phase + have + n > m_partial.capacity || !m_partial.reusable();
        if (keep && grow &&
            !reservePartial(
                phase + std::min(length, std::max<std::uint64_t>(have + n, 2 * m_partial.capacity)),
                phase + have))
            keep = false;
        bool took = false;
        {
            const LockResult lock = lockSegment(segment, -1, [this] { return m_closing.load(); });
            SegmentUnlock unlock(*segment.lock, lock);
            if (!locked(lock))
                break;
            const std::uint64_t flag = load64(segment.base);
            if (flag == kChunkAbandoned) {
                store64(segment.base, 0);
                abandoned = true;
            } else if (flag != 0) {
                if (keep)
                    std::memcpy(m_partial.bytes.get() + phase + have, segment.base + 8,
                                static_cast<std::size_t>(n));
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
    if (have != length || abandoned)
        return;  // closing, or the writer gave the message up
    if (!keep) {
        TypeField type{};
        std::memcpy(type.data(), message.type, kTypeBytes);
        report({{type, length, XelInterProcessMessagesObserver::kNoMemory}});
        return;
    }
    deliver(message.type, m_partial, m_partial.bytes.get() + message.phase, length);
}

// ---- Writers -----------------------------------------------------------------------------------

void MessageChannel::writePiece(const Payload& payload, unsigned char* out, std::uint64_t begin,
                                std::uint64_t count) {
    if (count == 0)
        return;
    if (payload.fill)
        payload.fill->write(payload.fill->context, reinterpret_cast<char*>(out), begin, count);
    else
        std::memcpy(out, payload.bytes + begin, static_cast<std::size_t>(count));
}

// Under the segment lock: takes back a chunked record the reader has not seen, or marks it
// abandoned for a reader that is taking its chunks. Returns true if the record was taken back.
bool MessageChannel::settleGivenUpChunks(unsigned char* base) {
    const bool retract = !m_givenUp.readerSawRecord && load64(base) == m_givenUp.countBefore + 1;
    m_lastWord = retract ? m_givenUp.countBefore : kChunkAbandoned;
    store64(base, m_lastWord);
    m_givenUp.pending = false;
    m_cachedCount = 0;
    // A reader learns at once that no chunk comes, also when this runs later than the give-up
    // itself: one waiting for the next chunk, and one waiting for records, which clears the mark.
    if (!retract) {
        m_own->partial->set();
        m_own->data->set();
    }
    return retract;
}

// Under the segment lock: the repairs a give-up or an abandoned peer could not make because the
// lock was not free then.
void MessageChannel::settlePending(unsigned char* base) {
    if (m_givenUp.pending)
        settleGivenUpChunks(base);
    if (m_clearPending) {
        if (load64(base) != kChunkAbandoned)
            store64(base, 0);  // an abandoned mark stays until a reader clears it
        m_lastWord = load64(base);
        m_clearPending = false;
        m_cachedCount = 0;
    }
}

MessageChannel::WriteResult MessageChannel::tryWrite(const TypeField& type, const Payload& payload,
                                                     std::uint64_t size, std::uint64_t generation,
                                                     bool allowChunks, int lockTimeoutMs) {
    Segment& segment = *m_own;
    auto gone = [&] { return m_closing.load() || m_peerGeneration.load() != generation; };
    if (gone() || !segment.usable())
        return WriteResult::Gone;
    const std::uint64_t segmentBytes = m_options.segmentBytes;
    std::uint64_t count = 0;
    std::uint64_t end = 8;
    std::uint64_t written = 0;
    {
        const LockResult lock = lockSegment(segment, lockTimeoutMs, gone);
        SegmentUnlock unlock(*segment.lock, lock);
        if (!locked(lock))
            return lock == LockResult::TimedOut && !gone() ? WriteResult::Busy : WriteResult::Gone;
        unsigned char* base = segment.base;
        settlePending(base);
        count = load64(base);
        if (count != m_lastWord)
            m_peerStalled.store(false);  // the reader took records since this side looked last
        m_lastWord = count;
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
        // A segment whose records do not add up counts as full until the reader drops them. A
        // message that would travel in chunks needs a reader that takes them, and one that fits
        // whole waits for room instead.
        allowChunks = allowChunks && size > largestWholePayload() && !m_peerStalled.load();
        if (!valid || segmentBytes - end < kMinFreeBytes ||
            (!allowChunks && segmentBytes - end - kRecordHeaderBytes < size)) {
            // Reset under the lock: a set after this means the reader drained since.
            segment.received->reset();
            m_cachedCount = valid ? count : 0;
            m_cachedEnd = end;
            return WriteResult::Full;
        }
        written = std::min(segmentBytes - end - kRecordHeaderBytes, size);
        store64(base + end, size + kRecordHeaderBytes);
        std::memcpy(base + end + 8, type.data(), kTypeBytes);
        writePiece(payload, base + end + kRecordHeaderBytes, 0, written);
        store64(base, count + 1);
        m_lastWord = count + 1;
        m_cachedCount = count + 1;
        m_cachedEnd = end + kRecordHeaderBytes + written;
    }
    segment.data->set();
    if (written == size)
        return WriteResult::Written;
    return sendChunks(payload, size, written, count, end, generation);
}

MessageChannel::WriteResult MessageChannel::writeWaiting(const TypeField& type,
                                                         const Payload& payload, std::uint64_t size,
                                                         std::uint64_t generation) {
    Clock::time_point lastProgress{};  // taken when the segment is first found full
    for (;;) {
        const WriteResult result = tryWrite(type, payload, size, generation, true, lockTimeoutMs());
        if (result == WriteResult::Busy) {  // the peer held the segment lock all that time
            m_peerStalled.store(true);
            return WriteResult::Stalled;
        }
        if (result != WriteResult::Full)
            return result;
        if (m_peerStalled.load())
            return WriteResult::Stalled;
        if (m_closing.load() || m_peerGeneration.load() != generation)
            return WriteResult::Gone;
        if (lastProgress == Clock::time_point{})
            lastProgress = Clock::now();
        const int left = m_options.stallLimitMs - msSince(lastProgress);
        if (left <= 0) {
            m_peerStalled.store(true);
            return WriteResult::Stalled;
        }
        // tryWrite() reset the received event under the segment lock; the reader sets it after
        // its next pass.
        if (m_own->received->wait(left))
            lastProgress = Clock::now();
    }
}

MessageChannel::WriteResult MessageChannel::sendChunks(const Payload& payload, std::uint64_t size,
                                                       std::uint64_t sent,
                                                       std::uint64_t countBefore,
                                                       std::uint64_t recordOffset,
                                                       std::uint64_t generation) {
    Segment& segment = *m_own;
    const std::uint64_t chunkBytes = m_options.segmentBytes - 8;
    auto gone = [&] { return m_closing.load() || m_peerGeneration.load() != generation; };
    m_cachedCount = 0;
    segment.partial->set();
    bool readerSawRecord = false;
    auto lastProgress = Clock::now();
    WriteResult why = WriteResult::Stalled;
    // Each turn waits until word 0 is 0 (the reader took the first part or the last chunk), then
    // hands over the next chunk. The last turn only waits for the last chunk to be taken, so that
    // the next record never meets a chunk flag.
    for (;;) {
        bool done = false;
        bool wrote = false;
        {
            const LockResult lock = lockSegment(segment, lockTimeoutMs(), gone);
            SegmentUnlock unlock(*segment.lock, lock);
            if (!locked(lock)) {
                why =
                    gone() || lock == LockResult::Failed ? WriteResult::Gone : WriteResult::Stalled;
                break;
            }
            // Reset under the lock: a set after this means word 0 changed since it was read.
            segment.partialReceived->reset();
            if (load64(segment.base) == 0) {
                readerSawRecord = true;
                lastProgress = Clock::now();
                if (sent == size) {
                    done = true;
                } else {
                    const std::uint64_t n = std::min(size - sent, chunkBytes);
                    writePiece(payload, segment.base + 8, sent, n);
                    store64(segment.base, 1);
                    sent += n;
                    wrote = true;
                }
            }
        }
        if (done) {
            m_lastWord = 0;
            return WriteResult::Written;
        }
        if (wrote) {
            segment.partial->set();
            continue;
        }
        if (gone()) {
            why = WriteResult::Gone;
            break;
        }
        const int left = m_options.stallLimitMs - msSince(lastProgress);
        if (left <= 0)
            break;
        segment.partialReceived->wait(left);
    }
    if (why == WriteResult::Stalled)
        m_peerStalled.store(true);
    m_givenUp = {true, readerSawRecord, countBefore};
    bool retracted = false;
    {
        const LockResult lock = segment.lock->lock(0);
        SegmentUnlock unlock(*segment.lock, lock);
        if (locked(lock))
            retracted = settleGivenUpChunks(segment.base);
        // Otherwise the next write settles it, first thing under the lock.
    }
    segment.partial->set();
    if (retracted) {
        m_cachedCount = countBefore;
        m_cachedEnd = recordOffset;
    }
    return why;
}

void MessageChannel::flushQueue(bool wait, Failures& failures) {
    for (;;) {
        PendingMessage message;
        {
            std::lock_guard<std::mutex> guard(m_queueMutex);
            if (m_queue.empty())
                return;
            message = std::move(m_queue.front());
            m_queue.pop_front();
            m_queuedBytes -= static_cast<std::size_t>(message.size);
        }
        const std::uint64_t generation = m_peerGeneration.load();
        const Payload payload{message.data.get()};
        const WriteResult result =
            wait ? writeWaiting(message.type, payload, message.size, generation)
                 : tryWrite(message.type, payload, message.size, generation, false, 0);
        if (result != WriteResult::Written)
            notDelivered(failures, message.type, message.size, result);
        std::lock_guard<std::mutex> guard(m_queueMutex);
        if (m_pending.fetch_sub(1) == 1)
            m_queueIdle.notify_all();
    }
}

void MessageChannel::sendMessage(const char* type, const void* data, long size) {
    if (size < 0 || (size > 0 && !data) || !m_usable.load())
        return;
    sendWaiting(typeField(type), Payload{static_cast<const char*>(data)},
                static_cast<std::uint64_t>(size));
}

void MessageChannel::sendMessageInPlace(const char* type, std::uint64_t size,
                                        const PayloadFill& fill) {
    if (size <= LONG_MAX && m_usable.load())
        sendWaiting(typeField(type), Payload{nullptr, &fill}, size);
}

std::uint64_t MessageChannel::largestWholePayload() const {
    return m_options.segmentBytes - 8 - kRecordHeaderBytes;
}

void MessageChannel::sendWaiting(const TypeField& type, const Payload& payload,
                                 std::uint64_t size) {
    Failures failures;
    {
        std::lock_guard<std::mutex> guard(m_writeMutex);
        if (m_pending.load() != 0)
            flushQueue(true, failures);  // queued before this message: they go first
        const WriteResult result = writeWaiting(type, payload, size, m_peerGeneration.load());
        if (result != WriteResult::Written)
            notDelivered(failures, type, size, result);
    }
    report(failures);
}

void MessageChannel::sendMessageAsync(const char* type, const char* data, std::uint64_t size) {
    if ((size > 0 && !data) || size > LONG_MAX || !m_usable.load())
        return;
    const TypeField field = typeField(type);
    Failures failures;
    {
        // Written at once when no writer is busy, nothing is queued and the message fits whole;
        // the write mutex stays held while a message that did not fit is queued, so that nothing
        // overtakes it.
        std::unique_lock<std::mutex> writer(m_writeMutex, std::try_to_lock);
        if (writer && m_pending.load() == 0) {
            const WriteResult result =
                tryWrite(field, Payload{data}, size, m_peerGeneration.load(), false, 0);
            if (result == WriteResult::Written)
                return;
            if (result == WriteResult::Gone)
                notDelivered(failures, field, size, result);
            else
                enqueue(field, data, size, failures);
        } else {
            if (writer)
                writer.unlock();
            enqueue(field, data, size, failures);
        }
    }
    report(failures);
}

void MessageChannel::enqueue(const TypeField& type, const char* data, std::uint64_t size,
                             Failures& failures) {
    std::unique_lock<std::mutex> lock(m_queueMutex);
    if (m_senderStop) {
        failures.push_back({type, size, XelInterProcessMessagesObserver::kPeerGone});
        return;
    }
    if (!m_queue.empty() && m_queuedBytes + size > m_options.maxQueuedBytes) {
        failures.push_back({type, size, XelInterProcessMessagesObserver::kBacklogFull});
        return;
    }
    PendingMessage message{type, std::unique_ptr<char[]>(new (std::nothrow) char[size ? size : 1]),
                           size};
    if (!message.data) {
        failures.push_back({type, size, XelInterProcessMessagesObserver::kNoMemory});
        return;
    }
    if (size)
        std::memcpy(message.data.get(), data, static_cast<std::size_t>(size));
    if (!m_senderThread.joinable())
        m_senderThread = std::thread(&MessageChannel::senderLoop, this);
    m_queue.push_back(std::move(message));
    m_queuedBytes += static_cast<std::size_t>(size);
    m_pending.fetch_add(1);
    lock.unlock();
    m_queueChanged.notify_one();
}

void MessageChannel::senderLoop() {
    for (;;) {
        bool stop = false;
        {
            std::unique_lock<std::mutex> lock(m_queueMutex);
            m_queueChanged.wait(lock, [this] { return m_senderStop || !m_queue.empty(); });
            stop = m_senderStop;
        }
        Failures failures;
        {
            std::lock_guard<std::mutex> guard(m_writeMutex);
            // Once the channel closes, what does not fit at once is dropped.
            flushQueue(!stop, failures);
        }
        report(failures);
        if (stop)
            return;
    }
}

void MessageChannel::abandonPeer(bool ended) {
    Failures failures;
    // The queue goes first: a writer woken below must find nothing more to send to the old peer.
    {
        std::lock_guard<std::mutex> guard(m_queueMutex);
        for (const PendingMessage& message : m_queue)
            failures.push_back(
                {message.type, message.size, XelInterProcessMessagesObserver::kPeerGone});
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
    if (ended) {
        // No reader is left to be in the middle of the records: they can go.
        std::lock_guard<std::mutex> guard(m_writeMutex);
        m_peerStalled.store(false);
        if (m_own->usable()) {
            // A stalled peer may hold the lock: then the next write clears the records.
            m_clearPending = true;
            const LockResult lock = m_own->lock->lock(0);
            SegmentUnlock unlock(*m_own->lock, lock);
            if (locked(lock))
                settlePending(m_own->base);
        }
    }
    report(failures);
}

void MessageChannel::releaseNames() {
    if (!m_isCreator)
        return;
    for (Segment* segment : {m_sender.get(), m_receiver.get()}) {
        if (segment->memory)
            platform::removeSegmentName(segment->key);
    }
    removeSyncObjectNames(m_names);
}

void MessageChannel::waitForAsyncIdle() {
    std::unique_lock<std::mutex> lock(m_queueMutex);
    m_queueIdle.wait(lock, [this] { return m_pending.load() == 0; });
}

void MessageChannel::removeLeftovers(qint32 queueId) {
    const ChannelNames names = ChannelNames::forQueue(queueId);
    for (const std::string& name : {names.senderSegment, names.receiverSegment})
        platform::removeSegmentName(QString::fromStdString(name));
    removeSyncObjectNames(names);
}

}  // namespace xel
