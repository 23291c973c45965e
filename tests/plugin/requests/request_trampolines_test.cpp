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

namespace {

struct Call {
    std::string text;
    Qt::HANDLE thread;
};

// Written by the host callbacks, which run on the test thread only when the code is right; the
// thread of every call is checked afterwards.
std::vector<Call> g_calls;

void record(std::string text) {
    g_calls.push_back({std::move(text), QThread::currentThreadId()});
}
void hostSet(const char* owner, const char* dictionary, const char* key, const char* value) {
    record(std::string("set ") + owner + "/" + dictionary + "/" + key + "=" + value);
}
void hostContent(const char* entityId) {
    record(std::string("content ") + entityId);
}
void hostAttributes(const char* owner, const char* dictionary) {
    record(std::string("attributes ") + owner + "/" + dictionary);
}
void hostTexture(const char* first, const char* second) {
    record(std::string("texture ") + first + " " + second);
}
void hostDestroy(int64_t pointer) {
    record("destroy " + std::to_string(pointer));
}

class RequestTrampolines : public ::testing::Test {
protected:
    void SetUp() override {
        g_calls.clear();
        orvanta::PluginState& state = orvanta::pluginState();
        state.hostThreadId = QThread::currentThreadId();
        state.host = {&hostSet, &hostContent, &hostAttributes, &hostTexture, &hostDestroy};
    }

    static std::vector<std::string> texts() {
        std::vector<std::string> result;
        for (const Call& call : g_calls)
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
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(orvanta::pendingMessagesCount(), 5);

    orvanta::checkMessages();
    EXPECT_EQ(texts(), m_allFive);
    for (const Call& call : g_calls)
        EXPECT_EQ(call.thread, QThread::currentThreadId()) << call.text;
    EXPECT_EQ(orvanta::pendingMessagesCount(), 0);
}

TEST_F(RequestTrampolines, OnTheHostThreadTheyRunAtOnce) {
    callAllFive();
    EXPECT_EQ(texts(), m_allFive);
    EXPECT_EQ(orvanta::pendingMessagesCount(), 0);
}

}  // namespace
