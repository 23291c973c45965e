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
using xel::messages::layoutOf;
using xel::messages::MessageLayout;
using xel::messages::PayloadBuilder;
namespace field = xel::messages::field;
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

    // How the reader thread handles one message type. A handler that reads the payload gets it
    // decoded by the type's layout, and returns false, calling no handler of the receiver, when
    // its fields do not agree with each other; one that does not gets an empty message.
    using Handler = bool (*)(XelRemoteRenderReceiver& receiver, const DecodedMessage& message);
    struct Route {
        const MessageLayout* layout;
        bool readsPayload;
        Handler handler;
    };
    // The route of `layout`, or null for a message the render window reads and drops.
    static const Route* routeOf(const MessageLayout& layout);
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
            onBeginTransaction(decoded.str(field::Transaction::kText));
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

const XelRemoteRenderReceiver::Private::Route* XelRemoteRenderReceiver::Private::routeOf(
    const MessageLayout& layout) {
    using R = XelRemoteRenderReceiver;
    using M = DecodedMessage;
    constexpr bool kReads = true;
    constexpr bool kIgnores = false;
    static const Route routes[] = {
        // Messages whose handler reads nothing of the payload.
        {&layoutOf(type::kClearSession), kIgnores,
         [](R& r, const M&) {
             r.onClearSession();
             return true;
         }},
        {&layoutOf(type::kRedraw), kIgnores,
         [](R& r, const M&) {
             r.onRedraw();
             return true;
         }},
        {&layoutOf(type::kSave), kIgnores,
         [](R& r, const M&) {
             r.onSaveRequested();
             return true;
         }},
        {&layoutOf(type::kExit), kIgnores,
         [](R& r, const M&) {
             r.onExitRequested();
             return true;
         }},
        {&layoutOf(type::kState), kIgnores,
         [](R& r, const M&) {
             bool flags[8] = {};
             long long parent = 0;
             r.onGetState(flags[0], flags[1], flags[2], flags[3], flags[4], flags[5], flags[6],
                          flags[7], parent);
             const std::string_view reply = r.d->replyBuilder.build(
                 layoutOf(type::kState),
                 {FieldValue::u8(flags[0]), FieldValue::u8(flags[1]), FieldValue::u8(flags[2]),
                  FieldValue::u8(flags[3]), FieldValue::u8(flags[4]), FieldValue::u8(flags[5]),
                  FieldValue::u8(flags[6]), FieldValue::u8(flags[7]), FieldValue::i64(parent)});
             if (r.d->replyBuilder.ok())
                 r.d->channel->sendMessageAsync(type::kState, reply.data(), reply.size());
             return true;
         }},

        {&layoutOf(type::kAddMesh), kReads,
         [](R& r, const M& m) {
             using F = field::AddMesh;
             const std::uint64_t positionCount = m.count(F::kPositions);
             const std::uint64_t v = positionCount / 3;
             const std::int32_t indexCount = m.i32(F::kIndexCount);
             if (positionCount % 3 != 0 || v > static_cast<std::uint64_t>(INT_MAX) ||
                 m.count(F::kNormals) != 3 * v || m.count(F::kFrontUvs) != 2 * v ||
                 m.count(F::kBackUvs) != 2 * v || m.count(F::kVertexFlags) != v || indexCount < 0 ||
                 m.count(F::kIndices) != static_cast<std::uint64_t>(indexCount))
                 return false;
             r.onAddMesh(m.str(F::kMeshId), m.str(F::kEntityId), m.str(F::kMeshLabel),
                         m.floats(F::kPositions), m.floats(F::kNormals), m.floats(F::kFrontUvs),
                         m.floats(F::kBackUvs), m.bools(F::kVertexFlags), m.ints(F::kIndices),
                         indexCount, static_cast<int>(v), m.str(F::kFrontMaterial),
                         m.str(F::kBackMaterial));
             return true;
         }},
        {&layoutOf(type::kAddMaterial), kReads,
         [](R& r, const M& m) {
             using F = field::AddMaterial;
             r.onAddMaterial(m.str(F::kMaterialId), m.str(F::kMaterialName), m.str(F::kDetailText),
                             m.i32(F::kIntValue), m.f32(F::kFloatValue), m.str(F::kExtraText));
             return true;
         }},
        {&layoutOf(type::kAddGroup), kReads,
         [](R& r, const M& m) {
             using F = field::AddGroup;
             if (m.count(F::kTransform) < 16)
                 return false;
             r.onAddGroup(m.str(F::kGroupId), m.str(F::kParentId), m.str(F::kRecordLabel),
                          m.str(F::kPassText), m.floats(F::kTransform), m.str(F::kRecordNote));
             return true;
         }},
        {&layoutOf(type::kAddInstance), kReads,
         [](R& r, const M& m) {
             using F = field::AddInstance;
             if (m.count(F::kTransform) < 16)
                 return false;
             // The handler takes the label before the definition, the wire the other way round.
             r.onAddInstance(m.str(F::kInstanceId), m.str(F::kParentId), m.str(F::kRecordLabel),
                             m.str(F::kDefinitionId), m.str(F::kPassText), m.floats(F::kTransform),
                             m.str(F::kRecordNote));
             return true;
         }},
        {&layoutOf(type::kAddComponentDef), kReads,
         [](R& r, const M& m) {
             using F = field::AddComponentDef;
             r.onAddComponentDef(m.str(F::kDefinitionId), m.str(F::kDefText), m.flag(F::kDefFlag),
                                 m.str(F::kDefNote));
             return true;
         }},
        {&layoutOf(type::kAddLayer), kReads,
         [](R& r, const M& m) {
             using F = field::AddLayer;
             r.onAddLayer(m.str(F::kLayerId), m.flag(F::kLayerFlag), m.flag(F::kDefaultLayer),
                          m.i32(F::kLayerValue) != 0);
             return true;
         }},
        {&layoutOf(type::kRemoveEntity), kReads,
         [](R& r, const M& m) {
             using F = field::RemoveEntity;
             r.onRemoveEntity(m.str(F::kEntityId), m.str(F::kParentId), m.flag(F::kContentTable),
                              m.flag(F::kForUpdate));
             return true;
         }},
        {&layoutOf(type::kRemoveMeshes), kReads,
         [](R& r, const M& m) {
             r.onRemoveEntityMeshes(m.str(field::RemoveMeshes::kEntityId));
             return true;
         }},
        {&layoutOf(type::kSetCamera), kReads,
         [](R& r, const M& m) {
             using F = field::SetCamera;
             r.onSetCamera(
                 m.f32(F::kValue1), m.f32(F::kValue2), m.f32(F::kValue3), m.f32(F::kValue4),
                 m.f32(F::kValue5), m.f32(F::kValue6), m.f32(F::kValue7), m.f32(F::kValue8),
                 m.f32(F::kValue9), m.flag(F::kFlag1), m.flag(F::kFlag2), m.f32(F::kValue10),
                 m.f32(F::kValue11), m.f32(F::kValue12), m.f32(F::kValue13), m.str(F::kSceneName));
             return true;
         }},
        {&layoutOf(type::kSetSunLight), kReads,
         [](R& r, const M& m) {
             using F = field::SetSunLight;
             r.onSetSunLight(m.i32(F::kP1), m.f32(F::kP2), m.f32(F::kP3), m.f32(F::kP4),
                             m.f32(F::kP5), m.i32(F::kP6), m.f32(F::kP7), m.f32(F::kP8),
                             m.f32(F::kP9));
             return true;
         }},
        {&layoutOf(type::kSetSectionPlane), kReads,
         [](R& r, const M& m) {
             using F = field::SetSectionPlane;
             if (m.count(F::kFirstVector) < 3 || m.count(F::kSecondVector) < 3)
                 return false;
             const float* first = m.floats(F::kFirstVector);
             const float* second = m.floats(F::kSecondVector);
             r.onSetSectionPlane(m.i32(F::kPlaneNumber), first[0], first[1], first[2], second[0],
                                 second[1], second[2], m.i32(F::kActive) == 1,
                                 m.i32(F::kCapsOn) == 1, m.i32(F::kCapsValue));
             return true;
         }},
        {&layoutOf(type::kRemoveSectionPlane), kReads,
         [](R& r, const M& m) {
             r.onSetSectionPlane(m.i32(field::RemoveSectionPlane::kPlaneNumber), 0, 0, 0, 0, 0, 0,
                                 false, false, 0);
             return true;
         }},
        {&layoutOf(type::kSetVisible), kReads,
         [](R& r, const M& m) {
             using F = field::SetVisible;
             r.onSetEntityVisible(m.str(F::kEntityId), m.str(F::kRecordLabel), m.flag(F::kVisible));
             return true;
         }},
        {&layoutOf(type::kDictionaryMessage), kReads,
         [](R& r, const M& m) {
             using F = field::DictionaryMessage;
             r.onDictionaryMessage(m.str(F::kOwner), m.str(F::kDictionary), m.str(F::kKey),
                                   m.str(F::kValue));
             return true;
         }},
        {&layoutOf(type::kSetLanguage), kReads,
         [](R& r, const M& m) {
             r.onSetLanguage(m.str(field::SetLanguage::kLanguage));
             return true;
         }},
        {&layoutOf(type::kExport), kReads,
         [](R& r, const M& m) {
             r.onExportScene(m.str(field::Export::kPath));
             return true;
         }},
        {&layoutOf(type::kSetState), kReads,
         [](R& r, const M& m) {
             using F = field::State;
             r.onSetState(m.flag(F::kReserved), m.flag(F::kLoadingModel), m.flag(F::kClosing),
                          m.flag(F::kWindowVisible), m.flag(F::kSettingsVisible),
                          m.flag(F::kMaterialsVisible), m.flag(F::kProductionDialog),
                          m.flag(F::kDocked), m.i64(F::kParent));
             return true;
         }},
        {&layoutOf(type::kMapsGenerate), kReads,
         [](R& r, const M& m) {
             using F = field::MapsGenerate;
             // On a thread of its own; the reader reads nothing more until the maps are done.
             std::async(std::launch::async, [&r, &m] {
                 r.onGenerateMaterialMaps(m.str(F::kMaterialName), m.i32(F::kM1), m.i32(F::kM2),
                                          m.i32(F::kM3), m.i32(F::kM4), m.f32(F::kMapValue),
                                          m.i32(F::kQuality), m.i32(F::kFormat));
             }).get();
             return true;
         }},
        {&layoutOf(type::kEcho), kReads,
         [](R& r, const M& m) {
             const std::string_view reply = xel::messages::buildEchoReply(r.d->replyBuilder, m);
             if (r.d->replyBuilder.ok())
                 r.d->channel->sendMessageAsync(type::kEchoResult, reply.data(), reply.size());
             return true;
         }},
        // "echores", "MATMAPS" and the messages meant for the plug-in have no route: they are
        // read and dropped.
    };
    for (const Route& route : routes) {
        if (route.layout == &layout)
            return &route;
    }
    return nullptr;
}

// Decodes straight from `data`, which outlives every handler call made here.
void XelRemoteRenderReceiver::parseMessageContent(const char* type, const void* data, long size) {
    if (!d->channelRunning())
        return;
    const MessageLayout* layout = xel::messages::findLayout(typeText(type), true);
    if (!layout)
        return;
    const Private::Route* route = Private::routeOf(*layout);
    DecodedMessage m;
    if (route && !route->readsPayload) {
        route->handler(*this, m);
        return;
    }
    if (!m.decode(*layout, data, static_cast<std::size_t>(size))) {
        static xel::RefusalCount unfit;
        xel::warnRefused(unfit, "The render window's render link",
                         "a message from the plug-in whose fields do not fit its payload");
        return;
    }
    if (route && !route->handler(*this, m)) {
        static xel::RefusalCount disagreeing;
        xel::warnRefused(disagreeing, "The render window's render link",
                         "a message from the plug-in whose fields do not agree with each other");
    }
}

void XelRemoteRenderReceiver::checkParentProcessOrExit() {
    if (d->parentProcessId == 0 || !d->parentWatch || d->parentWatch->hasEnded())
        onExitRequested();
}
