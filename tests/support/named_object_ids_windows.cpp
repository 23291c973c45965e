#include "tests/support/named_object_ids.h"

namespace xel::test {

// Windows removes a named event, mutex or mapping with its last handle.
std::set<qint32> queueIdsWithNamedObjects() {
    return {};
}

}  // namespace xel::test
