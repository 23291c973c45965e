// The render-window side of the render link, driven from the plug-in side: the test owns the
// channel that creates the segments, as the plug-in does, and writes payloads into it; a recording
// receiver attaches to it. Parent-watch tests use the peer program as the render window's starter.
#include "XelRemoteRenderReceiver.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/named_event.h"
#include "platform/process.h"
#include "render_link/channel/message_channel.h"
#include "render_link/launch_environment.h"
#include "render_link/messages/message_catalogue.h"
#include "tests/support/captured_log.h"
#include "tests/support/channel_test_support.h"
#include "tests/support/peer_process.h"

using namespace xel;
using messages::FieldValue;
using messages::PayloadBuilder;
namespace type = messages::type;
using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWaitMs = 60000;

// The parent watch's timers need an application object on the test thread.
class QtApplication : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "remote_render_receiver_tests";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QCoreApplication> m_app;
};
[[maybe_unused]] ::testing::Environment* const kQtApplication =
    ::testing::AddGlobalTestEnvironment(new QtApplication);

std::string text(const char* s) {
    return s ? s : "null";
}

std::string floats(const float* values, std::size_t count) {
    if (!values)
        return "null";
    std::ostringstream out;
    out << "[";
    for (std::size_t i = 0; i < count; ++i)
        out << (i ? " " : "") << values[i];
    out << "]";
    return out.str();
}

template <typename T>
bool aligned(const T* p) {
    return reinterpret_cast<std::uintptr_t>(p) % alignof(T) == 0;
}

// Little-endian payload bytes, field by field, for payloads written out by hand.
class Wire {
public:
    Wire& u8(std::uint8_t v) {
        m_bytes.push_back(v);
        return *this;
    }
    Wire& i32(std::int32_t v) { return little(static_cast<std::uint32_t>(v), 4); }
    Wire& f32(float v) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        return little(bits, 4);
    }
    Wire& u64(std::uint64_t v) { return little(v, 8); }
    Wire& str(const std::string& s) {
        u64(s.size());
        m_bytes.insert(m_bytes.end(), s.begin(), s.end());
        return *this;
    }
    const Bytes& bytes() const { return m_bytes; }

private:
    Wire& little(std::uint64_t v, int count) {
        for (int i = 0; i < count; ++i)
            m_bytes.push_back(static_cast<unsigned char>(v >> (8 * i)));
        return *this;
    }
    Bytes m_bytes;
};

// Records every handler call as one line of text, with the thread it came on.
class RecordingReceiver : public XelRemoteRenderReceiver {
public:
    explicit RecordingReceiver(long queueId)
        : XelRemoteRenderReceiver(L"/tmp/session folder", queueId) {}
    // The reader may be inside a handler of this class until the channel is closed.
    ~RecordingReceiver() override { stopReceiving(); }

    struct Call {
        std::string text;
        std::thread::id thread;
    };

    bool waitForCalls(std::size_t count, int timeoutMs = kWaitMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_calls.size() >= count; });
    }
    // Waits until onMessage() has returned `count` times in all, replays included.
    bool waitForMessages(std::size_t count, int timeoutMs = kWaitMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_messages >= count; });
    }
    std::vector<Call> calls() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_calls;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const Call& call : calls())
            out.push_back(call.text);
        return out;
    }
    std::vector<Clock::time_point> exitRequests() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_exitRequests;
    }
    // Runs the calling thread's event loop until `count` exit requests have come in all, or the
    // time is up.
    bool runUntilExitRequests(std::size_t count, int timeoutMs) {
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            if (m_exitRequests.size() >= count)
                return true;
            m_exitLoop = &loop;
            m_exitTarget = count;
        }
        deadline.start(timeoutMs);
        loop.exec();
        std::lock_guard<std::mutex> guard(m_mutex);
        m_exitLoop = nullptr;
        return m_exitRequests.size() >= count;
    }

    void setState(const bool (&flags)[8], long long parent) {
        std::lock_guard<std::mutex> guard(m_mutex);
        std::copy(std::begin(flags), std::end(flags), m_state);
        m_parent = parent;
    }
    // The next material-maps call waits up to `windowMs` for any other handler call before it
    // returns.
    void holdMapsFor(int windowMs) { m_mapsWindowMs = windowMs; }
    bool arraysAligned() const { return m_arraysAligned; }

    // What onMessage() was handed, replays included, in call order.
    struct Delivery {
        const char* data;
        long size;
    };
    std::vector<Delivery> deliveries() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_deliveries;
    }
    // Per mesh: its arrays' bytes, and which arrays the handler got inside the bytes onMessage()
    // was handed (in place) rather than in a copy.
    struct MeshSeen {
        std::string bytes;
        bool floatsInPlace = false;
        bool indicesInPlace = false;
    };
    std::vector<MeshSeen> meshesSeen() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_meshesSeen;
    }

    void onMessage(const char* type, const void* data, long size) override {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_deliveries.push_back({static_cast<const char*>(data), size});
        }
        m_handing.push_back({static_cast<const char*>(data), size});
        XelRemoteRenderReceiver::onMessage(type, data, size);
        m_handing.pop_back();
        std::lock_guard<std::mutex> guard(m_mutex);
        ++m_messages;
        m_changed.notify_all();
    }

