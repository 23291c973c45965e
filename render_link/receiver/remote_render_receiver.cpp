#include "XelRemoteRenderReceiver.h"

#include <QTimer>
#include <QtGlobal>

#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"
#include "platform/process_watch.h"
#include "render_link/channel/message_channel.h"
#include "render_link/launch_environment.h"
#include "render_link/messages/message_catalogue.h"
#include "render_link/refusal_count.h"

using xel::messages::DecodedMessage;
using xel::messages::FieldValue;
using xel::messages::MessageLayout;
using xel::messages::PayloadBuilder;
namespace type = xel::messages::type;

namespace {

constexpr int kParentCheckIntervalMs = 5000;

// A message held back by an open transaction: its type and its payload, kept where the channel
// delivered it (the hold shares the channel's buffer), or copied when it came from elsewhere.
struct SavedMessage {
    char type[xel::kTypeBytes + 4] = {};
    std::shared_ptr<const char> held;
    std::vector<char> copy;
    std::size_t size = 0;

    const char* data() const { return held ? held.get() : copy.data(); }
};

// Never null, so that an empty payload is still handed over at a valid address.
const char kNoBytes[1] = {};

const MessageLayout& layoutOf(const char* name) {
    const MessageLayout* layout = xel::messages::findLayout(name);
    Q_ASSERT(layout);
    return *layout;
}

std::string_view typeText(const char* type) {
    return std::string_view(type, ::strnlen(type, xel::kTypeBytes));
}

// The channel's placement of payloads: the arrays of a message land aligned, so that the decoder
// hands them over in place.
std::size_t placeArrays(const char* type, const void* payload, std::size_t size) {
    const MessageLayout* layout = xel::messages::findLayout(typeText(type), true);
    return layout ? xel::messages::firstArrayOffset(*layout, payload, size) : 0;
}

// The process whose end asks the render window to exit: the starter named in the environment,
// else the parent. 0 when there is none.
std::int64_t starterProcessId() {
    bool ok = false;
    const qint64 pid = qEnvironmentVariable(xel::kStarterPidVariable).trimmed().toLongLong(&ok);
    if (ok && pid > 0)
        return pid;
    return xel::platform::parentProcessId();
}

// Stands between the channel and the receiver. The reader starts inside the receiver's
// constructor, before a derived class is complete; the relay holds it back until the constructing
// thread's event loop has run once (by then the whole object is constructed), and lets nothing
// more through once the receiver stops.
class ChannelRelay final : public XelInterProcessMessagesObserver {
public:
    explicit ChannelRelay(XelRemoteRenderReceiver* owner) : m_owner(owner) {}

    void open() { set(State::Open); }
    void close() { set(State::Closed); }

    void onMessage(const char* type, const void* data, long size) override {
        if (pass())
            m_owner->onMessage(type, data, size);
    }
    void onChannelConnected() override {
        if (pass())
            m_owner->onChannelConnected();
    }
    // On the thread that stops the receiver, which is no longer open to the reader.
    void onChannelDisconnected() override { m_owner->onChannelDisconnected(); }
    void onError(int code, const char* text) override {
        if (pass())
            m_owner->onError(code, text);
    }

private:
    enum class State { Waiting, Open, Closed };

    bool pass() {
        if (m_open.load(std::memory_order_acquire))
            return true;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_state != State::Waiting; });
        return m_state == State::Open;
    }
    void set(State state) {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            if (m_state == State::Waiting || state == State::Closed)
                m_state = state;
            m_open.store(m_state == State::Open, std::memory_order_release);
        }
        m_changed.notify_all();
    }

    XelRemoteRenderReceiver* const m_owner;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    State m_state = State::Waiting;  // under m_mutex
    std::atomic<bool> m_open{false};
};

}  // namespace

struct XelRemoteRenderReceiver::Private {
    explicit Private(XelRemoteRenderReceiver* owner) : relay(owner) {}

    std::wstring sessionPath;

    // Guards the transaction state and the held messages.
    std::mutex transactionLock;
    std::string transactionName;
    std::atomic<bool> inTransaction{false};
    std::vector<std::shared_ptr<SavedMessage>> savedMessages;
    std::atomic<int> savedCount{0};  // savedMessages.size(), readable without the lock

    // Reader thread only: the replies built from handlers' answers.
    PayloadBuilder replyBuilder;

    std::int64_t parentProcessId = 0;
    std::unique_ptr<xel::platform::ProcessWatch> parentWatch;
    QTimer parentCheckTimer;

    // The channel's observer; outlives the channel.
    ChannelRelay relay;
    // Null once stopReceiving() has run.
    std::unique_ptr<xel::MessageChannel> channel;

    // Any thread: the requests to the plug-in, built under their own lock.
    std::mutex requestLock;
    PayloadBuilder requestBuilder;  // under requestLock

