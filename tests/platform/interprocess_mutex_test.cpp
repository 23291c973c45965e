#include "platform/interprocess_mutex.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/channel_test_support.h"
#include "tests/support/peer_process.h"

using xel::platform::InterProcessMutex;

namespace {

struct MutexCleanup {
    std::string name = "mtx" + std::to_string(xel::test::uniqueQueueId());
    ~MutexCleanup() { InterProcessMutex::remove(name); }
};

TEST(InterProcessMutex, OpenExistingNeedsACreator) {
    MutexCleanup cleanup;
    EXPECT_FALSE(InterProcessMutex::open(cleanup.name, InterProcessMutex::OpenMode::OpenExisting));
    auto created = InterProcessMutex::open(cleanup.name, InterProcessMutex::OpenMode::CreateFresh);
    ASSERT_TRUE(created);
    EXPECT_TRUE(InterProcessMutex::open(cleanup.name, InterProcessMutex::OpenMode::OpenExisting));
}

TEST(InterProcessMutex, ExcludesASecondThreadOfTheSameProcess) {
    MutexCleanup cleanup;
    auto mutex = InterProcessMutex::open(cleanup.name, InterProcessMutex::OpenMode::CreateFresh);
    ASSERT_TRUE(mutex);
    ASSERT_EQ(mutex->lock(), InterProcessMutex::LockResult::Locked);
    int guarded = 0;
    std::thread other([&] {
        mutex->lock();
        guarded += 1;
        mutex->unlock();
    });
    guarded = 41;  // the other thread cannot be inside yet
    mutex->unlock();
    other.join();
    EXPECT_EQ(guarded, 42);
}

TEST(InterProcessMutex, AnOwnerKilledWhileHoldingItIsReported) {
    MutexCleanup cleanup;
    auto mutex = InterProcessMutex::open(cleanup.name, InterProcessMutex::OpenMode::CreateFresh);
    ASSERT_TRUE(mutex);
    xel::test::PeerProcess peer({"lock", QString::fromStdString(cleanup.name)});
    ASSERT_TRUE(peer.started());
    ASSERT_EQ(peer.readLine(), "locked");
    peer.kill();
    EXPECT_EQ(mutex->lock(), InterProcessMutex::LockResult::LockedOwnerDied);
    mutex->unlock();
    EXPECT_EQ(mutex->lock(), InterProcessMutex::LockResult::Locked);
    mutex->unlock();
}

}  // namespace