protected:
    void onGenerateMaterialMaps(const char* materialName, int m1, int m2, int m3, int m4,
                                float mapValue, int quality, int format) override {
        std::ostringstream out;
        out << "maps(" << text(materialName) << "," << m1 << "," << m2 << "," << m3 << "," << m4
            << "," << mapValue << "," << quality << "," << format << ")";
        const std::size_t before = record(out.str() + " begin");
        {
            // A negative check: within this window no other handler may run.
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait_for(lock, std::chrono::milliseconds(m_mapsWindowMs),
                               [&] { return m_calls.size() > before + 1; });
        }
        record(out.str() + " end");
    }
    void onSetCamera(float v1, float v2, float v3, float v4, float v5, float v6, float v7, float v8,
                     float v9, bool flag1, bool flag2, float v10, float v11, float v12, float v13,
                     const char* sceneName) override {
        std::ostringstream out;
        out << "camera(" << v1 << "," << v2 << "," << v3 << "," << v4 << "," << v5 << "," << v6
            << "," << v7 << "," << v8 << "," << v9 << "," << flag1 << "," << flag2 << "," << v10
            << "," << v11 << "," << v12 << "," << v13 << "," << text(sceneName) << ")";
        record(out.str());
    }
    void onSetSunLight(int p1, float p2, float p3, float p4, float p5, int p6, float p7, float p8,
                       float p9) override {
        std::ostringstream out;
        out << "sun(" << p1 << "," << p2 << "," << p3 << "," << p4 << "," << p5 << "," << p6 << ","
            << p7 << "," << p8 << "," << p9 << ")";
        record(out.str());
    }
    void onRemoveEntity(const char* entityId, const char* parentId, bool contentTable,
                        bool forUpdate) override {
        std::ostringstream out;
        out << "remEntity(" << text(entityId) << "," << text(parentId) << "," << contentTable << ","
            << forUpdate << ")";
        record(out.str());
    }
    void onRemoveEntityMeshes(const char* entityId) override {
        record("remMeshes(" + text(entityId) + ")");
    }
    void onClearSession() override { record("clear()"); }
    void onAddMesh(const char* meshId, const char* entityId, const char* meshLabel,
                   const float* positions, const float* normals, const float* frontUVs,
                   const float* backUVs, const bool* vertexFlags, const int* indices,
                   int indexCount, int vertexCount, const char* frontMaterial,
                   const char* backMaterial) override {
        const auto v = static_cast<std::size_t>(vertexCount);
        std::ostringstream out;
        out << "mesh(" << text(meshId) << "," << text(entityId) << "," << text(meshLabel) << ","
            << floats(positions, 3 * v) << "," << floats(normals, 3 * v) << ","
            << floats(frontUVs, 2 * v) << "," << floats(backUVs, 2 * v) << ",";
        if (vertexFlags) {
            out << "[";
            for (std::size_t i = 0; i < v; ++i)
                out << (i ? " " : "") << vertexFlags[i];
            out << "]";
        } else {
            out << "null";
        }
        out << ",";
        if (indices) {
            out << "[";
            for (int i = 0; i < indexCount; ++i)
                out << (i ? " " : "") << indices[i];
            out << "]";
        } else {
            out << "null";
        }
        out << "," << indexCount << "," << vertexCount << "," << text(frontMaterial) << ","
            << text(backMaterial) << ")";
        m_arraysAligned = aligned(positions) && aligned(normals) && aligned(frontUVs) &&
                          aligned(backUVs) && aligned(indices);
        noteMesh(positions, normals, frontUVs, backUVs, vertexFlags, indices, indexCount, v);
        record(out.str());
    }
    void onAddGroup(const char* groupId, const char* parentId, const char* recordLabel,
                    const char* passText, const float* transform, const char* recordNote) override {
        record("group(" + text(groupId) + "," + text(parentId) + "," + text(recordLabel) + "," +
               text(passText) + "," + floats(transform, 16) + "," + text(recordNote) + ")");
    }
    void onAddInstance(const char* instanceId, const char* parentId, const char* recordLabel,
                       const char* definitionId, const char* passText, const float* transform,
                       const char* recordNote) override {
        record("instance(" + text(instanceId) + "," + text(parentId) + "," + text(recordLabel) +
               "," + text(definitionId) + "," + text(passText) + "," + floats(transform, 16) + "," +
               text(recordNote) + ")");
    }
    void onAddComponentDef(const char* definitionId, const char* defText, bool defFlag,
                           const char* defNote) override {
        std::ostringstream out;
        out << "comp(" << text(definitionId) << "," << text(defText) << "," << defFlag << ","
            << text(defNote) << ")";
        record(out.str());
    }
    void onAddMaterial(const char* materialId, const char* materialName, const char* detailText,
                       int intValue, float floatValue, const char* extraText) override {
        std::ostringstream out;
        out << "material(" << text(materialId) << "," << text(materialName) << ","
            << text(detailText) << "," << intValue << "," << floatValue << "," << text(extraText)
            << ")";
        record(out.str());
    }
    void onAddLayer(const char* layerId, bool layerFlag, bool defaultLayer,
                    bool layerValue) override {
        std::ostringstream out;
        out << "layer(" << text(layerId) << "," << layerFlag << "," << defaultLayer << ","
            << layerValue << ")";
        record(out.str());
    }
    void onDictionaryMessage(const char* owner, const char* dictionary, const char* key,
                             const char* value) override {
        record("dict(" + text(owner) + "," + text(dictionary) + "," + text(key) + "," +
               text(value) + ")");
    }
    void onBeginTransaction(const char* name) override {
        record("begin(" + text(name) + ")");
        XelRemoteRenderReceiver::onBeginTransaction(name);
    }
    void onEndTransaction(bool abort) override {
        record(std::string("end(") + (abort ? "abort" : "commit") + ")");
        XelRemoteRenderReceiver::onEndTransaction(abort);
    }
    void onExitRequested() override {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_exitRequests.push_back(Clock::now());
        if (m_exitLoop && m_exitRequests.size() >= m_exitTarget)
            QMetaObject::invokeMethod(m_exitLoop, "quit", Qt::QueuedConnection);
        m_changed.notify_all();
    }
    void onGetState(bool& reserved, bool& loadingModel, bool& closing, bool& renderWindowVisible,
                    bool& settingsUIVisible, bool& materialsUIVisible,
                    bool& productionDialogRequested, bool& dockedWindowsMode,
                    long long& renderWindowParent) override {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            bool* out[8] = {&reserved,
                            &loadingModel,
                            &closing,
                            &renderWindowVisible,
                            &settingsUIVisible,
                            &materialsUIVisible,
                            &productionDialogRequested,
                            &dockedWindowsMode};
            for (int i = 0; i < 8; ++i)
                *out[i] = m_state[i];
            renderWindowParent = m_parent;
        }
        record("getState()");
    }
    void onSetState(bool reserved, bool loadingModel, bool closing, bool renderWindowVisible,
                    bool settingsUIVisible, bool materialsUIVisible, bool productionDialogRequested,
                    bool dockedWindowsMode, long long renderWindowParent) override {
        std::ostringstream out;
        out << "setState(" << reserved << loadingModel << closing << renderWindowVisible
            << settingsUIVisible << materialsUIVisible << productionDialogRequested
            << dockedWindowsMode << "," << renderWindowParent << ")";
        record(out.str());
    }
    void onSaveRequested() override { record("save()"); }
    void onSetEntityVisible(const char* entityId, const char* recordLabel, bool visible) override {
        std::ostringstream out;
        out << "visible(" << text(entityId) << "," << text(recordLabel) << "," << visible << ")";
        record(out.str());
    }
    void onSetSectionPlane(int planeNumber, float firstX, float firstY, float firstZ, float secondX,
                           float secondY, float secondZ, bool active, bool capsOn,
                           int capsValue) override {
        std::ostringstream out;
        out << "plane(" << planeNumber << "," << firstX << "," << firstY << "," << firstZ << ","
            << secondX << "," << secondY << "," << secondZ << "," << active << "," << capsOn << ","
            << capsValue << ")";
        record(out.str());
    }
    void onSetLanguage(const char* language) override { record("lang(" + text(language) + ")"); }
    void onRedraw() override { record("redraw()"); }
    void onExportScene(const char* path) override { record("export(" + text(path) + ")"); }