    bool channelRunning() const;
    // Encodes one request and writes it asynchronously. Any thread.
    void sendRequest(const char* typeName, std::initializer_list<FieldValue> values);
};

XelRemoteRenderReceiver::XelRemoteRenderReceiver(const wchar_t* sessionPath, long queueId)
    : d(std::make_unique<Private>(this)) {
    xel::ChannelOptions options;
    options.segmentBytes = xel::segmentBytesFromEnvironment(xel::kSegmentBytesVariable);
    options.stallLimitMs = xel::stallLimitFromEnvironment(xel::kStallLimitVariable);
    options.placement = placeArrays;
    d->channel = std::make_unique<xel::MessageChannel>(&d->relay, queueId, options);
    d->sessionPath = sessionPath ? sessionPath : L"";

    d->parentProcessId = starterProcessId();
    if (d->parentProcessId != 0)
        d->parentWatch = std::make_unique<xel::platform::ProcessWatch>(d->parentProcessId);
    d->parentCheckTimer.setInterval(kParentCheckIntervalMs);
    d->parentCheckTimer.setSingleShot(false);
    QObject::connect(&d->parentCheckTimer, &QTimer::timeout, &d->parentCheckTimer,
                     [this] { checkParentProcessOrExit(); });
    d->parentCheckTimer.start();

    // Queued behind the rest of construction, derived constructors included.
    ChannelRelay* relay = &d->relay;
    QMetaObject::invokeMethod(
        &d->parentCheckTimer, [relay] { relay->open(); }, Qt::QueuedConnection);
    d->channel->run();
}

XelRemoteRenderReceiver::~XelRemoteRenderReceiver() {
    stopReceiving();
}

void XelRemoteRenderReceiver::stopReceiving() {
    d->parentCheckTimer.stop();
    d->relay.close();
    if (!d->channel)
        return;
    // The pointer stays set until the reader is joined: the reader uses it up to its last message.
    d->channel->close();
    d->channel.reset();
}

bool XelRemoteRenderReceiver::Private::channelRunning() const {
    return channel && channel->isRunning();
}

void XelRemoteRenderReceiver::Private::sendRequest(const char* typeName,
                                                   std::initializer_list<FieldValue> values) {
    std::lock_guard<std::mutex> guard(requestLock);
    const std::string_view payload = requestBuilder.build(layoutOf(typeName), values);
    if (channel && requestBuilder.ok())
        channel->sendMessageAsync(typeName, payload.data(), payload.size());
}

void XelRemoteRenderReceiver::onChannelConnected() {}

void XelRemoteRenderReceiver::onChannelDisconnected() {}

void XelRemoteRenderReceiver::onError(int, const char*) {}

void XelRemoteRenderReceiver::notifyRenderStarted() {
    if (d->channel)
        d->channel->sendMessage(type::kInit, kNoBytes, 0);
}

void XelRemoteRenderReceiver::notifyRenderExit() {
    if (d->channel)
        d->channel->sendMessage(type::kExit, kNoBytes, 0);
}

void XelRemoteRenderReceiver::notifyRenderSessionSaved() {
    if (d->channel)
        d->channel->sendMessage(type::kSaved, kNoBytes, 0);
}

void XelRemoteRenderReceiver::sendMaterialMaps(const char* materialName, const wchar_t* map1,
                                               const wchar_t* map2, const wchar_t* map3,
                                               const wchar_t* map4, const wchar_t* map5,
                                               const wchar_t* map6, const wchar_t* map7) {
    PayloadBuilder builder;  // callers may be on any thread
    const std::string_view payload =
        builder.build(layoutOf(type::kMaterialMaps),
                      {FieldValue::str(materialName), FieldValue::wstr(map1),
                       FieldValue::wstr(map2), FieldValue::wstr(map3), FieldValue::wstr(map4),
                       FieldValue::wstr(map5), FieldValue::wstr(map6), FieldValue::wstr(map7)});
    if (d->channel && builder.ok())
        d->channel->sendMessageAsync(type::kMaterialMaps, payload.data(), payload.size());
}

void XelRemoteRenderReceiver::requestEntityContent(const char* entityId) {
    d->sendRequest(type::kEnumEntityContent, {FieldValue::str(entityId)});
}

void XelRemoteRenderReceiver::requestEntityAttributes(const char* owner, const char* dictionary) {
    d->sendRequest(type::kEnumEntityAttributes,
                   {FieldValue::str(owner), FieldValue::str(dictionary)});
}

void XelRemoteRenderReceiver::requestTextureExport(const char* first, const char* second) {
    d->sendRequest(type::kExportTexture, {FieldValue::str(first), FieldValue::str(second)});
}

