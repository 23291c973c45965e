#include "platform/shared_segment.h"

#include <gtest/gtest.h>

#include <QSharedMemory>
#include <QString>

#include <cstring>

#include "tests/support/channel_test_support.h"

using xel::platform::removeSegmentName;
using xel::platform::segmentOwnership;

namespace {

constexpr int kBytes = 4096;

QString uniqueKey(int slot) {
    return "seg" + QString::number(xel::test::uniqueQueueId(slot));
}

// Removes the key's segment when a test ends, however it ends.
struct SegmentCleanup {
    QString key;
    ~SegmentCleanup() { removeSegmentName(key); }
};

TEST(SharedSegment, RemovingTheNameFreesItWhileTheHolderKeepsItsMapping) {
    SegmentCleanup cleanup{uniqueKey(0)};
    QSharedMemory holder(cleanup.key);
    ASSERT_TRUE(holder.create(kBytes));
    if (!segmentOwnership(holder))
        GTEST_SKIP() << "this system frees a segment's name with its last handle";
    std::memcpy(holder.data(), "kept", 5);

    removeSegmentName(cleanup.key);

    QSharedMemory probe(cleanup.key);
    EXPECT_FALSE(segmentOwnership(probe));
    QSharedMemory successor(cleanup.key);
    ASSERT_TRUE(successor.create(kBytes)) << successor.errorString().toStdString();
    std::memset(successor.data(), 'x', kBytes);
    EXPECT_STREQ(static_cast<const char*>(holder.data()), "kept");
}

TEST(SharedSegment, RemovingANameWithNothingBehindItLeavesItFree) {
    SegmentCleanup cleanup{uniqueKey(1)};
    removeSegmentName(cleanup.key);
    removeSegmentName(cleanup.key);
    QSharedMemory probe(cleanup.key);
    EXPECT_FALSE(segmentOwnership(probe));
    QSharedMemory segment(cleanup.key);
    EXPECT_TRUE(segment.create(kBytes)) << segment.errorString().toStdString();
}

}  // namespace