private:
    void noteMesh(const float* positions, const float* normals, const float* frontUVs,
                  const float* backUVs, const bool* flags, const int* indices, int indexCount,
                  std::size_t v) {
        MeshSeen seen;
        const auto add = [&](const void* values, std::size_t bytes) {
            if (values)
                seen.bytes.append(static_cast<const char*>(values), bytes);
        };
        add(positions, 12 * v);
        add(normals, 12 * v);
        add(frontUVs, 8 * v);
        add(backUVs, 8 * v);
        add(flags, v);
        add(indices, 4 * static_cast<std::size_t>(indexCount));
        const Delivery delivery = m_handing.empty() ? Delivery{nullptr, 0} : m_handing.back();
        const auto inPlace = [&](const void* values) {
            const char* at = static_cast<const char*>(values);
            return at && at >= delivery.data && at < delivery.data + delivery.size;
        };
        seen.floatsInPlace =
            inPlace(positions) && inPlace(normals) && inPlace(frontUVs) && inPlace(backUVs);
        seen.indicesInPlace = inPlace(indices);
        std::lock_guard<std::mutex> guard(m_mutex);
        m_meshesSeen.push_back(std::move(seen));
    }

    std::size_t record(std::string line) {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_calls.push_back({std::move(line), std::this_thread::get_id()});
        m_changed.notify_all();
        return m_calls.size() - 1;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Call> m_calls;
    std::size_t m_messages = 0;
    std::vector<Clock::time_point> m_exitRequests;
    QEventLoop* m_exitLoop = nullptr;
    std::size_t m_exitTarget = 0;
    bool m_state[8] = {};
    long long m_parent = 0;
    std::atomic<int> m_mapsWindowMs{0};
    std::atomic<bool> m_arraysAligned{false};
    std::vector<Delivery> m_deliveries;
    std::vector<MeshSeen> m_meshesSeen;
    std::vector<Delivery> m_handing;  // reader thread: the onMessage() calls under way
};

// The plug-in's end of the channel, created first, and a receiver attached to it.
class ReceiverTest : public ::testing::Test {
protected:
    void SetUp() override {
        plugin = std::make_unique<MessageChannel>(&pluginSeen, id);
        ASSERT_TRUE(plugin->isCreator());
        plugin->run();
        ASSERT_TRUE(pluginSeen.waitForConnected());
    }
    void TearDown() override {
        receiver.reset();
        plugin.reset();
    }
    // Delivery begins once the event loop has run after construction.
    void startReceiver() {
        receiver = std::make_unique<RecordingReceiver>(id);
        QCoreApplication::sendPostedEvents();
    }

    void send(const char* typeName, std::initializer_list<FieldValue> values) {
        send(typeName, std::vector<FieldValue>(values));
    }
    void send(const char* typeName, const std::vector<FieldValue>& values) {
        const messages::MessageLayout* layout = messages::findLayout(typeName, true);
        ASSERT_NE(layout, nullptr) << typeName;
        const std::string_view payload = builder.build(*layout, values.data(), values.size());
        ASSERT_TRUE(builder.ok()) << typeName;
        plugin->sendMessage(typeName, payload.data(), static_cast<long>(payload.size()));
    }
    void sendBytes(const char* typeName, const Bytes& bytes) {
        plugin->sendMessage(typeName, bytes.data(), static_cast<long>(bytes.size()));
    }
    void sendText(const char* typeName, const std::string& raw) {
        plugin->sendMessage(typeName, raw.data(), static_cast<long>(raw.size()));
    }

    const qint32 id = test::uniqueQueueId(5);
    test::ChannelCleanup cleanup{id};
    test::RecordingObserver pluginSeen;
    std::unique_ptr<MessageChannel> plugin;
    std::unique_ptr<RecordingReceiver> receiver;
    PayloadBuilder builder;
};

