#include "platform/interprocess_mutex.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "tests/support/channel_test_support.h"
#include "tests/support/peer_process.h"

using xel::platform::InterProcessMutex;

namespace {

struct MutexCleanup {
    std::string name = "mtx" + std::to_string(xel::test::uniqueQueueId());
    ~MutexCleanup() { InterProcessMutex::remove(name); }
};

// A second process that holds the mutex `name` until it is told to release it, or killed.
std::unique_ptr<xel::test::PeerProcess> startHolder(const std::string& name) {
    auto peer =
        std::make_unique<xel::test::PeerProcess>(QStringList{"lock", QString::fromStdString(name)});
    EXPECT_TRUE(peer->started());
    EXPECT_EQ(peer->readLine(), "locked");
    return peer;
}

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
    startHolder(cleanup.name)->kill();
    EXPECT_EQ(mutex->lock(), InterProcessMutex::LockResult::LockedOwnerDied);
    mutex->unlock();
    EXPECT_EQ(mutex->lock(), InterProcessMutex::LockResult::Locked);
    mutex->unlock();
}

TEST(InterProcessMutex, ALockHeldByAnotherProcessTimesOutAndIsTakenOnceFree) {
    MutexCleanup cleanup;
    auto mutex = InterProcessMutex::open(cleanup.name, InterProcessMutex::OpenMode::CreateFresh);
    ASSERT_TRUE(mutex);
    auto holder = startHolder(cleanup.name);
    EXPECT_EQ(mutex->lock(0), InterProcessMutex::LockResult::TimedOut);
    EXPECT_EQ(mutex->lock(150), InterProcessMutex::LockResult::TimedOut);
    holder->writeLine("release");  // the holder unlocks and ends
    EXPECT_EQ(holder->waitForExit(), 0);
    EXPECT_EQ(mutex->lock(60000), InterProcessMutex::LockResult::Locked);
    mutex->unlock();
}

}  // namespace