void XelRemoteRenderReceiver::requestSetEntityAttribute(const char* owner, const char* dictionary,
                                                        const char* key, const char* value) {
    d->sendRequest(type::kSetEntityAttribute, {FieldValue::str(owner), FieldValue::str(dictionary),
                                               FieldValue::str(key), FieldValue::str(value)});
}

int XelRemoteRenderReceiver::pendingMessagesCount() const {
    return d->savedCount.load();
}

const wchar_t* XelRemoteRenderReceiver::sessionPath() const {
    return d->sessionPath.c_str();
}

void XelRemoteRenderReceiver::onMessage(const char* type, const void* data, long size) {
    if (!type || size < 0 || (size > 0 && !data))
        return;
    const std::string_view name = typeText(type);
    if (name == type::kBeginTransaction) {
        if (d->inTransaction.load())
            return;  // transactions do not nest
        DecodedMessage decoded;
        if (decoded.decode(layoutOf(type::kBeginTransaction), data, static_cast<std::size_t>(size)))
            onBeginTransaction(decoded.str(0));
        return;
    }
    if (name == type::kEndTransaction) {
        constexpr std::size_t kAbortBytes = sizeof(xel::messages::kAbortText) - 1;
        onEndTransaction(static_cast<std::size_t>(size) == kAbortBytes &&
                         std::memcmp(data, xel::messages::kAbortText, kAbortBytes) == 0);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(d->transactionLock);
        if (d->inTransaction.load()) {
            auto saved = std::make_shared<SavedMessage>();
            std::memcpy(saved->type, name.data(), name.size());
            saved->size = static_cast<std::size_t>(size);
            if (d->channel)
                saved->held = d->channel->holdDelivery(data);
            if (!saved->held) {
                const char* bytes = static_cast<const char*>(data);
                saved->copy.assign(bytes, bytes + size);
            }
            d->savedMessages.push_back(std::move(saved));
            d->savedCount.store(static_cast<int>(d->savedMessages.size()));
            return;
        }
    }
    parseMessageContent(type, data, size);
}

void XelRemoteRenderReceiver::onBeginTransaction(const char* name) {
    if (!d->channelRunning())
        return;
    std::lock_guard<std::mutex> guard(d->transactionLock);
    d->transactionName = name ? name : "";
    d->inTransaction.store(true);
}

void XelRemoteRenderReceiver::onEndTransaction(bool abort) {
    if (!d->channelRunning())
        return;
    std::vector<std::shared_ptr<SavedMessage>> saved;
    {
        std::lock_guard<std::mutex> guard(d->transactionLock);
        d->transactionName.clear();
        d->inTransaction.store(false);
        saved.swap(d->savedMessages);
        d->savedCount.store(0);
    }
    if (abort)
        return;
    // Each message is let go once handled: its buffer goes when the last message in it did.
    for (auto& message : saved) {
        const char* bytes = message->size ? message->data() : kNoBytes;
        onMessage(message->type, bytes, static_cast<long>(message->size));
        message.reset();
    }
}

