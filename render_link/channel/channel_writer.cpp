// The writer side of the channel: appending records to this side's segment, waiting for room,
// handing a message larger than the segment over in chunks, and repairing the segment after a
// give-up. Every member here that touches the segment runs under m_writeMutex.
#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

#include "XelInterProcessMessagesManager.h"
#include "render_link/channel/channel_segment.h"
#include "render_link/channel/message_channel.h"

namespace xel {

using namespace channel_detail;

namespace {

// How long a writer waits for the segment lock once the peer counts as stalled: a peer that runs
// again holds the lock only for one pass, while one that stopped in a pass holds it for good.
constexpr int kStalledLockGraceMs = 250;

}  // namespace

int MessageChannel::lockTimeoutMs() const {
    return m_peerStalled.load() ? std::min(kStalledLockGraceMs, m_options.stallLimitMs)
                                : m_options.stallLimitMs;
}

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
    std::uint64_t end = kRecordsOffset;
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
                    const std::uint64_t length =
                        segmentBytes - end < kWordBytes ? 0 : load64(base + end);
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
        std::memcpy(base + end + kWordBytes, type.data(), kTypeBytes);
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
    const std::uint64_t chunkBytes = m_options.segmentBytes - kRecordsOffset;
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
                    writePiece(payload, segment.base + kRecordsOffset, sent, n);
                    store64(segment.base, kChunkWaiting);
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
    return m_options.segmentBytes - kRecordsOffset - kRecordHeaderBytes;
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

}  // namespace xel
