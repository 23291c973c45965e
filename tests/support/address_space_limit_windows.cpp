#include "tests/support/address_space_limit.h"

namespace xel::test {

bool AddressSpaceLimit::available() {
    return false;
}

AddressSpaceLimit::AddressSpaceLimit(std::size_t) {}

AddressSpaceLimit::~AddressSpaceLimit() = default;

}  // namespace xel::test
