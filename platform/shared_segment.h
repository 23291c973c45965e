// What the operating system knows about a shared-memory segment that QSharedMemory manages.
#pragma once

#include <cstdint>
#include <optional>

class QSharedMemory;

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

}  // namespace xel::platform