TEST_F(ReceiverTest, HandlersGetTheirFieldsInTheirOwnOrder) {
    startReceiver();
    const float transform[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    send(type::kAddInstance,
         {FieldValue::str("41"), FieldValue::str("Model"), FieldValue::str("def7"),
          FieldValue::str("label"), FieldValue::str("pass"), FieldValue::f32Array(transform, 16),
          FieldValue::str("note")});
    send(type::kAddLayer,
         {FieldValue::str("L1"), FieldValue::u8(true), FieldValue::i32(7), FieldValue::u8(false)});
    send(type::kAddLayer,
         {FieldValue::str("L2"), FieldValue::u8(false), FieldValue::i32(0), FieldValue::u8(true)});
    send(type::kSetVisible,
         {FieldValue::str("12"), FieldValue::str("shown label"), FieldValue::u8(true)});
    send(type::kAddGroup,
         {FieldValue::str("g"), FieldValue::str("p"), FieldValue::str("r"), FieldValue::str("t"),
          FieldValue::f32Array(transform, 16), FieldValue::str("n")});
    send(type::kAddComponentDef,
         {FieldValue::str("d"), FieldValue::str("x"), FieldValue::u8(true), FieldValue::str("y")});
    send(type::kAddMaterial, {FieldValue::str("m"), FieldValue::str("Brick"), FieldValue::str("t"),
                              FieldValue::i32(-3), FieldValue::f32(0.5f), FieldValue::str("e")});
    send(type::kRemoveEntity, {FieldValue::str("5"), FieldValue::str("Model"),
                               FieldValue::u8(false), FieldValue::u8(true)});
    send(type::kDictionaryMessage, {FieldValue::str("App"), FieldValue::str("obrSetViewPort"),
                                    FieldValue::str("Data"), FieldValue::str("1;2")});
    send(type::kSetCamera,
         {FieldValue::f32(1), FieldValue::f32(2), FieldValue::f32(3), FieldValue::f32(4),
          FieldValue::f32(5), FieldValue::f32(6), FieldValue::f32(7), FieldValue::f32(8),
          FieldValue::f32(9), FieldValue::u8(true), FieldValue::u8(false), FieldValue::f32(10.5f),
          FieldValue::f32(11), FieldValue::f32(12), FieldValue::f32(13),
          FieldValue::str("Scene 2")});
    send(type::kSetState, {FieldValue::u8(false), FieldValue::u8(true), FieldValue::u8(false),
                           FieldValue::u8(false), FieldValue::u8(true), FieldValue::u8(false),
                           FieldValue::u8(false), FieldValue::u8(true), FieldValue::i64(-2)});
    send(type::kSetLanguage, {FieldValue::str("de")});
    send(type::kExport, {FieldValue::str("/out/a.png")});
    sendText(type::kRedraw, "redra");
    sendText(type::kSave, "SAVE");
    send(type::kRemoveMeshes, {FieldValue::str("9")});

    ASSERT_TRUE(receiver->waitForCalls(16));
    EXPECT_EQ(receiver->texts(),
              (std::vector<std::string>{
                  "instance(41,Model,label,def7,pass,[1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16],"
                  "note)",
                  "layer(L1,1,0,1)",
                  "layer(L2,0,1,0)",
                  "visible(12,shown label,1)",
                  "group(g,p,r,t,[1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16],n)",
                  "comp(d,x,1,y)",
                  "material(m,Brick,t,-3,0.5,e)",
                  "remEntity(5,Model,0,1)",
                  "dict(App,obrSetViewPort,Data,1;2)",
                  "camera(1,2,3,4,5,6,7,8,9,1,0,10.5,11,12,13,Scene 2)",
                  "setState(01001001,-2)",
                  "lang(de)",
                  "export(/out/a.png)",
                  "redraw()",
                  "save()",
                  "remMeshes(9)",
              }));
}

TEST_F(ReceiverTest, SunLightAndSectionPlanesAreReadAtTheirWireOffsets) {
    startReceiver();
    // "setSunLight", 36 bytes: p1, p2, p3, p6, p7, p8, p9, p4, p5.
    const Bytes sun = Wire()
                          .i32(1)     // p1
                          .f32(2.5f)  // p2
                          .f32(3.5f)  // p3
                          .i32(6)     // p6
                          .f32(7.5f)  // p7
                          .f32(8.5f)  // p8
                          .f32(9.5f)  // p9
                          .f32(4.5f)  // p4
                          .f32(5.5f)  // p5
                          .bytes();
    ASSERT_EQ(sun.size(), 36u);
    sendBytes(type::kSetSunLight, sun);
    // "setCutP", 56 bytes.
    const Bytes plane = Wire()
                            .i32(3)  // plane number
                            .i32(1)  // active
                            .u64(3)  // first vector
                            .f32(0.25f)
                            .f32(-1)
                            .f32(2)
                            .u64(3)  // second vector
                            .f32(4)
                            .f32(5)
                            .f32(-6)
                            .i32(0)          // caps off
                            .i32(-16711936)  // caps value 0xFF00FF00
                            .bytes();
    ASSERT_EQ(plane.size(), 56u);
    sendBytes(type::kSetSectionPlane, plane);
    // Active and caps count only as exactly 1.
    const Bytes planeTwo = Wire()
                               .i32(4)
                               .i32(2)
                               .u64(3)
                               .f32(1)
                               .f32(1)
                               .f32(1)
                               .u64(3)
                               .f32(2)
                               .f32(2)
                               .f32(2)
                               .i32(1)
                               .i32(7)
                               .bytes();
    sendBytes(type::kSetSectionPlane, planeTwo);
    sendBytes(type::kRemoveSectionPlane, Wire().i32(9).bytes());

    ASSERT_TRUE(receiver->waitForCalls(4));
    EXPECT_EQ(receiver->texts(), (std::vector<std::string>{
                                     "sun(1,2.5,3.5,4.5,5.5,6,7.5,8.5,9.5)",
                                     "plane(3,0.25,-1,2,4,5,-6,1,0,-16711936)",
                                     "plane(4,1,1,1,2,2,2,0,1,7)",
                                     "plane(9,0,0,0,0,0,0,0,0,0)",
                                 }));
}

TEST_F(ReceiverTest, MeshArraysArriveAlignedAndEmptyOnesAsNull) {
    startReceiver();
    const float positions[6] = {0, 1, 2, 3, 4, 5};
    const float normals[6] = {0, 0, 1, 0, 0, -1};
    const float front[4] = {0.5f, 0.25f, 1, 0};
    const float back[4] = {1, 1, 0, 0};
    const bool flags[2] = {true, false};
    const std::int32_t indices[3] = {0, 1, 1};
    // Odd string lengths leave the arrays unaligned in the payload.
    send(type::kAddMesh, {FieldValue::str("1_a"), FieldValue::str("1"), FieldValue::str("lbl"),
                          FieldValue::f32Array(positions, 6), FieldValue::f32Array(normals, 6),
                          FieldValue::f32Array(front, 4), FieldValue::f32Array(back, 4),
                          FieldValue::u8Array(flags, 2), FieldValue::i32Array(indices, 3),
                          FieldValue::i32(3), FieldValue::str("f[m1]"), FieldValue::str("r[m2]")});
    ASSERT_TRUE(receiver->waitForCalls(1));
    EXPECT_TRUE(receiver->arraysAligned());
    send(type::kAddMesh, {FieldValue::str("2_b"), FieldValue::str("2"), FieldValue::str(""),
                          FieldValue::f32Array(nullptr, 0), FieldValue::f32Array(nullptr, 0),
                          FieldValue::f32Array(nullptr, 0), FieldValue::f32Array(nullptr, 0),
                          FieldValue::u8Array(nullptr, 0), FieldValue::i32Array(nullptr, 0),
                          FieldValue::i32(0), FieldValue::str(""), FieldValue::str("")});
    ASSERT_TRUE(receiver->waitForCalls(2));
    EXPECT_EQ(receiver->texts(),
              (std::vector<std::string>{
                  "mesh(1_a,1,lbl,[0 1 2 3 4 5],[0 0 1 0 0 -1],[0.5 0.25 1 0],[1 1 0 0],[1 0],"
                  "[0 1 1],3,2,f[m1],r[m2])",
                  "mesh(2_b,2,,null,null,null,null,null,null,0,0,,)",
              }));
}

// A mesh whose arrays hold distinct bit patterns (some of them no ordinary floats), and their bytes
// in the order the handler's arrays list them.
struct PatternMesh {
    explicit PatternMesh(int v, std::uint32_t seed) : vertices(v) {
        const auto fill = [&](std::vector<float>& values, std::size_t count) {
            values.resize(count);
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint32_t bits = (seed + static_cast<std::uint32_t>(i)) * 2654435761u;
                std::memcpy(&values[i], &bits, 4);
            }
        };
        const auto n = static_cast<std::size_t>(v);
        fill(positions, 3 * n);
        fill(normals, 3 * n);
        fill(front, 2 * n);
        fill(back, 2 * n);
        flags.reset(new bool[n]);
        for (std::size_t i = 0; i < n; ++i)
            flags[i] = (i + seed) % 3 == 0;
        for (int t = 0; t + 2 < v; ++t)
            indices.insert(indices.end(), {t, t + 1, t + 2});
    }
    std::string bytes() const {
        std::string out;
        const auto add = [&](const void* values, std::size_t count) {
            out.append(static_cast<const char*>(values), count);
        };
        const auto n = static_cast<std::size_t>(vertices);
        add(positions.data(), 12 * n);
        add(normals.data(), 12 * n);
        add(front.data(), 8 * n);
        add(back.data(), 8 * n);
        add(flags.get(), n);
        add(indices.data(), 4 * indices.size());
        return out;
    }
    // Its "addMesh" fields; `meshId` must live until they are encoded.
    std::vector<FieldValue> fields(const std::string& meshId) const {
        const auto v = static_cast<std::uint64_t>(vertices);
        return {FieldValue::str(meshId),
                FieldValue::str("e"),
                FieldValue::str(""),
                FieldValue::f32Array(positions.data(), 3 * v),
                FieldValue::f32Array(normals.data(), 3 * v),
                FieldValue::f32Array(front.data(), 2 * v),
                FieldValue::f32Array(back.data(), 2 * v),
                FieldValue::u8Array(flags.get(), v),
                FieldValue::i32Array(indices.data(), indices.size()),
                FieldValue::i32(static_cast<std::int32_t>(indices.size())),
                FieldValue::str(""),
                FieldValue::str("")};
    }
    int vertices;
    std::vector<float> positions, normals, front, back;
    std::unique_ptr<bool[]> flags;
    std::vector<std::int32_t> indices;
};

