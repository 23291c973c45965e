// The queue ids whose named channel objects exist now, for the sweep after a test run.
#pragma once

#include <QtGlobal>

#include <set>

namespace xel::test {

// The queue ids that name a channel's events or segment lock in the system now. Empty where the
// system takes named objects away with their last handle, so that none outlives its processes.
std::set<qint32> queueIdsWithNamedObjects();

}  // namespace xel::test
