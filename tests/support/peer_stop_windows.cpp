#include "tests/support/peer_stop.h"

namespace xel::test {

// Attaching as a debugger has stopped the process by the time the attach returns.
void waitUntilChildStopped(std::int64_t) {}

}  // namespace xel::test
