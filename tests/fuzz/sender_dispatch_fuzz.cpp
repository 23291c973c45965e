// Hostile messages from the render window for the plug-in's sender: its decoding and its dispatch
// to the host callbacks and its state.
//
// A sender (its render window never started) and a render-window side channel attached to it live
// for the whole run; the host callbacks read every text they get, to its NUL, and do nothing else.
// Each message goes through the channel, as a render window sends it; after an input, an "echo"
// is sent and its "echores" awaited on the render-window side, so that the sender has handled
// everything before the next input.
//
// Input: a series of messages, each a byte that picks its type (the render window's messages to
// the plug-in, the plug-in's own and unknown names), a 16-bit little-endian payload length and the
// payload. 255 as the first message of an input picks "INIT", which costs the sender a pause of
// 100 ms: it is sent for the first such input of a run only, and left out after that, so that the
// pauses do not eat the run. Each input starts with the render window counted as running.
#include <QByteArray>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "XelInterProcessMessagesManager.h"
#include "XelRemoteRenderSender.h"
#include "render_link/channel/message_channel.h"
#include "render_link/launch_environment.h"
#include "render_link/messages/message_catalogue.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/channel_test_support.h"

namespace {

namespace type = xel::messages::type;

constexpr char kTarget[] = "sender dispatch";
constexpr std::size_t kSegmentBytes = 64u << 10;
constexpr int kPatienceMs = 60000;
constexpr std::uint8_t kInitChoice = 255;

// Every choice but a first kInitChoice.
const char* const kTypes[] = {
    type::kExit,
    type::kSaved,
    type::kState,
    type::kMaterialMaps,
    type::kSetEntityAttribute,
    type::kEnumEntityContent,
    type::kEnumEntityAttributes,
    type::kExportTexture,
    type::kEcho,
    type::kEchoResult,
    type::kMapsGenerate,
    type::kAddMesh,
    type::kSetState,
    type::kBeginTransaction,
    "",
    "INITX",
    "stat",
    "setEntity123",
    "enumEAT2",
    "MATMAP",
};

void text(const char* value) {
    static volatile std::size_t sink;
    sink = sink + std::strlen(value);
}

void wideText(const wchar_t* value) {
    static volatile std::size_t sink;
    sink = sink + std::wcslen(value);
}

void onSetEntityAttribute(const char* first, const char* second, const char* third,
                          const char* fourth) {
    for (const char* value : {first, second, third, fourth})
        text(value);
}
void onEnumEntityContent(const char* entityId) {
    text(entityId);
}
void onTwoTexts(const char* first, const char* second) {
    text(first);
    text(second);
}
void onDestroyPointer(void*) {}
void onMaterialMaps(const char* materialName, bool, const wchar_t* map1, const wchar_t* map2,
                    const wchar_t* map3, const wchar_t* map4, const wchar_t* map5,
                    const wchar_t* map6, const wchar_t* map7) {
    text(materialName);
    for (const wchar_t* map : {map1, map2, map3, map4, map5, map6, map7})
        wideText(map);
}

class FuzzedSender final : public XelRemoteRenderSender {
public:
    explicit FuzzedSender(long queueId)
        : XelRemoteRenderSender(L"", onSetEntityAttribute, onEnumEntityContent, onTwoTexts,
                                onTwoTexts, onDestroyPointer, queueId) {}
    ~FuzzedSender() override { stopSending(); }
    void countRenderWindowRunning() { onRenderInit(); }
};

// The render window's side: waits for the sender's answers to its echoes.
class RenderWindowSide : public XelInterProcessMessagesObserver {
public:
    void onMessage(const char* typeName, const void* data, long size) override {
        if (std::strcmp(typeName, type::kEchoResult) != 0)
            return;
        const xel::messages::MessageLayout* layout = xel::messages::findLayout(type::kEchoResult);
        xel::messages::DecodedMessage decoded;
        if (!decoded.decode(*layout, data, static_cast<std::size_t>(size)))
            return;
        std::lock_guard<std::mutex> guard(m_mutex);
        m_answers.emplace_back(decoded.str(0));
        m_changed.notify_all();
    }
    void onChannelConnected() override {}
    void onChannelDisconnected() override {}
    void onError(int, const char*) override {}

    // Waits until `token` has been answered, and forgets every answer up to it.
    void awaitAnswer(const std::string& token) {
        std::unique_lock<std::mutex> lock(m_mutex);
        const bool answered = m_changed.wait_for(lock, std::chrono::milliseconds(kPatienceMs), [&] {
            for (const std::string& answer : m_answers) {
                if (answer == token)
                    return true;
            }
            return false;
        });
        if (!answered)
            xel::fuzz::fail(kTarget, "the sender did not answer an echo");
        m_answers.clear();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_answers;
};

class SenderHarness {
public:
    SenderHarness() {
        qputenv(xel::kSegmentBytesVariable, QByteArray::number(qulonglong(kSegmentBytes)));
        m_sender = std::make_unique<FuzzedSender>(m_id);
        // Only stored while the render window is not running: "MATMAPS" reaches it.
        m_sender->generateMaterialMaps("", 0, 0, 0, 0, 0, {}, {}, onMaterialMaps);
        xel::ChannelOptions options;
        options.segmentBytes = kSegmentBytes;
        m_renderWindow = std::make_unique<xel::MessageChannel>(&m_seen, m_id, options);
        if (m_renderWindow->isCreator())
            xel::fuzz::fail(kTarget, "the render window's side did not attach");
        m_renderWindow->run();
    }

    void run(xel::fuzz::InputReader& input) {
        m_sender->countRenderWindowRunning();
        for (bool first = true; !input.empty(); first = false) {
            const std::uint8_t choice = input.byte();
            const std::string_view payload = input.bytes(input.u16());
            const char* typeName = kTypes[choice % (sizeof kTypes / sizeof kTypes[0])];
            if (first && choice == kInitChoice) {
                if (m_initSent)
                    continue;
                m_initSent = true;
                typeName = type::kInit;
            }
            m_renderWindow->sendMessage(typeName, payload.data(),
                                        static_cast<long>(payload.size()));
        }
        const std::string token = "fuzz sync " + std::to_string(m_syncs++);
        const std::string_view echo =
            m_builder.build(*xel::messages::findLayout(type::kEcho),
                            {xel::messages::FieldValue::str(std::string_view(token))});
        m_renderWindow->sendMessage(type::kEcho, echo.data(), static_cast<long>(echo.size()));
        m_seen.awaitAnswer(token);
    }

private:
    const qint32 m_id = xel::test::uniqueQueueId();
    xel::test::ChannelCleanup m_cleanup{m_id};
    RenderWindowSide m_seen;
    std::unique_ptr<FuzzedSender> m_sender;  // creates the segments
    std::unique_ptr<xel::MessageChannel> m_renderWindow;
    xel::messages::PayloadBuilder m_builder;
    std::uint64_t m_syncs = 0;
    bool m_initSent = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static SenderHarness harness;
    xel::fuzz::InputReader input(data, size);
    harness.run(input);
    return 0;
}
