// The request trampolines that the render link sender calls: on the reader thread they post, and
// the host callbacks see the requests only when the host thread polls; on the host thread they
// run at once.
#include "plugin/requests/request_trampolines.h"

#include <gtest/gtest.h>

#include <QThread>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "plugin/lifecycle/plugin_state.h"
#include "plugin/requests/host_request_queue.h"
#include "tests/plugin/requests/recording_host.h"

namespace {

using namespace orvanta::test;

class RequestTrampolines : public ::testing::Test {
protected:
    void SetUp() override {
        clearHostCalls();
        orvanta::PluginState& state = orvanta::pluginState();
        state.hostThreadId = QThread::currentThreadId();
        state.host = {&hostSet, &hostContent, &hostAttributes, &hostTexture, &hostDestroy};
    }

    static std::vector<std::string> texts() {
        std::vector<std::string> result;
        for (const HostCall& call : hostCalls())
            result.push_back(call.text);
        return result;
    }

    static void callAllFive() {
        orvanta::requestSetEntityAttribute("ExecuteAction", "SuspendScene", "", nullptr);
        orvanta::requestEnumEntityContent("1234");
        orvanta::requestEnumEntityAttributes("Camera", "Render");
        orvanta::requestExportTexture("Wood", "/tmp/wood.png");
        orvanta::requestDestroyPointer(reinterpret_cast<void*>(std::intptr_t{-2}));
    }
    const std::vector<std::string> m_allFive = {
        "set ExecuteAction/SuspendScene/=", "content 1234", "attributes Camera/Render",
        "texture Wood /tmp/wood.png",       "destroy -2",
    };
};

TEST_F(RequestTrampolines, OffTheHostThreadTheyPostAndThePollRunsThemOnTheHostThread) {
    std::thread reader(&RequestTrampolines::callAllFive);
    reader.join();
    EXPECT_TRUE(hostCalls().empty());
    EXPECT_EQ(orvanta::pendingMessagesCount(), 5);

    orvanta::checkMessages();
    EXPECT_EQ(texts(), m_allFive);
    for (const HostCall& call : hostCalls())
        EXPECT_EQ(call.thread, QThread::currentThreadId()) << call.text;
    EXPECT_EQ(orvanta::pendingMessagesCount(), 0);
}

TEST_F(RequestTrampolines, OnTheHostThreadTheyRunAtOnce) {
    callAllFive();
    EXPECT_EQ(texts(), m_allFive);
    EXPECT_EQ(orvanta::pendingMessagesCount(), 0);
}

}  // namespace
