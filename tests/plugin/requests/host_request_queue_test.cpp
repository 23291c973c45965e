// The host request queue through the request exports: the post rule, the order of running, the
// request modes, deferral of set-attribute requests, and posts from several threads while the host
// thread polls. The test thread plays the host thread; the host callbacks record what reaches
// them.
#include "plugin/requests/host_request_queue.h"
#include "plugin/session/scene_session.h"

#include <gtest/gtest.h>

#include <QString>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "OrvantaForSketchup.h"
#include "XelRemoteRenderSender.h"
#include "plugin/lifecycle/plugin_state.h"
#include "tests/plugin/requests/recording_host.h"

namespace {

using orvanta::HostRequest;
using orvanta::HostRequestQueue;

using namespace orvanta::test;

HostRequest request(std::initializer_list<const char*> texts) {
    HostRequest result;
    for (const char* text : texts)
        result.append(QString::fromUtf8(text));
    return result;
}

class HostRequestQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        { clearHostCalls(); }
        orvanta::PluginState& state = orvanta::pluginState();
        state.hostThreadId = QThread::currentThreadId();
        state.host = {&hostSet, &hostContent, &hostAttributes, &hostTexture, &hostDestroy};
    }
    void TearDown() override {
        orvanta::pluginState().host = {};
        obrCheckMessages();
    }
};

TEST_F(HostRequestQueueTest, APostedRequestReplacesAPendingOneForTheSameWork) {
    HostRequestQueue queue;
    queue.post(request({"obrSkpExportTexture", "a", "b"}));
    queue.post(request({"obrSkpExportTexture", "a", "b"}));
    EXPECT_EQ(queue.size(), 1);
    queue.post(request({"obrSkpExportTexture", "a", "c"}));
    EXPECT_EQ(queue.size(), 2);

    // Only the value of a set-attribute request, and everything but the kind of a pointer
    // release, is left out of the comparison.
    queue.post(request({"obrSkpSetEntityAttribute", "12", "Dict", "Key", "old"}));
    queue.post(request({"obrSkpSetEntityAttribute", "12", "Dict", "Key", "new"}));
    queue.post(request({"obrSkpDestroyPointer", "1"}));
    queue.post(request({"obrSkpDestroyPointer", "2"}));
    const QVector<HostRequest> expected = {
        request({"obrSkpDestroyPointer", "2"}),
        request({"obrSkpSetEntityAttribute", "12", "Dict", "Key", "new"}),
        request({"obrSkpExportTexture", "a", "c"}),
        request({"obrSkpExportTexture", "a", "b"}),
    };
    EXPECT_EQ(queue.pending(), expected);
}

TEST_F(HostRequestQueueTest, AReplacedRequestMovesToTheNewestPlace) {
    obrSkpEnumEntityContent("1", true, orvanta::AlwaysPost);
    obrSkpEnumEntityContent("2", true, orvanta::AlwaysPost);
    obrSkpEnumEntityContent("1", true, orvanta::AlwaysPost);
    EXPECT_EQ(obrPendingMessagesCount(), 2);
    obrCheckMessages();
    EXPECT_EQ(recordedTexts(), (std::vector<std::string>{"content 2", "content 1"}));
}

TEST_F(HostRequestQueueTest, RequestsOfDifferentLengthOrKindDoNotReplaceEachOther) {
    HostRequestQueue queue;
    queue.post(request({"obrSkpEnumEntityAttributes", "a", "b"}));
    queue.post(request({"obrSkpExportTexture", "a", "b"}));
    queue.post(request({"obrSkpEnumEntityContent", "a"}));
    // Same kind, but a set-attribute request with a differing key is other work.
    queue.post(request({"obrSkpSetEntityAttribute", "a", "b", "c", "v"}));
    queue.post(request({"obrSkpSetEntityAttribute", "a", "b", "d", "v"}));
    EXPECT_EQ(queue.size(), 5);
}