// Decodes straight from `data`, which outlives every handler call made here.
void XelRemoteRenderReceiver::parseMessageContent(const char* type, const void* data, long size) {
    if (!d->channelRunning())
        return;
    const MessageLayout* layout = xel::messages::findLayout(typeText(type), true);
    if (!layout)
        return;
    const std::string_view name = layout->type;

    // Messages whose handler reads nothing of the payload.
    if (name == type::kClearSession) {
        onClearSession();
        return;
    }
    if (name == type::kRedraw) {
        onRedraw();
        return;
    }
    if (name == type::kSave) {
        onSaveRequested();
        return;
    }
    if (name == type::kExit) {
        onExitRequested();
        return;
    }
    if (name == type::kState) {
        bool flags[8] = {};
        long long parent = 0;
        onGetState(flags[0], flags[1], flags[2], flags[3], flags[4], flags[5], flags[6], flags[7],
                   parent);
        const std::string_view reply = d->replyBuilder.build(
            layoutOf(type::kState),
            {FieldValue::u8(flags[0]), FieldValue::u8(flags[1]), FieldValue::u8(flags[2]),
             FieldValue::u8(flags[3]), FieldValue::u8(flags[4]), FieldValue::u8(flags[5]),
             FieldValue::u8(flags[6]), FieldValue::u8(flags[7]), FieldValue::i64(parent)});
        if (d->replyBuilder.ok())
            d->channel->sendMessageAsync(type::kState, reply.data(), reply.size());
        return;
    }

    DecodedMessage m;
    if (!m.decode(*layout, data, static_cast<std::size_t>(size))) {
        static xel::RefusalCount unfit;
        xel::warnRefused(unfit, "The render window's render link",
                         "a message from the plug-in whose fields do not fit its payload");
        return;
    }

    if (name == type::kAddMesh) {
        const std::uint64_t positionCount = m.count(3);
        const std::uint64_t v = positionCount / 3;
        const std::int32_t indexCount = m.i32(9);
        if (positionCount % 3 != 0 || v > static_cast<std::uint64_t>(INT_MAX) ||
            m.count(4) != 3 * v || m.count(5) != 2 * v || m.count(6) != 2 * v || m.count(7) != v ||
            indexCount < 0 || m.count(8) != static_cast<std::uint64_t>(indexCount))
            return;
        onAddMesh(m.str(0), m.str(1), m.str(2), m.floats(3), m.floats(4), m.floats(5), m.floats(6),
                  m.bools(7), m.ints(8), indexCount, static_cast<int>(v), m.str(10), m.str(11));
    } else if (name == type::kAddMaterial) {
        onAddMaterial(m.str(0), m.str(1), m.str(2), m.i32(3), m.f32(4), m.str(5));
    } else if (name == type::kAddGroup) {
        if (m.count(4) < 16)
            return;
        onAddGroup(m.str(0), m.str(1), m.str(2), m.str(3), m.floats(4), m.str(5));
    } else if (name == type::kAddInstance) {
        if (m.count(5) < 16)
            return;
        onAddInstance(m.str(0), m.str(1), m.str(3), m.str(2), m.str(4), m.floats(5), m.str(6));
    } else if (name == type::kAddComponentDef) {
        onAddComponentDef(m.str(0), m.str(1), m.flag(2), m.str(3));
    } else if (name == type::kAddLayer) {
        onAddLayer(m.str(0), m.flag(1), m.flag(3), m.i32(2) != 0);
    } else if (name == type::kRemoveEntity) {
        onRemoveEntity(m.str(0), m.str(1), m.flag(2), m.flag(3));
    } else if (name == type::kRemoveMeshes) {
        onRemoveEntityMeshes(m.str(0));
    } else if (name == type::kSetCamera) {
        onSetCamera(m.f32(0), m.f32(1), m.f32(2), m.f32(3), m.f32(4), m.f32(5), m.f32(6), m.f32(7),
                    m.f32(8), m.flag(9), m.flag(10), m.f32(11), m.f32(12), m.f32(13), m.f32(14),
                    m.str(15));
    } else if (name == type::kSetSunLight) {
        // Wire order: p1, p2, p3, p6, p7, p8, p9, p4, p5.
        onSetSunLight(m.i32(0), m.f32(1), m.f32(2), m.f32(7), m.f32(8), m.i32(3), m.f32(4),
                      m.f32(5), m.f32(6));
    } else if (name == type::kSetSectionPlane) {
        if (m.count(2) < 3 || m.count(3) < 3)
            return;
        const float* first = m.floats(2);
        const float* second = m.floats(3);
        onSetSectionPlane(m.i32(0), first[0], first[1], first[2], second[0], second[1], second[2],
                          m.i32(1) == 1, m.i32(4) == 1, m.i32(5));
    } else if (name == type::kRemoveSectionPlane) {
        onSetSectionPlane(m.i32(0), 0, 0, 0, 0, 0, 0, false, false, 0);
    } else if (name == type::kSetVisible) {
        onSetEntityVisible(m.str(0), m.str(1), m.flag(2));
    } else if (name == type::kDictionaryMessage) {
        onDictionaryMessage(m.str(0), m.str(1), m.str(2), m.str(3));
    } else if (name == type::kSetLanguage) {
        onSetLanguage(m.str(0));
    } else if (name == type::kExport) {
        onExportScene(m.str(0));
    } else if (name == type::kSetState) {
        onSetState(m.flag(0), m.flag(1), m.flag(2), m.flag(3), m.flag(4), m.flag(5), m.flag(6),
                   m.flag(7), m.i64(8));
    } else if (name == type::kMapsGenerate) {
        // On a thread of its own; the reader reads nothing more until the maps are done.
        std::async(std::launch::async, [this, &m] {
            onGenerateMaterialMaps(m.str(7), m.i32(0), m.i32(1), m.i32(2), m.i32(3), m.f32(4),
                                   m.i32(5), m.i32(6));
        }).get();
    } else if (name == type::kEcho) {
        const std::string_view reply =
            d->replyBuilder.build(layoutOf(type::kEchoResult), {FieldValue::str(m.str(0))});
        if (d->replyBuilder.ok())
            d->channel->sendMessageAsync(type::kEchoResult, reply.data(), reply.size());
    }
    // "echores", "MATMAPS" and the messages meant for the plug-in: read and dropped.
}

void XelRemoteRenderReceiver::checkParentProcessOrExit() {
    if (d->parentProcessId == 0 || !d->parentWatch || d->parentWatch->hasEnded())
        onExitRequested();
}
