// Hostile messages for the render window's receiver: its transactions, its decoding and its
// dispatch to the handlers.
//
// A receiver whose handlers read everything their contract promises (every text to its NUL,
// every array to the length it is given) and do nothing else is attached, for the whole run, to a
// creating channel of the same queue id, whose reader takes the receiver's answers. The receiver's
// onMessage() is called straight from the fuzzer's thread, as the channel's reader would call it.
//
// Input: a series of messages, each a byte that picks its type (every message of the catalogue,
// the render window's long names, and names nobody knows), a byte for where its payload begins
// against a 16-byte boundary, a 16-bit little-endian payload length and the payload, in memory of
// its own. A transaction an input leaves open is aborted after it, so that every input starts
// from the same state.
#include <QByteArray>
#include <QCoreApplication>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "XelInterProcessMessagesManager.h"
#include "XelRemoteRenderReceiver.h"
#include "platform/process.h"
#include "render_link/channel/message_channel.h"
#include "render_link/launch_environment.h"
#include "render_link/messages/message_catalogue.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/ignoring_observer.h"
#include "tests/support/channel_test_support.h"

namespace {

constexpr std::size_t kSegmentBytes = 64u << 10;

std::vector<std::string> typeNames() {
    std::vector<std::string> names;
    for (const xel::messages::MessageLayout* layout : xel::messages::allLayouts())
        names.emplace_back(layout->type);
    // The render window's long names, whole and as the 12 characters a channel type field keeps.
    for (const char* name :
         {"addComponentDef", "addComponent", "removeEntity", "removeMeshes", "clearSession"})
        names.emplace_back(name);
    for (const char* name : {"", "addMes", "addMeshX", "BEGINTRANS", "endtran", "ENDTRANS",
                             "echoresult", "state", "remEntityXYZ", "removeEntit"})
        names.emplace_back(name);
    return names;
}

// Folds bytes into a value nobody reads, so that reading them is not optimised away.
std::atomic<std::uint64_t> g_sink{0};

void absorb(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint64_t h = g_sink.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < size; ++i)
        h = (h ^ bytes[i]) * 0x100000001b3ull;
    g_sink.store(h, std::memory_order_relaxed);
}

void text(const char* value) {
    absorb(value, std::strlen(value) + 1);
}

void floats(const float* values, std::size_t count) {
    if (count)
        absorb(values, count * sizeof(float));
}

