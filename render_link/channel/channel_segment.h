// Internal to the channel engine's sources (setup, reader, writer, queue): a segment as one side
// sees it, the words of the layout in channel_format.h, and the segment lock. Callers of
// MessageChannel never include it.
#pragma once

#include <QSharedMemory>
#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/interprocess_mutex.h"
#include "platform/named_event.h"
#include "render_link/channel/channel_format.h"
#include "render_link/channel/message_channel.h"

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "segment words are stored in host order");

namespace xel {

// One of the channel's two segments, with its lock and events. Filled in by set-up before the
// reader starts; `base` is cleared and the memory detached by close() under the write mutex.
struct MessageChannel::Segment {
    QString key;
    std::unique_ptr<QSharedMemory> memory;
    std::unique_ptr<platform::InterProcessMutex> lock;
    unsigned char* base = nullptr;  // null unless attached and locked by a usable mutex
    bool created = false;
    // Events of this segment, owned by MessageChannel::m_events.
    platform::NamedEvent* data = nullptr;             // a record was appended
    platform::NamedEvent* received = nullptr;         // the reader drained the segment
    platform::NamedEvent* partial = nullptr;          // a chunk is waiting
    platform::NamedEvent* partialReceived = nullptr;  // the reader took the first part or a chunk

    bool usable() const { return base && lock && data && received && partial && partialReceived; }
};

namespace channel_detail {

using platform::InterProcessMutex;
using platform::NamedEvent;
using LockResult = InterProcessMutex::LockResult;
using Clock = std::chrono::steady_clock;

// The word of the layout at `at`.
inline std::uint64_t load64(const unsigned char* at) {
    std::uint64_t value;
    std::memcpy(&value, at, kWordBytes);
    return value;
}

inline void store64(unsigned char* at, std::uint64_t value) {
    std::memcpy(at, &value, kWordBytes);
}

// Whether a lock attempt ended holding the lock (also one whose last owner died holding it).
inline bool locked(LockResult result) {
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

inline int msSince(Clock::time_point start) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// The type field of a record for the name `type`: its first kTypeBytes characters, zero-padded;
// null gives an empty field.
inline std::array<char, kTypeBytes> typeField(const char* type) {
    std::array<char, kTypeBytes> field{};
    if (type)
        std::memcpy(field.data(), type, ::strnlen(type, kTypeBytes));
    return field;
}

}  // namespace channel_detail

template <class GiveUp>
platform::InterProcessMutex::LockResult MessageChannel::lockSegment(Segment& segment, int timeoutMs,
                                                                    GiveUp giveUp) {
    using channel_detail::kLockSliceMs;
    using channel_detail::LockResult;
    using channel_detail::msSince;
    const LockResult first = segment.lock->lock(0);
    if (first != LockResult::TimedOut || timeoutMs == 0 || giveUp())
        return first;
    const auto start = channel_detail::Clock::now();
    for (;;) {
        const int slice =
            timeoutMs < 0 ? kLockSliceMs : std::clamp(timeoutMs - msSince(start), 0, kLockSliceMs);
        const LockResult result = segment.lock->lock(slice);
        if (result != LockResult::TimedOut || giveUp() ||
            (timeoutMs >= 0 && msSince(start) >= timeoutMs))
            return result;
    }
}

}  // namespace xel