TEST_F(HostRequestQueueTest, ManyRequestsRunOldestFirst) {
    std::vector<std::string> expected;
    for (int i = 0; i < 300; ++i) {
        const std::string id = std::to_string(i);
        switch (i % 3) {
            case 0:
                obrSkpEnumEntityContent(id.c_str(), true, orvanta::AlwaysPost);
                expected.push_back("content " + id);
                break;
            case 1:
                obrSkpExportTexture(id.c_str(), "png", orvanta::AlwaysPost);
                expected.push_back("texture " + id + " png");
                break;
            default:
                obrSkpEnumEntityAttributes(id.c_str(), "", orvanta::AlwaysPost);
                expected.push_back("attributes " + id + "/");
                break;
        }
    }
    EXPECT_EQ(obrPendingMessagesCount(), 300);
    obrCheckMessages();
    EXPECT_EQ(recordedTexts(), expected);
    EXPECT_EQ(obrPendingMessagesCount(), 0);
}

TEST_F(HostRequestQueueTest, TheModeDecidesBetweenRunningAndPosting) {
    obrSkpEnumEntityContent("host-2", true, orvanta::PostOffHostThread);
    EXPECT_EQ(recordedTexts(), std::vector<std::string>{"content host-2"});
    obrSkpEnumEntityContent("host-1", true, orvanta::AlwaysPost);
    obrSkpEnumEntityContent("host-7", true, 7);  // like RunNow
    std::thread other([] {
        obrSkpEnumEntityContent("other-2", true, orvanta::PostOffHostThread);
        obrSkpDestroyPointer(-5, orvanta::PostOffHostThread);
    });
    other.join();
    EXPECT_EQ(recordedTexts(), (std::vector<std::string>{"content host-2", "content host-7"}));
    EXPECT_EQ(obrPendingMessagesCount(), 3);

    obrCheckMessages();
    EXPECT_EQ(recordedTexts(),
              (std::vector<std::string>{"content host-2", "content host-7", "content host-1",
                                        "content other-2", "destroy -5"}));
}

TEST_F(HostRequestQueueTest, NullTextsArePostedAsEmptyTexts) {
    obrSkpSetEntityAttribute("12", nullptr, "key", nullptr, orvanta::AlwaysPost);
    obrSkpExecuteCustomAction(nullptr, nullptr, nullptr);  // runs at once on the host thread
    obrCheckMessages();
    EXPECT_EQ(recordedTexts(), (std::vector<std::string>{"set ExecuteAction//=", "set 12//key="}));
}

TEST_F(HostRequestQueueTest, PointerTextsReadAsAPlainDecimalParse) {
    EXPECT_EQ(orvanta::parsePointerText(QStringLiteral("-12abc")), -12);
    EXPECT_EQ(orvanta::parsePointerText(QStringLiteral("+7")), 7);
    EXPECT_EQ(orvanta::parsePointerText(QStringLiteral("x1")), 0);
    EXPECT_EQ(orvanta::parsePointerText(QStringLiteral("-9223372036854775808")), INT64_MIN);
    orvanta::hostRequestQueue().post(request({"obrSkpDestroyPointer", "42 tail"}));
    obrCheckMessages();
    EXPECT_EQ(recordedTexts(), std::vector<std::string>{"destroy 42"});
}

TEST_F(HostRequestQueueTest, AttributeWorkWaitsWhileTheSessionIsBusyButActionsRun) {
    obrSkpSetEntityAttribute("12", "Dict", "Key", "v", orvanta::AlwaysPost);
    // Posted as the render window's edits of the session attribute list arrive: always ready.
    orvanta::hostRequestQueue().post(
        request({"obrSkpSetEntityAttribute", "%Camera", "Bloom", "Key", "v"}));
    obrSkpSetEntityAttribute("ExecuteAction", "SuspendScene", "", "", orvanta::AlwaysPost);
    obrSkpSetEntityAttribute("13", "Dict", "Key", "v", orvanta::AlwaysPost);
    orvanta::raiseSessionBusy();
    obrCheckMessages();
    EXPECT_EQ(recordedTexts(), (std::vector<std::string>{"set ExecuteAction/SuspendScene/="}));
    ASSERT_EQ(orvanta::sceneSession().sessionAttributes.records().size(), 1);
    EXPECT_EQ(orvanta::sceneSession().sessionAttributes.records()[0].owner,
              QStringLiteral("Camera"));
    EXPECT_EQ(obrPendingMessagesCount(), 2);
    obrCheckMessages();  // still busy: retried and kept, in order
    EXPECT_EQ(obrPendingMessagesCount(), 2);

    orvanta::lowerSessionBusy();
    obrCheckMessages();
    EXPECT_EQ(recordedTexts(),
              (std::vector<std::string>{"set ExecuteAction/SuspendScene/=", "set 12/Dict/Key=v",
                                        "set 13/Dict/Key=v"}));
}

