#include "tests/support/named_object_ids.h"

#include <cstdlib>
#include <string>

#include "platform/posix_shm_name.h"

namespace xel::test {

std::set<qint32> queueIdsWithNamedObjects() {
    std::set<qint32> ids;
    for (const char* kind : {"event", "mutex"}) {
        for (const std::string& name : platform::listPosixShmNames(kind)) {
            const qint64 id = std::atoll(name.c_str());
            if (id > 0 && id <= 0x7fffffff)
                ids.insert(static_cast<qint32>(id));
        }
    }
    return ids;
}

}  // namespace xel::test
