// QSharedMemory keeps its segments in named file mappings on Windows. A mapping vanishes with its
// last handle and the system keeps no record of its creator or its attachments, so there is never
// an orphaned segment to detect or remove.
#include "platform/shared_segment.h"

namespace xel::platform {

std::optional<SegmentOwnership> segmentOwnership(const QSharedMemory&) {
    return std::nullopt;
}

bool removeSegment(const QSharedMemory&) {
    return false;
}

void removeSegmentName(const QString&) {
    // Nothing to do: a mapping's name, and that of Qt's lock semaphore, vanish with their last
    // handle.
}

}  // namespace xel::platform
