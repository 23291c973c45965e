#include "platform/process.h"
#include "platform/known_folders.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/process_watch.h"
#include "tests/support/system.h"

using xel::platform::startChildProcess;
using xel::platform::waitForChildExit;

namespace {

std::string testPeer() {
    return qEnvironmentVariable("XEL_TEST_PEER").toStdString();
}

struct ExitCase {
    const char* what;
    std::vector<std::string> arguments;
    int exitCode;
};

void PrintTo(const ExitCase& c, std::ostream* out) {
    *out << c.what;
}

class ChildExit : public ::testing::TestWithParam<ExitCase> {};

// The peer program's own exit codes: 2 for arguments it does not know, 1 for a lock that does not
// exist. Each comes back only if the arguments reached the child one by one, in order.
// Children that die with their starter's thread are started on Linux only, for its benchmarks.
constexpr const char* kNoChildStart = "Windows offers no child start of this kind";

TEST_P(ChildExit, ReportsTheCodeTheChildExitedWith) {
    if (xel::test::kWindows)
        GTEST_SKIP() << kNoChildStart;
    ASSERT_FALSE(testPeer().empty());
    const std::int64_t pid = startChildProcess(testPeer(), GetParam().arguments);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(waitForChildExit(pid), GetParam().exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ChildExit,
    ::testing::Values(ExitCase{"None", {}, 2}, ExitCase{"AnUnknownMode", {"no-such-mode"}, 2},
                      ExitCase{"ALockWithoutItsName", {"lock"}, 2},
                      ExitCase{
                          "ALockThatDoesNotExist",
                          {"lock", "absent" + std::to_string(xel::platform::currentProcessId())},
                          1},
                      ExitCase{"OneArgumentTooMany", {"wait-event", "name", "extra"}, 2}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(ChildProcess, AChildEndedByASignalHasNoExitCode) {
    if (xel::test::kWindows)
        GTEST_SKIP() << kNoChildStart;
    const std::string event = "cp" + std::to_string(xel::platform::currentProcessId());
    const std::int64_t pid = startChildProcess(testPeer(), {"wait-event", event});
    ASSERT_GT(pid, 0);
    xel::platform::ProcessWatch(pid).terminate();
    // It would exit with 0 once its wait timed out.
    EXPECT_EQ(waitForChildExit(pid), -1);
}

TEST(ChildProcess, NothingToWaitForWithoutAChild) {
    EXPECT_EQ(waitForChildExit(0), -1);
    EXPECT_EQ(waitForChildExit(xel::platform::currentProcessId()), -1);
}

TEST(ChildProcess, ThisProgramIsNamedByItsPath) {
    const QFileInfo self(QString::fromStdString(xel::platform::currentExecutablePath()));
    EXPECT_TRUE(self.isAbsolute());
    EXPECT_EQ(self.fileName(), QStringLiteral("platform_tests") +
                                   QString::fromLatin1(xel::platform::executableSuffix()));
}

}  // namespace

namespace {

// Starts the test peer detached as `program` (the peer's path when empty), reporting `words` into
// "out.txt" in `directory`; waits for its end and returns what it wrote, which is removed then.
std::string runDetached(const std::vector<std::string>& words, const std::string& directory,
                        const std::vector<std::string>& environment,
                        std::string program = std::string()) {
    if (program.empty())
        program = testPeer();
    std::vector<std::string> arguments{"report", "out.txt"};
    arguments.insert(arguments.end(), words.begin(), words.end());
    const std::int64_t pid =
        xel::platform::startDetachedProcess(program, arguments, directory, environment);
    if (pid <= 0)
        return "(not started)";
    xel::platform::ProcessWatch watch(pid);
    if (!watch.waitForEnd())
        return "(no end)";
    QFile file(QString::fromStdString(directory) + QStringLiteral("/out.txt"));
    const std::string text =
        file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toStdString() : "(no file)";
    file.remove();
    return text;
}

// A detached program runs where it is told, with the caller's environment and the entries given,
// which replace the caller's of the same name; arguments arrive one by one.
TEST(DetachedProcess, StartsWithItsArgumentsDirectoryAndEnvironment) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string directory = QDir(folder.path()).canonicalPath().toStdString();
    qputenv("XEL_DETACHED_KEPT", "kept");
    qputenv("XEL_DETACHED_REPLACED", "old");
    const std::string result = runDetached(
        {"$XEL_DETACHED_KEPT", "$XEL_DETACHED_REPLACED", "$XEL_DETACHED_ADDED", "one word", "."},
        directory, {"XEL_DETACHED_REPLACED=new", "XEL_DETACHED_ADDED=a b"});
    qunsetenv("XEL_DETACHED_KEPT");
    qunsetenv("XEL_DETACHED_REPLACED");
    EXPECT_EQ(result, "kept\nnew\na b\none word\n" + directory);
}

// A program named without a folder is found in the search path, one named by a relative path in the
// caller's working directory, although the program itself starts in another.
TEST(DetachedProcess, AProgramIsFoundAsTheCallerSeesIt) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string directory = QDir(folder.path()).canonicalPath().toStdString();
    const QFileInfo peer(QString::fromStdString(testPeer()));
    const std::string name = peer.fileName().toStdString();
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(QDir::toNativeSeparators(peer.absolutePath())) +
                        (xel::test::kWindows ? ';' : ':') + path);
    const std::string found = runDetached({"found"}, directory, {}, name);
    qputenv("PATH", path);
    EXPECT_EQ(found, "found");
    const QString caller = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(peer.absolutePath()));
    const std::string relative = runDetached({"found"}, directory, {}, "./" + name);
    QDir::setCurrent(caller);
    EXPECT_EQ(relative, "found");
}

TEST(DetachedProcess, AProgramThatCannotStartIsReported) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    EXPECT_EQ(xel::platform::startDetachedProcess(
                  folder.filePath(QStringLiteral("missing")).toStdString(), {}, "", {}),
              -1);
    EXPECT_EQ(xel::platform::startDetachedProcess(
                  testPeer(), {"report", "out.txt"},
                  folder.filePath(QStringLiteral("no-such-dir")).toStdString(), {}),
              -1);
}

// The start allocates nothing between the process copy and the program's start: threads that
// allocate all the while (one may hold the allocator at the copy) never hang the new process.
TEST(DetachedProcess, StartsWhileOtherThreadsAllocate) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> allocators;
    for (int t = 0; t < 2; ++t) {
        allocators.emplace_back([&stop] {
            while (!stop.load()) {
                std::vector<std::unique_ptr<char[]>> blocks;
                for (int i = 0; i < 64; ++i)
                    blocks.push_back(
                        std::make_unique<char[]>(static_cast<std::size_t>(16 << i % 12)));
            }
        });
    }
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    int ended = 0;
    for (int i = 0; i < 40; ++i) {
        const std::int64_t pid = xel::platform::startDetachedProcess(
            testPeer(), {"report", "out.txt"}, folder.path().toStdString(), {"XEL_DETACHED_RUN=1"});
        if (pid <= 0)
            break;
        xel::platform::ProcessWatch watch(pid);
        if (watch.waitForEnd())
            ++ended;
    }
    stop.store(true);
    for (std::thread& thread : allocators)
        thread.join();
    EXPECT_EQ(ended, 40);
}

}  // namespace
