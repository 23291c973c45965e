// The reader side of the channel: the reader thread, which drains the peer's segment in passes and
// takes chunked messages, and the delivery buffers, which holdDelivery() keeps alive past a
// message. Everything here runs on the reader thread; only a hold's last copy may be released on
// any thread.
#include <QtDebug>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <new>

#include "XelInterProcessMessagesManager.h"
#include "platform/cpu_relax.h"
#include "render_link/channel/channel_segment.h"
#include "render_link/channel/message_channel.h"

namespace xel {

using namespace channel_detail;

namespace {

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

}  // namespace

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

bool MessageChannel::deliverPeerLeftovers(int timeoutMs, const std::function<bool()>& giveUp) {
    if (!m_running.load() || m_closing.load() || !m_peer || !m_peer->base || !m_peer->data)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(m_passMutex);
    ++m_passWaiters;
    // The peer has ended, so a pass begun from now on sees every record it wrote; one that leaves
    // none behind has delivered them all.
    const std::uint64_t before = m_passesBegun.load();
    m_peer->data->set();
    bool delivered = false;
    for (;;) {
        if (m_passesEnded.load() > before && m_passLeftNothing.load()) {
            delivered = true;
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline || m_closing.load() || (giveUp && giveUp()))
            break;
        constexpr auto kSlice = std::chrono::milliseconds(5);
        m_passEnded.wait_until(lock, std::min(deadline, now + kSlice));
    }
    --m_passWaiters;
    return delivered;
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
    // Ends the pass on every way out, and wakes a thread in deliverPeerLeftovers().
    struct PassEnd {
        MessageChannel& channel;
        std::uint64_t pass;
        ~PassEnd() {
            channel.m_passLeftNothing.store(load64(channel.m_peer->base) == 0);
            channel.m_passesEnded.store(pass);
            if (channel.m_passWaiters.load() == 0)
                return;
            { std::lock_guard<std::mutex> guard(channel.m_passMutex); }
            channel.m_passEnded.notify_all();
        }
    } passEnd{*this, m_passesBegun.fetch_add(1) + 1};
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
        std::memcmp(base + at + kWordBytes, partial.type, kTypeBytes) != 0)
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
        std::memcpy(delivery.type, base + offset + kWordBytes, kTypeBytes);
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
    const std::uint64_t chunkBytes = m_options.segmentBytes - kRecordsOffset;
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
                    std::memcpy(m_partial.bytes.get() + phase + have, segment.base + kRecordsOffset,
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

}  // namespace xel