TEST_F(ReceiverTest, MeshArraysAreHandedOverInPlaceWhereverTheTextsPutThem) {
    startReceiver();
    // The ids' lengths put the first array at every offset modulo 4 in the payload. Placed by
    // the reader, the float arrays are in place in every case; the indices follow one flag byte
    // per vertex, so they are in place when the vertex count is a multiple of 4, and aligned
    // copies otherwise.
    std::vector<std::string> sent;
    std::vector<bool> indicesInPlace;
    for (int vertices : {8, 7}) {
        for (const std::string meshId : {"a", "ab", "abc", "abcd"}) {
            const PatternMesh mesh(vertices, static_cast<std::uint32_t>(sent.size() + 1));
            send(type::kAddMesh, mesh.fields(meshId));
            sent.push_back(mesh.bytes());
            indicesInPlace.push_back(vertices % 4 == 0);
        }
    }
    ASSERT_TRUE(receiver->waitForCalls(sent.size()));
    const std::vector<RecordingReceiver::MeshSeen> seen = receiver->meshesSeen();
    ASSERT_EQ(seen.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(seen[i].bytes == sent[i]) << "the arrays differ from those sent";
        EXPECT_TRUE(seen[i].floatsInPlace);
        EXPECT_EQ(seen[i].indicesInPlace, indicesInPlace[i]);
    }
    EXPECT_TRUE(receiver->arraysAligned());
}

TEST_F(ReceiverTest, AMeshWhoseCountsDisagreeIsDropped) {
    startReceiver();
    const float three[3] = {1, 2, 3};
    const float two[2] = {1, 2};
    const bool flag[1] = {true};
    const std::int32_t indices[3] = {0, 0, 0};
    // Field 10 claims four indices where the array holds three.
    send(type::kAddMesh, {FieldValue::str("m"), FieldValue::str("e"), FieldValue::str("l"),
                          FieldValue::f32Array(three, 3), FieldValue::f32Array(three, 3),
                          FieldValue::f32Array(two, 2), FieldValue::f32Array(two, 2),
                          FieldValue::u8Array(flag, 1), FieldValue::i32Array(indices, 3),
                          FieldValue::i32(4), FieldValue::str(""), FieldValue::str("")});
    send(type::kSetLanguage, {FieldValue::str("next")});
    ASSERT_TRUE(receiver->waitForCalls(1));
    ASSERT_TRUE(receiver->waitForMessages(2));
    EXPECT_EQ(receiver->texts(), (std::vector<std::string>{"lang(next)"}));
}

