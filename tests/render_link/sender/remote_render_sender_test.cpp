// The sender against a render-window end played by this test: a channel that attaches to the
// sender's segments and records what arrives.
#include "XelRemoteRenderSender.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSharedMemory>
#include <QTemporaryDir>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/process.h"
#include "render_link/channel/message_channel.h"
#include "render_link/channel/payload_codec.h"
#include "render_link/launch_environment.h"
#include "tests/support/captured_log.h"
#include "tests/support/channel_test_support.h"
#include "tests/support/system.h"

using namespace xel;
using xel::test::ChannelCleanup;
using xel::test::RecordingObserver;

namespace {

using Bytes = std::vector<char>;

Bytes str(const std::string& text) {
    Bytes bytes(8 + text.size());
    PayloadWriter(bytes.data(), bytes.size()).putString(text);
    return bytes;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// What the host callbacks received, across the plain function pointers the sender takes.
struct Requests {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> calls;

    void add(std::string call) {
        std::lock_guard<std::mutex> guard(mutex);
        calls.push_back(std::move(call));
        changed.notify_all();
    }
    bool waitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(60),
                                [&] { return calls.size() >= count; });
    }
    std::vector<std::string> all() {
        std::lock_guard<std::mutex> guard(mutex);
        return calls;
    }
} g_requests;

void onSetEntity(const char* a, const char* b, const char* c, const char* d) {
    g_requests.add(std::string("setEnt ") + a + "," + b + "," + c + "," + d);
}
void onEnumContent(const char* id) {
    g_requests.add(std::string("enumEnt ") + id);
}
void onEnumAttributes(const char* a, const char* b) {
    g_requests.add(std::string("enumEAT ") + a + "," + b);
}
void onExportTexture(const char* a, const char* b) {
    g_requests.add(std::string("expTx ") + a + "," + b);
}

// A sender whose render-window announcements can be waited for.
class Sender : public XelRemoteRenderSender {
public:
    Sender(long queueId, bool withCallbacks = true, const wchar_t* session = L"/tmp/session")
        : XelRemoteRenderSender(session, withCallbacks ? onSetEntity : nullptr,
                                withCallbacks ? onEnumContent : nullptr,
                                withCallbacks ? onEnumAttributes : nullptr,
                                withCallbacks ? onExportTexture : nullptr, nullptr, queueId) {}
    ~Sender() override { stopSending(); }

    bool waitForRunning(bool running) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(60),
                                  [&] { return isRenderRunning() == running; });
    }

protected:
    void onRenderInit() override {
        XelRemoteRenderSender::onRenderInit();
        std::lock_guard<std::mutex> guard(m_mutex);
        m_changed.notify_all();
    }
    void onRenderExit() override {
        XelRemoteRenderSender::onRenderExit();
        std::lock_guard<std::mutex> guard(m_mutex);
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

class SenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> guard(g_requests.mutex);
            g_requests.calls.clear();
        }
        sender = std::make_unique<Sender>(id);
        window = std::make_unique<MessageChannel>(&seen, id);
        ASSERT_FALSE(window->isCreator());
        window->run();
        ASSERT_TRUE(seen.waitForConnected());
    }
    void TearDown() override {
        window.reset();
        sender.reset();
    }
    void announce() {
        window->sendMessage("INIT", nullptr, 0);
        ASSERT_TRUE(sender->waitForRunning(true));
    }
    // The messages of `type` among the first `count` that arrived.
    std::vector<test::ReceivedMessage> arrived(std::size_t count, const std::string& type = "") {
        EXPECT_TRUE(seen.waitForMessages(count));
        std::vector<test::ReceivedMessage> result;
        for (const auto& m : seen.messages())
            if (type.empty() || m.type == type)
                result.push_back(m);
        return result;
    }
    // Sends "echo" from the window side and waits for the sender's answer: everything the window
    // sent before has been handled by then.
    void roundTrip(std::size_t answersSoFar) {
        const Bytes payload = str("sync");
        window->sendMessage("echo", payload.data(), static_cast<long>(payload.size()));
        ASSERT_TRUE(seen.waitForMessages(answersSoFar + 1));
        ASSERT_EQ(seen.messages().back().type, "echores");
    }

    const qint32 id = test::uniqueQueueId(4);
    ChannelCleanup cleanup{id};
    RecordingObserver seen;
    std::unique_ptr<Sender> sender;
    std::unique_ptr<MessageChannel> window;
};

