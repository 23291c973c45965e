// What the operating system knows about a shared-memory segment that QSharedMemory manages.
#pragma once

#include <cstdint>
#include <optional>

class QSharedMemory;
class QString;

namespace xel::platform {

struct SegmentOwnership {
    std::int64_t creatorPid = 0;
    std::int64_t attachCount = 0;
};

// Ownership of the segment behind `segment`'s key, or nullopt if no such segment exists or the
// system keeps no such record (segments that vanish with their last handle). Thread-safe.
std::optional<SegmentOwnership> segmentOwnership(const QSharedMemory& segment);

// Removes the segment behind `segment`'s key from the name space: processes that have it attached
// keep their mapping, and a later create() with the key makes a new segment. Returns false if
// there was nothing to remove.
bool removeSegment(const QSharedMemory& segment);

// Removes every trace a segment made under `key` may leave in the system's name space: the segment
// (processes that have it attached keep their mapping), the file its native key names and Qt's
// lock semaphore of the key. Nothing that is not there is created for good. For the creator of a
// segment giving its name up, and for the sweep of a dead session's leftovers; never while another
// session is meant to create or attach under the key. Thread-safe.
void removeSegmentName(const QString& key);

}  // namespace xel::platform