// A "Camera" attribute the render window sets is remembered as a session attribute whatever
// becomes of the request, and only by the host thread.
TEST_F(HostRequestQueueTest, ACameraAttributeIsRememberedOnEveryPathByTheHostThread) {
    const auto dictionaries = [] {
        std::vector<std::string> names;
        for (const auto& record : orvanta::sceneSession().sessionAttributes.records())
            names.push_back(record.dictionary.toStdString());
        return names;
    };
    orvanta::sceneSession().sessionAttributes.replace({});
    orvanta::raiseSessionBusy();
    obrSkpSetEntityAttribute("Camera", "Busy", "k", "v", orvanta::AlwaysPost);
    std::thread([] {
        obrSkpSetEntityAttribute("Camera", "BusyElsewhere", "k", "v", orvanta::PostOffHostThread);
    }).join();
    orvanta::lowerSessionBusy();
    // An empty Base64 value counts as unchanged: nothing is set.
    obrSkpSetEntityAttribute("Camera", "MapsBase64", "k", "", orvanta::AlwaysPost);
    std::thread([] {
        obrSkpSetEntityAttribute("Camera", "RunElsewhere", "k", "v", orvanta::RunNow);
    }).join();
    EXPECT_EQ(dictionaries(), (std::vector<std::string>{"Busy", "MapsBase64"}));
    EXPECT_EQ(recordedTexts(), std::vector<std::string>{"set Camera/RunElsewhere/k=v"});

    obrCheckMessages();
    EXPECT_EQ(dictionaries(),
              (std::vector<std::string>{"Busy", "MapsBase64", "BusyElsewhere", "RunElsewhere"}));
    EXPECT_EQ(recordedTexts(), std::vector<std::string>{"set Camera/RunElsewhere/k=v"});
    EXPECT_EQ(obrPendingMessagesCount(), 0);
}

TEST_F(HostRequestQueueTest, AttributeWorkWaitsWhileTheModelLoadsAndAnActionBehindItRuns) {
    // A sender of this process's own that no render window attaches to; it mirrors the loading
    // flag without sending.
    auto sender = std::make_unique<XelRemoteRenderSender>(L"", nullptr, nullptr, nullptr, nullptr,
                                                          nullptr, 0);
    orvanta::pluginState().sender.store(sender.get());

    // Posted before the model began to load; one asked for while it loads is dropped.
    obrSkpSetEntityAttribute("12", "Dict", "Key", "v", orvanta::AlwaysPost);
    sender->setLoadingModel(true);
    obrSkpSetEntityAttribute("14", "Dict", "Key", "dropped", orvanta::AlwaysPost);
    obrSkpExecuteCustomAction("EnumEntityMeshes", "12", "");
    std::thread([] { obrSkpExecuteCustomAction("ResumeScene", "", ""); }).join();
    EXPECT_EQ(recordedTexts(), std::vector<std::string>{"set ExecuteAction/EnumEntityMeshes/12="});
    obrCheckMessages();
    EXPECT_EQ(recordedTexts(), (std::vector<std::string>{"set ExecuteAction/EnumEntityMeshes/12=",
                                                         "set ExecuteAction/ResumeScene/="}));
    EXPECT_EQ(obrPendingMessagesCount(), 1);

    sender->setLoadingModel(false);
    obrCheckMessages();
    EXPECT_EQ(recordedTexts().back(), "set 12/Dict/Key=v");
    EXPECT_EQ(obrPendingMessagesCount(), 0);

    orvanta::pluginState().sender.store(nullptr);
}