TEST_F(SenderTest, BeforeInitOnlyTransactionMarkersGoOut) {
    const float transform[16] = {};
    sender->addGroup("1", "Model", "g", "", transform, "");
    sender->clearSession();
    sender->setCamera(1, 2, 3, 4, 5, 6, 7, 8, 9, true, false, 10, 11, 12, 13, "scene");
    sender->echo("early");
    sender->setLoadingModel(true);
    sender->beginTransaction("EnumeratingScene");
    sender->endTransaction(false);
    announce();
    sender->echo("late");  // the first message after "INIT": nothing else may precede it
    const auto messages = arrived(3);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].type, "BEGINTRAN");
    EXPECT_EQ(std::string(messages[0].data.begin(), messages[0].data.end()), "EnumeratingScene");
    EXPECT_EQ(messages[1].type, "ENDTRAN");
    EXPECT_TRUE(messages[1].data.empty());
    EXPECT_EQ(messages[2].type, "echo");
    EXPECT_EQ(messages[2].data, str("late"));
}

TEST_F(SenderTest, OnceTheRenderWindowIsInTheChannelLeavesNoNamesBehind) {
    if (xel::test::kWindows)
        GTEST_SKIP() << "on Windows names go with their last handle; none can be removed before";
    announce();
    QSharedMemory segment(QString::number(id) + "_Sender");
    EXPECT_FALSE(segment.attach());  // gone from the name space, still in use by both sides
    sender->echo("still");
    const auto messages = arrived(1, "echo");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].data, str("still"));
}

TEST_F(SenderTest, TransactionDepthIsCountedButNeverNegative) {
    sender->endTransaction(true);
    EXPECT_FALSE(sender->transactionInProgress());
    sender->beginTransaction("a");
    EXPECT_TRUE(sender->transactionInProgress());
    sender->endTransaction(false);
    EXPECT_FALSE(sender->transactionInProgress());
    const auto messages = arrived(3);
    EXPECT_EQ(std::string(messages[0].data.begin(), messages[0].data.end()), "ABORT");
}

// Nested transactions reach the render window as the outermost one, aborted as a whole when an
// inner one aborted.
TEST_F(SenderTest, NestedTransactionsAreOneForTheRenderWindow) {
    struct Step {
        bool begin;
        bool abort;
    };
    const std::vector<std::vector<Step>> sequences = {
        {{true, false}, {true, false}, {false, false}, {false, false}},
        {{true, false}, {true, false}, {false, true}, {false, false}},
        {{true, false}, {false, false}},
    };
    std::size_t total = 0;
    for (const auto& steps : sequences) {
        for (const Step& step : steps) {
            if (step.begin)
                sender->beginTransaction("outer");
            else
                sender->endTransaction(step.abort);
        }
        total += 2;
    }
    EXPECT_FALSE(sender->transactionInProgress());
    roundTrip(total);
    std::vector<std::string> markers;
    for (const auto& m : seen.messages())
        if (m.type != "echores")
            markers.push_back(m.type + " " + std::string(m.data.begin(), m.data.end()));
    EXPECT_EQ(markers, (std::vector<std::string>{"BEGINTRAN outer", "ENDTRAN ", "BEGINTRAN outer",
                                                 "ENDTRAN ABORT", "BEGINTRAN outer", "ENDTRAN "}));
}

