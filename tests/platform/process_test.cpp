#include "platform/process.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QString>
#include <QtGlobal>

#include <string>
#include <vector>

#include "platform/process_watch.h"

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
TEST_P(ChildExit, ReportsTheCodeTheChildExitedWith) {
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
    EXPECT_EQ(self.fileName(), QStringLiteral("platform_tests"));
}

}  // namespace
