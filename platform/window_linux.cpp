#include "platform/window.h"

namespace xel::platform {

void activateWindow(std::int64_t) {}

std::uint64_t windowOwnerProcess(std::intptr_t) {
    return 0;
}

}  // namespace xel::platform