TEST_F(SenderTest, SetStateCarriesTheMirrorAndEqualLoadingStatesAreSentOnce) {
    announce();
    sender->setRenderWindowParent(0x0102030405060708ll);
    sender->setRenderWindowParent(0x0102030405060708ll);  // unchanged: nothing
    sender->setLoadingModel(true);
    sender->setLoadingModel(true);  // unchanged: nothing
    sender->setDockedWindowsMode(true);
    const auto states = arrived(6, "SETSTATE");  // each SETSTATE is followed by a "STATE" request
    ASSERT_GE(states.size(), 3u);
    const Bytes parentOnly{0, 0, 0, 0, 0, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1};
    const Bytes loading{0, 1, 0, 0, 0, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1};
    const Bytes docked{0, 1, 0, 0, 0, 0, 0, 1, 8, 7, 6, 5, 4, 3, 2, 1};
    EXPECT_EQ(states[0].data, parentOnly);
    EXPECT_EQ(states[1].data, loading);
    EXPECT_EQ(states[2].data, docked);
    for (const auto& request : arrived(6, "STATE"))
        EXPECT_EQ(std::string(request.data.begin(), request.data.end()), "STATE");
}

TEST_F(SenderTest, TheProductionDialogRequestIsOneShot) {
    announce();
    sender->showProductionDialog();
    sender->showSettingsUI(true);
    const auto states = arrived(4, "SETSTATE");
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0].data[6], 1);
    EXPECT_EQ(states[1].data[6], 0);
    EXPECT_EQ(states[1].data[4], 1);
}

TEST_F(SenderTest, StateChangesArriveInTheOrderMade) {
    announce();
    constexpr int kChanges = 60;
    for (int i = 0; i < kChanges; ++i)
        sender->showSettingsUI(i % 2 == 0);
    const auto states = arrived(2 * kChanges, "SETSTATE");
    ASSERT_EQ(states.size(), static_cast<std::size_t>(kChanges));
    for (int i = 0; i < kChanges; ++i)
        ASSERT_EQ(states[i].data[4], i % 2 == 0 ? 1 : 0) << i;
}

TEST_F(SenderTest, AStateReplyOverwritesTheMirror) {
    announce();
    sender->showMaterialsUI(true);
    ASSERT_EQ(arrived(2).size(), 2u);  // "SETSTATE" and the request for the resulting state
    const Bytes reply{1, 0, 1, 1, 0, 0, 1, 1, 0x2A, 0, 0, 0, 0, 0, 0, 0};
    window->sendMessage("STATE", reply.data(), static_cast<long>(reply.size()));
    roundTrip(2);
    bool f[8];
    long long parent = 0;
    sender->getCurrentState(f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], parent);
    EXPECT_FALSE(f[0]);  // the reserved flag is not taken over
    EXPECT_EQ((std::vector<bool>(f + 1, f + 8)),
              (std::vector<bool>{false, true, true, false, false, true, true}));
    EXPECT_EQ(parent, 42);
    EXPECT_FALSE(sender->materialsUIVisible());
}

