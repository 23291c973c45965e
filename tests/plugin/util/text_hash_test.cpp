#include "plugin/util/text_hash.h"

#include <gtest/gtest.h>

namespace {

TEST(TextHash, KnownValues) {
    EXPECT_EQ(orvanta::textHash(""), 0u);  // not 5381
    EXPECT_EQ(orvanta::textHash("abc"), 193485963u);
    EXPECT_EQ(orvanta::textHash("a"), 5381u * 33 + 97);
}

TEST(TextHash, HighBytesCountAsNegative) {
    // 0xE9 adds -23 at its step.
    EXPECT_EQ(orvanta::textHash("\xE9"), 5381u * 33 - 23);
}

}  // namespace
