#include "tests/support/peer_stop.h"

#include <sys/types.h>
#include <sys/wait.h>

namespace xel::test {

// A stop signal takes effect asynchronously: wait for the stop without collecting it.
void waitUntilChildStopped(std::int64_t pid) {
    siginfo_t info{};
    ::waitid(P_PID, static_cast<id_t>(pid), &info, WSTOPPED | WNOWAIT);
}

}  // namespace xel::test