TEST_F(SenderTest, OnlyTheAnswerToTheLatestStateRequestOverwritesTheMirror) {
    announce();
    sender->setLoadingModel(true);
    ASSERT_EQ(arrived(2).size(), 2u);  // "SETSTATE" and the request for the resulting state
    // The window answers the first request as the plug-in makes its next change, maybe before
    // the request that follows that change has gone out.
    sender->setLoadingModel(false);
    const Bytes stale{0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    window->sendMessage("STATE", stale.data(), static_cast<long>(stale.size()));
    const Bytes sync = str("sync");
    window->sendMessage("echo", sync.data(), static_cast<long>(sync.size()));
    ASSERT_EQ(arrived(5, "echores").size(), 1u);  // the second change, its request, the answer
    EXPECT_FALSE(sender->isLoadingModel()) << "an answer to the earlier request took over";

    const Bytes latest{0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    window->sendMessage("STATE", latest.data(), static_cast<long>(latest.size()));
    roundTrip(5);
    EXPECT_TRUE(sender->renderWindowVisible());
    // With no request outstanding, the window's word is taken as it comes.
    window->sendMessage("STATE", stale.data(), static_cast<long>(stale.size()));
    roundTrip(6);
    EXPECT_TRUE(sender->isLoadingModel());
}

TEST_F(SenderTest, StateRequestsNoLongerCountOnceTheRenderWindowAnnouncesItselfAgain) {
    announce();
    sender->setLoadingModel(true);
    ASSERT_EQ(arrived(2).size(), 2u);  // "SETSTATE" and the request for the resulting state
    // It does not answer, and announces itself again: only the request that follows counts,
    // and its answer is taken.
    window->sendMessage("INIT", nullptr, 0);
    const Bytes reply{0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    window->sendMessage("STATE", reply.data(), static_cast<long>(reply.size()));
    roundTrip(3);
    EXPECT_FALSE(sender->isLoadingModel()) << "the answer was taken for an older request's";
    EXPECT_TRUE(sender->renderWindowVisible());
}

TEST_F(SenderTest, RequestsReachTheCallbacksByExactNameOnly) {
    const Bytes one = str("17");
    window->sendMessage("enumEntX", one.data(), static_cast<long>(one.size()));  // not a request
    window->sendMessage("enumEnt", one.data(), static_cast<long>(one.size()));
    const Bytes two = concat({str("a"), str("b")});
    window->sendMessage("enumEAT", two.data(), static_cast<long>(two.size()));
    window->sendMessage("expTx", two.data(), static_cast<long>(two.size()));
    const Bytes four = concat({str("1"), str("2"), str("3"), str("4")});
    window->sendMessage("setEnt", four.data(), static_cast<long>(four.size()));
    ASSERT_TRUE(g_requests.waitFor(4));
    roundTrip(0);
    EXPECT_EQ(g_requests.all(), (std::vector<std::string>{"enumEnt 17", "enumEAT a,b", "expTx a,b",
                                                          "setEnt 1,2,3,4"}));
}

TEST_F(SenderTest, ARequestWhoseFieldsDoNotFitIsDropped) {
    const test::CapturedLog log;
    const Bytes truncated = str("only one");
    window->sendMessage("enumEAT", truncated.data(), static_cast<long>(truncated.size()));
    Bytes lying = str("abc");
    lying[0] = 100;  // claims more bytes than there are
    window->sendMessage("enumEnt", lying.data(), static_cast<long>(lying.size()));
    const Bytes good = str("9");
    window->sendMessage("enumEnt", good.data(), static_cast<long>(good.size()));
    ASSERT_TRUE(g_requests.waitFor(1));
    roundTrip(0);
    EXPECT_EQ(g_requests.all(), (std::vector<std::string>{"enumEnt 9"}));
    EXPECT_EQ(log.linesWith(QStringLiteral("refused: a message from the render window")).size(), 1);
}

TEST_F(SenderTest, EchoIsAnsweredWithTheSameText) {
    const Bytes payload = str("ping");
    window->sendMessage("echo", payload.data(), static_cast<long>(payload.size()));
    const auto answers = arrived(1, "echores");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].data, payload);
}

TEST_F(SenderTest, SceneContentKeepsItsOrderBetweenTheMarkers) {
    announce();
    const float positions[6] = {0, 0, 0, 1, 0, 0};
    const float normals[6] = {0, 0, 1, 0, 0, 1};
    const float uvs[4] = {0, 0, 1, 0};
    const bool flags[2] = {true, false};
    const int indices[3] = {0, 1, 0};
    const float transform[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    sender->beginTransaction("EnumeratingScene");
    sender->addMesh("5_m", "5", "label", positions, normals, uvs, uvs, flags, indices, 3, 2, "f",
                    "b");
    sender->addGroup("5", "Model", "g", "", transform, "");
    sender->endTransaction(false);
    const auto messages = arrived(4);
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0].type, "BEGINTRAN");
    EXPECT_EQ(messages[1].type, "addMesh");
    // 92 + 41 V + 4 I and the five strings: "5_m", "5", "label", "f", "b".
    EXPECT_EQ(messages[1].data.size(), 92u + 41 * 2 + 4 * 3 + 3 + 1 + 5 + 1 + 1);
    EXPECT_EQ(messages[2].type, "addGroup");
    EXPECT_EQ(messages[2].data.size(), 112u + 1 + 5 + 1);
    EXPECT_EQ(messages[3].type, "ENDTRAN");
}