// Posts from inside a callback, as a host that asks for more work while it serves a request.
void hostContentThatAsksForMore(const char* entityId) {
    recordHostCall(std::string("content ") + entityId);
    if (std::string(entityId) == "parent") {
        obrSkpEnumEntityContent("child", true, orvanta::AlwaysPost);
        obrSkpExportTexture("child", "png", orvanta::AlwaysPost);
    }
}

TEST_F(HostRequestQueueTest, RequestsPostedByACallbackRunInTheSamePoll) {
    orvanta::pluginState().host.enumEntityContent = &hostContentThatAsksForMore;
    obrSkpEnumEntityContent("parent", true, orvanta::AlwaysPost);
    obrCheckMessages();
    EXPECT_EQ(recordedTexts(),
              (std::vector<std::string>{"content parent", "content child", "texture child png"}));
    EXPECT_EQ(obrPendingMessagesCount(), 0);
}

TEST_F(HostRequestQueueTest, RequestsWithoutACallbackAreConsumedWithoutEffect) {
    orvanta::pluginState().host = {};
    obrSkpEnumEntityContent("1", true, orvanta::AlwaysPost);
    obrSkpEnumEntityAttributes("1", "Dict", orvanta::AlwaysPost);
    obrSkpExportTexture("1", "png", orvanta::AlwaysPost);
    obrSkpDestroyPointer(3, orvanta::AlwaysPost);
    obrSkpSetEntityAttribute("1", "Dict", "Key", "v", orvanta::AlwaysPost);
    orvanta::hostRequestQueue().post(request({"obrSkpUnknownKind", "1"}));
    obrSkpEnumEntityContent("now", true, orvanta::RunNow);
    EXPECT_EQ(obrPendingMessagesCount(), 6);
    obrCheckMessages();
    EXPECT_EQ(obrPendingMessagesCount(), 0);

    // Consumed, not kept for a host that installs its callbacks later.
    orvanta::pluginState().host = {&hostSet, &hostContent, &hostAttributes, &hostTexture,
                                   &hostDestroy};
    obrCheckMessages();
    EXPECT_TRUE(recordedTexts().empty());
}

TEST_F(HostRequestQueueTest, PostsFromManyThreadsReachTheHostThreadOnlyAndInOrder) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 250;
    std::mutex mutex;
    std::condition_variable changed;
    int posted = 0;    // under mutex
    int finished = 0;  // under mutex

    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const std::string id = std::to_string(t) + ":" + std::to_string(i);
                obrSkpEnumEntityContent(id.c_str(), true, orvanta::PostOffHostThread);
                std::lock_guard<std::mutex> guard(mutex);
                ++posted;
                changed.notify_all();
            }
            std::lock_guard<std::mutex> guard(mutex);
            ++finished;
            changed.notify_all();
        });
    }

    // The host's poll loop: wakes when something was posted, polls, until every poster is done.
    int seen = 0;
    for (;;) {
        bool done = false;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return posted != seen || finished == kThreads; });
            seen = posted;
            done = finished == kThreads;
        }
        obrCheckMessages();
        if (done)
            break;
    }
    for (std::thread& poster : posters)
        poster.join();
    EXPECT_EQ(obrPendingMessagesCount(), 0);

    const Qt::HANDLE hostThread = QThread::currentThreadId();
    std::vector<std::vector<int>> order(kThreads);
    const std::vector<HostCall> calls = hostCalls();
    ASSERT_EQ(calls.size(), std::size_t{kThreads * kPerThread});
    for (const HostCall& call : calls) {
        EXPECT_EQ(call.thread, hostThread) << call.text;
        const std::size_t colon = call.text.find(':');
        const int t = std::stoi(call.text.substr(8, colon - 8));  // after "content "
        order[t].push_back(std::stoi(call.text.substr(colon + 1)));
    }
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(order[t].size(), std::size_t{kPerThread}) << "thread " << t;
        for (int i = 0; i < kPerThread; ++i)
            EXPECT_EQ(order[t][i], i) << "thread " << t;
    }
}

}  // namespace
