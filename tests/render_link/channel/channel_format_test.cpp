// The segment layout both processes share, pinned to hand-written values: a change to any of them
// breaks every peer built before it.
#include "render_link/channel/channel_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct LayoutValue {
    const char* what;
    std::uint64_t value;
    std::uint64_t wire;
};

void PrintTo(const LayoutValue& v, std::ostream* out) {
    *out << v.what;
}

class Layout : public ::testing::TestWithParam<LayoutValue> {};

TEST_P(Layout, MatchesTheWire) {
    EXPECT_EQ(GetParam().value, GetParam().wire);
}

INSTANTIATE_TEST_SUITE_P(
    Constants, Layout,
    ::testing::Values(LayoutValue{"SegmentBytes", xel::kSegmentBytes, 640ull << 20},
                      LayoutValue{"WordBytes", xel::kWordBytes, 8},
                      LayoutValue{"RecordsOffset", xel::kRecordsOffset, 8},
                      LayoutValue{"TypeBytes", xel::kTypeBytes, 12},
                      LayoutValue{"RecordHeaderBytes", xel::kRecordHeaderBytes, 20},
                      LayoutValue{"MinFreeBytes", xel::kMinFreeBytes, 37},
                      LayoutValue{"ChunkWaiting", xel::kChunkWaiting, 1},
                      LayoutValue{"ChunkAbandoned", xel::kChunkAbandoned, 0xFFFFFFFFFFFFFFFFull},
                      LayoutValue{"DeliveryAlignment", xel::kDeliveryAlignment, 16}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