// Payloads that fit their layouts but whose fields do not agree with each other: each is dropped
// without a handler call, the refusal is logged, and the next message still arrives.
TEST_F(ReceiverTest, MessagesWhoseFieldsDisagreeAreDroppedAndLogged) {
    const float floats[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const bool flags[2] = {true, false};
    const std::int32_t indices[3] = {0, 1, 0};
    struct Case {
        const char* what;
        const char* type;
        std::vector<FieldValue> values;
    };
    const auto mesh = [&](std::uint64_t positions, std::uint64_t normals, std::uint64_t uvs,
                          std::uint64_t vertexFlags, std::int32_t indexCount) {
        return std::vector<FieldValue>{FieldValue::str("m"),
                                       FieldValue::str("e"),
                                       FieldValue::str("l"),
                                       FieldValue::f32Array(floats, positions),
                                       FieldValue::f32Array(floats, normals),
                                       FieldValue::f32Array(floats, uvs),
                                       FieldValue::f32Array(floats, uvs),
                                       FieldValue::u8Array(flags, vertexFlags),
                                       FieldValue::i32Array(indices, 3),
                                       FieldValue::i32(indexCount),
                                       FieldValue::str(""),
                                       FieldValue::str("")};
    };
    const auto placement = [&](const char* type, std::uint64_t count) {
        std::vector<FieldValue> values{FieldValue::str("g"), FieldValue::str("p"),
                                       FieldValue::str("l"), FieldValue::str("t")};
        if (std::strcmp(type, type::kAddInstance) == 0)
            values.push_back(FieldValue::str("d"));
        values.push_back(FieldValue::f32Array(floats, count));
        values.push_back(FieldValue::str("n"));
        return values;
    };
    const auto plane = [&](std::uint64_t first, std::uint64_t second) {
        return std::vector<FieldValue>{FieldValue::i32(1),
                                       FieldValue::i32(1),
                                       FieldValue::f32Array(floats, first),
                                       FieldValue::f32Array(floats, second),
                                       FieldValue::i32(0),
                                       FieldValue::i32(0)};
    };
    const Case cases[] = {
        {"positions not a multiple of 3", type::kAddMesh, mesh(5, 5, 2, 1, 3)},
        {"fewer normals than positions", type::kAddMesh, mesh(6, 3, 4, 2, 3)},
        {"more UVs than vertices", type::kAddMesh, mesh(6, 6, 6, 2, 3)},
        {"a flag short", type::kAddMesh, mesh(6, 6, 4, 1, 3)},
        {"negative index count", type::kAddMesh, mesh(6, 6, 4, 2, -3)},
        {"index count above the indices", type::kAddMesh, mesh(6, 6, 4, 2, 4)},
        {"group transform of 15", type::kAddGroup, placement(type::kAddGroup, 15)},
        {"instance transform of 3", type::kAddInstance, placement(type::kAddInstance, 3)},
        {"first vector of 2", type::kSetSectionPlane, plane(2, 3)},
        {"second vector empty", type::kSetSectionPlane, plane(3, 0)},
    };
    const test::CapturedLog log;
    startReceiver();
    std::size_t sent = 0;
    for (const Case& c : cases) {
        send(c.type, c.values);
        send(type::kSetLanguage, {FieldValue::str(c.what)});
        sent += 2;
        ASSERT_TRUE(receiver->waitForMessages(sent)) << c.what;
    }
    std::vector<std::string> expected;
    for (const Case& c : cases)
        expected.push_back(std::string("lang(") + c.what + ")");
    EXPECT_EQ(receiver->texts(), expected);
    const QStringList refusals =
        log.linesWith(QStringLiteral("refused: a message from the plug-in whose fields do not "
                                     "agree with each other"));
    ASSERT_EQ(refusals.size(), 1);  // the first of a thousand
    EXPECT_TRUE(refusals[0].endsWith(QStringLiteral("(1 refused so far)")));
}

TEST_F(ReceiverTest, ATruncatedPayloadIsDroppedAndTheNextMessageStillArrives) {
    const test::CapturedLog log;
    startReceiver();
    // "addLayer" is 14 bytes plus its name; one byte short.
    const Bytes layer = Wire().str("L1").u8(1).i32(5).u8(0).bytes();
    ASSERT_EQ(layer.size(), 16u);
    sendBytes(type::kAddLayer, Bytes(layer.begin(), layer.end() - 1));
    // A string whose length runs past the payload.
    sendBytes(type::kSetLanguage, Wire().u64(1000).u8('d').bytes());
    sendBytes(type::kAddLayer, layer);
    ASSERT_TRUE(receiver->waitForCalls(1));
    ASSERT_TRUE(receiver->waitForMessages(3));
    EXPECT_EQ(receiver->texts(), (std::vector<std::string>{"layer(L1,1,0,1)"}));
    // Two refusals, one line: the first of a thousand.
    const QStringList refusals =
        log.linesWith(QStringLiteral("refused: a message from the plug-in"));
    ASSERT_EQ(refusals.size(), 1);
    EXPECT_TRUE(refusals[0].endsWith(QStringLiteral("(1 refused so far)")));
}

TEST_F(ReceiverTest, TheLongAliasesAreAccepted) {
    startReceiver();
    sendText("clearSession", "");
    send("removeEntity",
         {FieldValue::str("3"), FieldValue::str("4"), FieldValue::u8(true), FieldValue::u8(false)});
    send("removeMeshes", {FieldValue::str("8")});
    // The channel keeps 12 characters of a type: "addComponent".
    send("addComponentDef",
         {FieldValue::str("d"), FieldValue::str("t"), FieldValue::u8(false), FieldValue::str("n")});
    sendText(type::kClearSession, "");
    ASSERT_TRUE(receiver->waitForCalls(5));
    EXPECT_EQ(receiver->texts(),
              (std::vector<std::string>{"clear()", "remEntity(3,4,1,0)", "remMeshes(8)",
                                        "comp(d,t,0,n)", "clear()"}));
}

TEST_F(ReceiverTest, UnknownAndPlugInBoundTypesAreIgnored) {
    startReceiver();
    send(type::kEchoResult, {FieldValue::str("x")});
    sendText("clearSes", "");
    sendText("lang", "");
    send(type::kMaterialMaps,
         {FieldValue::str("m"), FieldValue::wstr(L"a"), FieldValue::wstr(L"b"),
          FieldValue::wstr(L"c"), FieldValue::wstr(L"d"), FieldValue::wstr(L"e"),
          FieldValue::wstr(L"f"), FieldValue::wstr(L"g")});
    sendText(type::kInit, "");
    send(type::kSetLanguage, {FieldValue::str("last")});
    ASSERT_TRUE(receiver->waitForMessages(6));
    EXPECT_EQ(receiver->texts(), (std::vector<std::string>{"lang(last)"}));
}

TEST_F(ReceiverTest, ACommittedTransactionReplaysInArrivalOrderBeforeLaterMessages) {
    startReceiver();
    sendText(type::kBeginTransaction, std::string("EnumeratingScene\0tail", 21));
    send(type::kAddLayer,
         {FieldValue::str("L"), FieldValue::u8(true), FieldValue::i32(1), FieldValue::u8(true)});
    send(type::kSetLanguage, {FieldValue::str("a")});
    send(type::kRemoveMeshes, {FieldValue::str("7")});
    ASSERT_TRUE(receiver->waitForMessages(4));
    EXPECT_EQ(receiver->pendingMessagesCount(), 3);
    EXPECT_EQ(receiver->texts(), (std::vector<std::string>{"begin(EnumeratingScene)"}));

    // Does not nest: ignored, and what follows waits for the first end.
    sendText(type::kBeginTransaction, "Inner");
    send(type::kSetLanguage, {FieldValue::str("b")});
    ASSERT_TRUE(receiver->waitForMessages(6));
    EXPECT_EQ(receiver->pendingMessagesCount(), 4);
    EXPECT_EQ(receiver->calls().size(), 1u);

    sendText(type::kEndTransaction, "");
    send(type::kSetLanguage, {FieldValue::str("later")});
    ASSERT_TRUE(receiver->waitForCalls(7));
    EXPECT_EQ(receiver->texts(),
              (std::vector<std::string>{"begin(EnumeratingScene)", "end(commit)", "layer(L,1,1,1)",
                                        "lang(a)", "remMeshes(7)", "lang(b)", "lang(later)"}));
    EXPECT_EQ(receiver->pendingMessagesCount(), 0);
}

TEST_F(ReceiverTest, ATransactionReplaysThousandsOfMessagesFromTheBytesTheChannelDelivered) {
    startReceiver();
    constexpr int kMessages = 3000;
    sendText(type::kBeginTransaction, "EnumeratingScene");
    std::vector<std::string> meshes;
    std::vector<std::string> expected = {"begin(EnumeratingScene)", "end(commit)"};
    for (int i = 0; i < kMessages; ++i) {
        if (i % 3 == 0) {
            const std::string language = "lang" + std::to_string(i);
            send(type::kSetLanguage, {FieldValue::str(language)});
            expected.push_back("lang(" + language + ")");
            continue;
        }
        const PatternMesh mesh(3 + i % 5, static_cast<std::uint32_t>(i));
        const std::string meshId = "m" + std::to_string(i);
        send(type::kAddMesh, mesh.fields(meshId));
        meshes.push_back(mesh.bytes());
        expected.push_back("mesh(" + meshId);
    }
    ASSERT_TRUE(receiver->waitForMessages(kMessages + 1));
    EXPECT_EQ(receiver->pendingMessagesCount(), kMessages);
    sendText(type::kEndTransaction, "");
    ASSERT_TRUE(receiver->waitForCalls(expected.size()));

    // Every held message is replayed from the very bytes the channel handed over when it
    // arrived: the hold kept the channel's buffers, which later deliveries did not reuse.
    const std::vector<RecordingReceiver::Delivery> deliveries = receiver->deliveries();
    ASSERT_EQ(deliveries.size(), 2u * kMessages + 2);
    for (int i = 0; i < kMessages; ++i) {
        const RecordingReceiver::Delivery& held = deliveries[1 + i];
        const RecordingReceiver::Delivery& replayed = deliveries[kMessages + 2 + i];
        ASSERT_EQ(replayed.data, held.data) << "message " << i << " was copied";
        ASSERT_EQ(replayed.size, held.size) << "message " << i;
    }
    // In order and bit-identical.
    const std::vector<std::string> texts = receiver->texts();
    ASSERT_EQ(texts.size(), expected.size());
    for (std::size_t i = 0; i < texts.size(); ++i)
        ASSERT_EQ(texts[i].compare(0, expected[i].size(), expected[i]), 0)
            << texts[i] << " where " << expected[i] << " was due";
    const std::vector<RecordingReceiver::MeshSeen> seen = receiver->meshesSeen();
    ASSERT_EQ(seen.size(), meshes.size());
    for (std::size_t i = 0; i < seen.size(); ++i)
        ASSERT_TRUE(seen[i].bytes == meshes[i]) << "mesh " << i << " differs from what was sent";
    EXPECT_EQ(receiver->pendingMessagesCount(), 0);
}

TEST_F(ReceiverTest, AnAbortedTransactionDropsWhatItHeld) {
    startReceiver();
    sendText(type::kBeginTransaction, "T");
    send(type::kSetLanguage, {FieldValue::str("dropped")});
    sendText(type::kRedraw, "redra");
    ASSERT_TRUE(receiver->waitForMessages(3));
    EXPECT_EQ(receiver->pendingMessagesCount(), 2);
    sendText(type::kEndTransaction, "ABORT");
    send(type::kSetLanguage, {FieldValue::str("after")});
    ASSERT_TRUE(receiver->waitForCalls(3));
    ASSERT_TRUE(receiver->waitForMessages(5));
    EXPECT_EQ(receiver->texts(),
              (std::vector<std::string>{"begin(T)", "end(abort)", "lang(after)"}));
    EXPECT_EQ(receiver->pendingMessagesCount(), 0);
}

TEST_F(ReceiverTest, OnlyTheExactTextAbortAborts) {
    startReceiver();
    int expectedCalls = 0;
    for (const std::string& end : {std::string("abort"), std::string("ABORTED"),
                                   std::string("ABORT\0", 6), std::string("")}) {
        sendText(type::kBeginTransaction, "T");
        send(type::kSetLanguage, {FieldValue::str("kept")});
        sendText(type::kEndTransaction, end);
        expectedCalls += 3;
        ASSERT_TRUE(receiver->waitForCalls(static_cast<std::size_t>(expectedCalls)));
        EXPECT_EQ(receiver->texts().back(), "lang(kept)") << "end payload " << end;
    }
    // Without an open transaction the end replays nothing.
    sendText(type::kEndTransaction, "");
    ASSERT_TRUE(receiver->waitForCalls(static_cast<std::size_t>(expectedCalls + 1)));
    EXPECT_EQ(receiver->texts().back(), "end(commit)");
    EXPECT_EQ(receiver->pendingMessagesCount(), 0);
}

TEST_F(ReceiverTest, StateIsAnsweredWithSixteenBytes) {
    startReceiver();
    const bool flags[8] = {false, true, false, true, true, false, false, true};
    receiver->setState(flags, 0x0102030405060708LL);
    sendText(type::kState, "STATE");
    ASSERT_TRUE(pluginSeen.waitForMessages(1));
    const auto replies = pluginSeen.messages();
    EXPECT_EQ(replies[0].type, "STATE");
    const Bytes expected{0, 1, 0, 1, 1, 0, 0, 1, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(Bytes(replies[0].data.begin(), replies[0].data.end()), expected);

    const bool other[8] = {true, false, true, false, false, true, true, false};
    receiver->setState(other, -2);
    sendText(type::kState, "STATE");
    ASSERT_TRUE(pluginSeen.waitForMessages(2));
    const Bytes expectedOther{1,    0,    1,    0,    0,    1,    1,    0,
                              0xfe, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    const auto second = pluginSeen.messages()[1];
    EXPECT_EQ(second.type, "STATE");
    EXPECT_EQ(Bytes(second.data.begin(), second.data.end()), expectedOther);
}

TEST_F(ReceiverTest, EchoIsAnsweredWithTheSameText) {
    startReceiver();
    const Bytes abc{3, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'};
    sendBytes(type::kEcho, abc);
    ASSERT_TRUE(pluginSeen.waitForMessages(1));
    const auto replies = pluginSeen.messages();
    EXPECT_EQ(replies[0].type, "echores");
    EXPECT_EQ(Bytes(replies[0].data.begin(), replies[0].data.end()), abc);
    EXPECT_TRUE(receiver->calls().empty());
}

TEST_F(ReceiverTest, NotificationsAndMaterialMapsReachThePlugIn) {
    startReceiver();
    receiver->notifyRenderStarted();
    receiver->notifyRenderSessionSaved();
    receiver->sendMaterialMaps("Mat", L"a", L"b", L"c", L"d", L"e", L"f", nullptr);
    receiver->notifyRenderExit();
    ASSERT_TRUE(pluginSeen.waitForMessages(4));
    const auto seen = pluginSeen.messages();
    // The asynchronous "MATMAPS" may come after the synchronous "EXIT".
    std::vector<std::string> syncTypes;
    const test::ReceivedMessage* maps = nullptr;
    for (const auto& message : seen) {
        if (message.type == "MATMAPS") {
            maps = &message;
        } else {
            syncTypes.push_back(message.type);
            EXPECT_TRUE(message.data.empty()) << message.type;
        }
    }
    EXPECT_EQ(syncTypes, (std::vector<std::string>{"INIT", "SAVED", "EXIT"}));
    ASSERT_NE(maps, nullptr);
    const Bytes expected{3, 0, 0, 0, 0, 0, 0, 0, 'M', 'a', 't',  // "Mat"
                         2, 0, 0, 0, 0, 0, 0, 0, 'a', 0,         // L"a"
                         2, 0, 0, 0, 0, 0, 0, 0, 'b', 0,         // L"b"
                         2, 0, 0, 0, 0, 0, 0, 0, 'c', 0,         // L"c"
                         2, 0, 0, 0, 0, 0, 0, 0, 'd', 0,         // L"d"
                         2, 0, 0, 0, 0, 0, 0, 0, 'e', 0,         // L"e"
                         2, 0, 0, 0, 0, 0, 0, 0, 'f', 0,         // L"f"
                         0, 0, 0, 0, 0, 0, 0, 0};                // null: empty
    EXPECT_EQ(Bytes(maps->data.begin(), maps->data.end()), expected);
}

TEST_F(ReceiverTest, HostRequestsReachThePlugInWithTheirTexts) {
    startReceiver();
    receiver->requestEntityContent("1234");
    receiver->requestEntityAttributes("Camera", nullptr);
    receiver->requestTextureExport("W", "/t");
    receiver->requestSetEntityAttribute("ExecuteAction", "Go", "", "v");
    ASSERT_TRUE(pluginSeen.waitForMessages(4));
    // Asynchronous sends: each arrives whole, in any order.
    std::map<std::string, Bytes> byType;
    for (const auto& message : pluginSeen.messages())
        byType[message.type] = Bytes(message.data.begin(), message.data.end());
    const std::map<std::string, Bytes> expected = {
        {"enumEnt", {4, 0, 0, 0, 0, 0, 0, 0, '1', '2', '3', '4'}},
        {"enumEAT", {6, 0, 0, 0, 0, 0, 0, 0, 'C', 'a', 'm', 'e', 'r', 'a',  // "Camera"
                     0, 0, 0, 0, 0, 0, 0, 0}},                              // null: empty
        {"expTx", {1, 0, 0, 0, 0, 0, 0, 0, 'W', 2, 0, 0, 0, 0, 0, 0, 0, '/', 't'}},
        {"setEnt", {13,  0,   0,   0,   0,   0, 0, 0, 'E', 'x', 'e', 'c', 'u', 't', 'e', 'A',
                    'c', 't', 'i', 'o', 'n', 2, 0, 0, 0,   0,   0,   0,   0,   'G', 'o',  //
                    0,   0,   0,   0,   0,   0, 0, 0,                                     //
                    1,   0,   0,   0,   0,   0, 0, 0, 'v'}},
    };
    EXPECT_EQ(byType, expected);
}

TEST_F(ReceiverTest, MaterialMapsRunOnAnotherThreadAndFinishBeforeTheNextMessage) {
    startReceiver();
    // If the reader did not wait for the maps, the next message would be handled inside this
    // window.
    receiver->holdMapsFor(1000);
    send(type::kMapsGenerate,
         {FieldValue::i32(1), FieldValue::i32(2), FieldValue::i32(3), FieldValue::i32(4),
          FieldValue::f32(0.75f), FieldValue::i32(5), FieldValue::i32(6), FieldValue::str("Wood")});
    send(type::kSetLanguage, {FieldValue::str("fr")});
    ASSERT_TRUE(receiver->waitForCalls(3));
    const auto calls = receiver->calls();
    EXPECT_EQ(calls[0].text, "maps(Wood,1,2,3,4,0.75,5,6) begin");
    EXPECT_EQ(calls[1].text, "maps(Wood,1,2,3,4,0.75,5,6) end");
    EXPECT_EQ(calls[2].text, "lang(fr)");
    EXPECT_EQ(calls[0].thread, calls[1].thread);
    EXPECT_NE(calls[0].thread, calls[2].thread);  // not the reader thread
    EXPECT_NE(calls[0].thread, std::this_thread::get_id());
}

TEST_F(ReceiverTest, ExitIsHeldByATransactionLikeAnyCommand) {
    startReceiver();
    sendText(type::kBeginTransaction, "T");
    sendText(type::kExit, "EXIT");
    ASSERT_TRUE(receiver->waitForMessages(2));
    EXPECT_EQ(receiver->pendingMessagesCount(), 1);
    EXPECT_TRUE(receiver->exitRequests().empty());
    sendText(type::kEndTransaction, "");
    ASSERT_TRUE(receiver->waitForMessages(4));  // the end and the replayed "EXIT"
    EXPECT_EQ(receiver->exitRequests().size(), 1u);
}

TEST_F(ReceiverTest, MessagesWrittenBeforeConstructionReachTheCompleteObject) {
    sendText(type::kBeginTransaction, "Early");
    send(type::kSetLanguage, {FieldValue::str("early")});
    sendText(type::kEndTransaction, "");
    receiver = std::make_unique<RecordingReceiver>(id);
    EXPECT_TRUE(receiver->calls().empty());
    QCoreApplication::sendPostedEvents();
    ASSERT_TRUE(receiver->waitForCalls(3));
    EXPECT_EQ(receiver->texts(),
              (std::vector<std::string>{"begin(Early)", "end(commit)", "lang(early)"}));
}

TEST_F(ReceiverTest, TheSessionPathIsKept) {
    startReceiver();
    EXPECT_EQ(std::wstring(receiver->sessionPath()), L"/tmp/session folder");
}

// The starter of the render window is the peer program; the test kills it.
class ReceiverParentWatchTest : public ReceiverTest {
protected:
    void SetUp() override {
        ReceiverTest::SetUp();
        peer = std::make_unique<test::PeerProcess>(QStringList{"wait-event", eventName});
        ASSERT_TRUE(peer->started());
        ASSERT_EQ(peer->readLine(), "waiting");
        qputenv(kStarterPidVariable, QByteArray::number(peer->pid()));
    }
    void TearDown() override {
        ReceiverTest::TearDown();
        qunsetenv(kStarterPidVariable);
        peer.reset();
        platform::NamedEvent::remove(eventName.toStdString());
    }

    const QString eventName =
        "rcv" + QString::number(platform::currentProcessId()) + "_" + QString::number(id);
    std::unique_ptr<test::PeerProcess> peer;
};

TEST_F(ReceiverParentWatchTest, AGoneStarterAsksForExitAtEveryTick) {
    startReceiver();
    peer->kill();
    const Clock::time_point killed = Clock::now();
    ASSERT_TRUE(receiver->runUntilExitRequests(2, 15000));
    const auto requests = receiver->exitRequests();
    using std::chrono::milliseconds;
    EXPECT_LE(requests[0] - killed, milliseconds(5000 + 1500));
    EXPECT_GE(requests[1] - requests[0], milliseconds(4000));
    EXPECT_LE(requests[1] - requests[0], milliseconds(5000 + 1500));
}

TEST_F(ReceiverParentWatchTest, ALiveStarterIsLeftAlone) {
    startReceiver();
    const Clock::time_point started = Clock::now();
    // One tick passes with the starter alive.
    EXPECT_FALSE(receiver->runUntilExitRequests(1, 5000 + 1000));
    EXPECT_TRUE(receiver->exitRequests().empty());
    // The watch was ticking all along: the end is seen at the next tick.
    peer->kill();
    const Clock::time_point killed = Clock::now();
    ASSERT_TRUE(receiver->runUntilExitRequests(1, 15000));
    const auto requests = receiver->exitRequests();
    EXPECT_LE(requests[0] - killed, std::chrono::milliseconds(5000 + 1500));
    EXPECT_GE(requests[0] - started, std::chrono::milliseconds(2 * 5000 - 1000));
}

}  // namespace