TEST(SenderCallbacks, MissingCallbacksDropTheirRequests) {
    const qint32 id = test::uniqueQueueId(5);
    ChannelCleanup cleanup(id);
    Sender sender(id, /*withCallbacks=*/false);
    RecordingObserver seen;
    MessageChannel window(&seen, id);
    window.run();
    const Bytes four = concat({str("1"), str("2"), str("3"), str("4")});
    for (const char* type : {"setEnt", "enumEnt", "enumEAT", "expTx"})
        window.sendMessage(type, four.data(), static_cast<long>(four.size()));
    const Bytes ping = str("alive");
    window.sendMessage("echo", ping.data(), static_cast<long>(ping.size()));
    ASSERT_TRUE(seen.waitForMessages(1));
    EXPECT_EQ(seen.messages()[0].type, "echores");
}

// The real launch: four arguments, the session folder as working directory, the starter's id in
// the environment; and a render window that ends without "EXIT" counts as gone.
TEST(SenderLaunch, StartsTheProgramAndNoticesItsEnd) {
    const qint32 id = test::uniqueQueueId(6);
    ChannelCleanup cleanup(id);
    {
        std::lock_guard<std::mutex> guard(g_requests.mutex);
        g_requests.calls.clear();
    }
    QTemporaryDir session;
    ASSERT_TRUE(session.isValid());
    const std::wstring sessionPath = session.path().toStdWString();
    Sender sender(id, true, sessionPath.c_str());
    const std::wstring program = qEnvironmentVariable("XEL_TEST_PEER").toStdWString();
    EXPECT_EQ(sender.startRender(program.c_str(), 2050, 0), 0);
    ASSERT_TRUE(sender.waitForRunning(true));
    ASSERT_TRUE(g_requests.waitFor(1));
    const std::string folder = session.path().toStdString();
    const std::string expected = "enumEnt " + std::to_string(id) + "|2050|0|" + folder + "|" +
                                 QDir(session.path()).canonicalPath().toStdString() + "|" +
                                 std::to_string(platform::currentProcessId());
    EXPECT_EQ(g_requests.all()[0], expected);

    sender.echo("crash now");  // the stand-in ends at once, without "EXIT"
    ASSERT_TRUE(sender.waitForRunning(false));
    sender.addLayer("l", true, 1, false);  // nothing waits for a render window that is gone
}

// A render window that takes nothing while a send waits for it counts as ended. Probed every half
// second, it gets the end of the transaction it was given up in, aborted (a transaction it holds
// would hold the probe too), then an echo; whatever it answers makes it count as running again.
TEST(SenderStall, AStalledRenderWindowIsProbedOutOfItsTransactionAndRevivedByItsAnswer) {
    qputenv(kSegmentBytesVariable, QByteArray::number(static_cast<qulonglong>(kMinSegmentBytes)));
    qputenv(kStallLimitVariable, QByteArray::number(kMinStallLimitMs));
    const qint32 id = test::uniqueQueueId(7);
    ChannelCleanup cleanup(id);
    Sender sender(id);
    RecordingObserver seen;
    ChannelOptions options;
    options.segmentBytes = kMinSegmentBytes;
    MessageChannel window(&seen, id, options);
    window.run();
    ASSERT_TRUE(seen.waitForConnected());
    window.sendMessage("INIT", nullptr, 0);
    ASSERT_TRUE(sender.waitForRunning(true));

    seen.pauseDelivery();
    sender.beginTransaction("EnumeratingScene");
    // Many times what the segment holds, unless the render window is given up first.
    for (int i = 0; i < 100000 && sender.isRenderRunning(); ++i)
        sender.addLayer("1", true, i, false);
    ASSERT_FALSE(sender.isRenderRunning());

    seen.resumeDelivery();
    ASSERT_TRUE(seen.waitForType("echo", 1));
    const std::vector<test::ReceivedMessage> messages = seen.messages();
    const auto probe = std::find_if(messages.begin(), messages.end(),
                                    [](const auto& m) { return m.type == "echo"; });
    ASSERT_NE(probe, messages.begin());
    const test::ReceivedMessage& end = *(probe - 1);
    EXPECT_EQ(end.type, "ENDTRAN");
    EXPECT_EQ(std::string(end.data.begin(), end.data.end()), "ABORT");

    const Bytes answer = str("back");
    window.sendMessageAsync("echores", answer.data(), answer.size());
    EXPECT_TRUE(sender.waitForRunning(true));
    qunsetenv(kSegmentBytesVariable);
    qunsetenv(kStallLimitVariable);
}

}  // namespace
