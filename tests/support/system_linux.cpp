#include "tests/support/system.h"

namespace xel::test {

bool runningUnderWine() {
    return false;
}

}  // namespace xel::test
