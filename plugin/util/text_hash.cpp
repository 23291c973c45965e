#include "plugin/util/text_hash.h"

namespace orvanta {

std::uint32_t textHash(std::string_view text) {
    if (text.empty())
        return 0;
    std::uint32_t hash = 5381;
    for (char c : text)
        hash = hash * 33 +
               static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c)));
    return hash;
}

}  // namespace orvanta