class ReadingReceiver final : public XelRemoteRenderReceiver {
public:
    explicit ReadingReceiver(long queueId) : XelRemoteRenderReceiver(L"", queueId) {}
    ~ReadingReceiver() override { stopReceiving(); }

protected:
    void onGenerateMaterialMaps(const char* materialName, int, int, int, int, float, int,
                                int) override {
        text(materialName);
    }
    void onSetCamera(float, float, float, float, float, float, float, float, float, bool, bool,
                     float, float, float, float, const char* sceneName) override {
        text(sceneName);
    }
    void onSetSunLight(int, float, float, float, float, int, float, float, float) override {}
    void onRemoveEntity(const char* entityId, const char* parentId, bool, bool) override {
        text(entityId);
        text(parentId);
    }
    void onRemoveEntityMeshes(const char* entityId) override { text(entityId); }
    void onClearSession() override {}
    void onAddMesh(const char* meshId, const char* entityId, const char* meshLabel,
                   const float* positions, const float* normals, const float* frontUVs,
                   const float* backUVs, const bool* vertexFlags, const int* indices,
                   int indexCount, int vertexCount, const char* frontMaterial,
                   const char* backMaterial) override {
        text(meshId);
        text(entityId);
        text(meshLabel);
        const auto v = static_cast<std::size_t>(vertexCount);
        floats(positions, 3 * v);
        floats(normals, 3 * v);
        floats(frontUVs, 2 * v);
        floats(backUVs, 2 * v);
        if (v)
            absorb(vertexFlags, v);
        if (indexCount)
            absorb(indices, static_cast<std::size_t>(indexCount) * sizeof(int));
        text(frontMaterial);
        text(backMaterial);
    }
    void onAddGroup(const char* groupId, const char* parentId, const char* recordLabel,
                    const char* passText, const float* transform, const char* recordNote) override {
        text(groupId);
        text(parentId);
        text(recordLabel);
        text(passText);
        floats(transform, 16);
        text(recordNote);
    }
    void onAddInstance(const char* instanceId, const char* parentId, const char* recordLabel,
                       const char* definitionId, const char* passText, const float* transform,
                       const char* recordNote) override {
        text(instanceId);
        text(parentId);
        text(recordLabel);
        text(definitionId);
        text(passText);
        floats(transform, 16);
        text(recordNote);
    }
    void onAddComponentDef(const char* definitionId, const char* defText, bool,
                           const char* defNote) override {
        text(definitionId);
        text(defText);
        text(defNote);
    }
    void onAddMaterial(const char* materialId, const char* materialName, const char* detailText,
                       int, float, const char* extraText) override {
        text(materialId);
        text(materialName);
        text(detailText);
        text(extraText);
    }
    void onAddLayer(const char* layerId, bool, bool, bool) override { text(layerId); }
    void onDictionaryMessage(const char* owner, const char* dictionary, const char* key,
                             const char* value) override {
        text(owner);
        text(dictionary);
        text(key);
        text(value);
    }
    void onExitRequested() override {}
    void onGetState(bool& reserved, bool&, bool&, bool& renderWindowVisible, bool&, bool&, bool&,
                    bool&, long long& renderWindowParent) override {
        reserved = true;
        renderWindowVisible = true;
        renderWindowParent = 0x1234;
    }
    void onSetState(bool, bool, bool, bool, bool, bool, bool, bool, long long) override {}
    void onSaveRequested() override {}
    void onSetEntityVisible(const char* entityId, const char* recordLabel, bool) override {
        text(entityId);
        text(recordLabel);
    }
    void onSetSectionPlane(int, float, float, float, float, float, float, bool, bool,
                           int) override {}
    void onSetLanguage(const char* language) override { text(language); }
    void onRedraw() override {}
    void onExportScene(const char* path) override { text(path); }
};

class ReceiverHarness {
public:
    ReceiverHarness() {
        // The receiver's segments and its starter: this process, which outlives it.
        qputenv(xel::kSegmentBytesVariable, QByteArray::number(qulonglong(kSegmentBytes)));
        qputenv(xel::kStarterPidVariable,
                QByteArray::number(qlonglong(xel::platform::currentProcessId())));
        xel::ChannelOptions options;
        options.segmentBytes = kSegmentBytes;
        m_plugin = std::make_unique<xel::MessageChannel>(&m_ignored, m_id, options);
        if (!m_plugin->isCreator())
            xel::fuzz::fail("receiver dispatch", "the plug-in side's channel did not form");
        m_plugin->run();
        m_receiver = std::make_unique<ReadingReceiver>(m_id);
        QCoreApplication::processEvents();  // lets the channel through to the receiver
    }

    void run(xel::fuzz::InputReader& input) {
        while (!input.empty()) {
            const std::string& type = m_types[input.byte() % m_types.size()];
            const unsigned shift = input.byte();
            const xel::fuzz::PayloadCopy payload(input.bytes(input.u16()), shift);
            m_receiver->onMessage(type.c_str(), payload.data(), static_cast<long>(payload.size()));
        }
        m_receiver->onMessage(xel::messages::type::kEndTransaction, xel::messages::kAbortText,
                              sizeof xel::messages::kAbortText - 1);
        if (m_receiver->pendingMessagesCount() != 0)
            xel::fuzz::fail("receiver dispatch", "an aborted transaction still holds messages");
    }

private:
    int m_argc = 1;
    char m_name[32] = "fuzz_receiver_dispatch";
    char* m_argv[2] = {m_name, nullptr};
    QCoreApplication m_application{m_argc, m_argv};
    const qint32 m_id = xel::test::uniqueQueueId();
    xel::test::ChannelCleanup m_cleanup{m_id};
    const std::vector<std::string> m_types = typeNames();
    xel::fuzz::IgnoringObserver m_ignored;
    std::unique_ptr<xel::MessageChannel> m_plugin;  // creates the segments
    std::unique_ptr<ReadingReceiver> m_receiver;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ReceiverHarness harness;
    xel::fuzz::InputReader input(data, size);
    harness.run(input);
    return 0;
}
