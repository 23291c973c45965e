#include "XelRemoteRenderSender.h"

#include <QString>
#include <QStringList>
#include <QtDebug>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/process.h"
#include "platform/process_watch.h"
#include "render_link/channel/message_channel.h"
#include "render_link/launch_environment.h"
#include "render_link/messages/message_catalogue.h"
#include "render_link/refusal_count.h"

namespace {

using xel::messages::DecodedMessage;
using xel::messages::FieldValue;
using xel::messages::layoutOf;
using xel::messages::MessageLayout;
using xel::messages::PayloadBuilder;
namespace field = xel::messages::field;
namespace type = xel::messages::type;

// The render state: eight one-byte flags in wire order and the parent window handle.
struct RenderState {
    bool flags[8] = {};
    long long parent = 0;

    // Indexed as the fields of "SETSTATE" and of the "STATE" reply.
    enum Flag : std::size_t {
        Reserved = field::State::kReserved,
        LoadingModel = field::State::kLoadingModel,
        Closing = field::State::kClosing,
        WindowVisible = field::State::kWindowVisible,
        SettingsVisible = field::State::kSettingsVisible,
        MaterialsVisible = field::State::kMaterialsVisible,
        ProductionDialog = field::State::kProductionDialog,
        Docked = field::State::kDocked
    };
};

constexpr std::size_t kStateBytes = 16;
// How long a started render window may take to announce itself before a restart replaces it.
constexpr int kAnnounceLimitMs = 30000;
// How long a state request waits for its answer before it no longer counts.
constexpr auto kStateReplyLimit = std::chrono::seconds(3);
// The echo sent to a render window counted as stalled: its answer tells that it runs again.
constexpr char kStallProbe[] = "stalled?";
constexpr auto kStallProbePeriod = std::chrono::milliseconds(500);
// How long the end of a render window waits for the messages it wrote before it ended to be
// delivered. They take microseconds; only a message it left unfinished waits this long.
constexpr int kLeftoverDeliveryMs = 2000;
// A large scene payload keeps its buffer for the next one up to this size.
constexpr std::size_t kRetainedPayloadBytes = 64u << 20;

}  // namespace

// The channel's observer. The reader starts inside the sender's constructor, while a derived class
// is still being built, so the channel must not call the sender's virtual functions: the relay
// hands messages to the sender's dispatch, a stalled render window to the sender, and the empty
// channel notifications to no one.
class SenderRelay final : public XelInterProcessMessagesObserver {
public:
    explicit SenderRelay(XelRemoteRenderSender* sender) : m_sender(sender) {}
    void onMessage(const char* type, const void* data, long size) override;
    void onChannelConnected() override {}
    void onChannelDisconnected() override {}
    // The channel logs undelivered messages itself; a stalled render window is also treated as
    // one that ended.
    void onError(int code, const char*) override {
        if (code == kPeerStalled)
            m_sender->renderStalled();
    }

private:
    XelRemoteRenderSender* const m_sender;
};

struct XelRemoteRenderSender::Private {
    explicit Private(XelRemoteRenderSender* sender) : relay(sender) {}

    SenderRelay relay;
    std::wstring sessionPath;
    SetEntityAttributeCallback setEntityAttribute;
    EnumEntityContentCallback enumEntityContent;
    EnumEntityAttributesCallback enumEntityAttributes;
    ExportTextureCallback exportTexture;
    DestroyPointerCallback destroyPointer;
    std::atomic<MaterialMapsCallback> materialMaps{nullptr};

    std::atomic<bool> renderRunning{false};
    // The render-window process last started has ended: a late "INIT" of it must not count.
    std::atomic<bool> renderGone{false};
    // It said "EXIT".
    std::atomic<bool> renderExited{false};
    // It took nothing for the stall limit: counted as ended until it is heard from again.
    std::atomic<bool> renderStalled{false};
    std::atomic<int> transactionDepth{0};
    std::atomic<bool> transactionAborted{false};  // an end inside the outermost transaction aborted
    mutable std::mutex stateMutex;
    RenderState state;  // under stateMutex
    // State requests sent whose replies have not come back, under stateMutex. The replies come in
    // the order of the requests; only the answer to the latest one may overwrite the mirror, since
    // an earlier one predates a change made here since.
    int stateRepliesDue = 0;
    // When the last of them was counted, under stateMutex: requests that long unanswered no
    // longer count (a render window that ignores one would otherwise have its answers discarded
    // for good).
    std::chrono::steady_clock::time_point stateRequestedAt;
    void countStateRequest() {
        ++stateRepliesDue;
        stateRequestedAt = std::chrono::steady_clock::now();
    }

    // Payloads built by the API calls, on any thread, one at a time.
    std::mutex builderMutex;
    PayloadBuilder builder;
    // Reader thread only: decoding of incoming messages and building of replies.
    DecodedMessage decoded;
    PayloadBuilder replyBuilder;

    // The state thread sends each state change, in the order made.
    std::mutex stateQueueMutex;
    std::condition_variable stateQueueChanged;
    std::deque<RenderState> stateQueue;
    bool stateThreadStop = false;
    std::thread stateThread;

    // The render-window process last started, watched for its end, and when it was started.
    std::mutex watchMutex;
    std::unique_ptr<xel::platform::ProcessWatch> watch;
    std::thread watchThread;
    // Set by stopWatch(): the watch thread stops waiting for what the ended process wrote.
    std::atomic<bool> watchCancelled{false};
    std::chrono::steady_clock::time_point startedAt;

    // The channel of the render window last started. Replaced by restartRender(), closed when
    // its render window ends and by stopSending(); a closed channel drops what it gets. Every
    // thread takes its own reference for each use, so a replaced channel lives until its last
    // use is over.
    xel::ChannelOptions channelOptions;
    mutable std::mutex channelMutex;
    std::shared_ptr<xel::MessageChannel> channel;  // under channelMutex
    bool stopped = false;                          // the owner's thread only

    std::shared_ptr<xel::MessageChannel> link() const {
        std::lock_guard<std::mutex> guard(channelMutex);
        return channel;
    }
    bool canSend() const { return renderRunning.load() && link()->isRunning(); }
    bool flag(RenderState::Flag which) const {
        std::lock_guard<std::mutex> guard(stateMutex);
        return state.flags[which];
    }

    // Sends one message the way the catalogue says it travels. A synchronous message is encoded
    // straight into the segment when it fits there whole, else built in the reused buffer first.
    void send(const char* name, std::initializer_list<FieldValue> values);
    void sendPlaceholder(const char* name) {
        const char* bytes = layoutOf(name).placeholder;
        link()->sendMessageAsync(name, bytes, std::strlen(bytes));
    }
    void requestState() {
        {
            std::lock_guard<std::mutex> guard(stateMutex);
            countStateRequest();
        }
        sendPlaceholder(type::kState);
    }

    void stateLoop();
    // Sends one state change as "SETSTATE", on the state thread.
    void sendState(const RenderState& state);
    // Sends what a render window counted as stalled answers once it runs again (the end of any
    // transaction it holds, aborted, then an echo), unless a probe is still on its way. Any thread.
    void probeStalledRender();
    void stopWatch();

    // How the reader thread handles one message type from the render window, decoded by its
    // layout.
    using Handler = void (*)(XelRemoteRenderSender& sender, const DecodedMessage& message);
    struct Route {
        const MessageLayout* layout;
        Handler handler;
    };
    // The route of `layout`, or null for a message the plug-in reads and drops.
    static const Route* routeOf(const MessageLayout& layout);
};

void XelRemoteRenderSender::Private::send(const char* name,
                                          std::initializer_list<FieldValue> values) {
    const MessageLayout& layout = layoutOf(name);
    if (layout.delivery == xel::messages::Delivery::Sync) {
        const std::optional<std::size_t> size =
            xel::messages::payloadSize(layout, values.begin(), values.size());
        if (!size)
            return;
        struct Encoding {
            const MessageLayout* layout;
            std::initializer_list<FieldValue> values;
        } encoding{&layout, values};
        const xel::PayloadFill fill{
            [](const void* context, char* out, std::uint64_t begin, std::uint64_t count) {
                const auto* e = static_cast<const Encoding*>(context);
                xel::messages::encodePayloadPiece(*e->layout, e->values.begin(), e->values.size(),
                                                  out, static_cast<std::size_t>(begin),
                                                  static_cast<std::size_t>(count));
            },
            &encoding};
        link()->sendMessageInPlace(name, *size, fill);
        return;
    }
    // Asynchronous messages are small; one the channel cannot write at once is queued as a copy.
    std::lock_guard<std::mutex> guard(builderMutex);
    const std::string_view payload = builder.build(layout, values);
    if (builder.ok())
        link()->sendMessageAsync(name, payload.data(), payload.size());
    builder.trim(kRetainedPayloadBytes);
}

void XelRemoteRenderSender::Private::stateLoop() {
    for (;;) {
        RenderState state;
        {
            std::unique_lock<std::mutex> lock(stateQueueMutex);
            const auto due = [this] { return stateThreadStop || !stateQueue.empty(); };
            // While the render window counts as stalled, it is probed now and then: a probe
            // written while it held the segment lock never reached it.
            while (!due()) {
                if (!renderStalled.load()) {
                    // Also woken when the render window comes to count as stalled.
                    stateQueueChanged.wait(lock, [&] { return due() || renderStalled.load(); });
                } else if (!stateQueueChanged.wait_for(lock, kStallProbePeriod, due)) {
                    lock.unlock();
                    probeStalledRender();
                    lock.lock();
                }
            }
            if (stateThreadStop)
                return;
            state = stateQueue.front();
            stateQueue.pop_front();
        }
        sendState(state);
        if (canSend()) {
            sendPlaceholder(type::kState);  // counted when the change was queued
        } else {
            std::lock_guard<std::mutex> guard(stateMutex);
            stateRepliesDue = std::max(stateRepliesDue - 1, 0);
        }
    }
}

void XelRemoteRenderSender::Private::sendState(const RenderState& state) {
    using F = field::State;
    FieldValue values[F::kFieldCount];
    for (std::size_t i = RenderState::Reserved; i <= RenderState::Docked; ++i)
        values[i] = FieldValue::u8(state.flags[i]);
    values[F::kParent] = FieldValue::i64(state.parent);
    std::array<char, kStateBytes> payload{};
    if (xel::messages::encodePayload(layoutOf(type::kSetState), values, F::kFieldCount,
                                     payload.data(), payload.size()))
        link()->sendMessage(type::kSetState, payload.data(), payload.size());
}

void XelRemoteRenderSender::Private::probeStalledRender() {
    const std::shared_ptr<xel::MessageChannel> channel = link();
    if (!renderStalled.load() || !channel->asyncIdle())
        return;
    // It was given up in the middle of what it was sent, perhaps inside a transaction, which would
    // hold the probe unanswered: that part-transaction is aborted. The scene goes whole again
    // once it answers.
    send(type::kEndTransaction, {FieldValue::rawText(xel::messages::kAbortText)});
    send(type::kEcho, {FieldValue::str(kStallProbe)});
}

void XelRemoteRenderSender::Private::stopWatch() {
    std::unique_lock<std::mutex> lock(watchMutex);
    watchCancelled.store(true);
    if (watch)
        watch->cancel();
    std::thread finished = std::move(watchThread);
    lock.unlock();
    if (finished.joinable())
        finished.join();
    lock.lock();
    watch.reset();
}

XelRemoteRenderSender::XelRemoteRenderSender(const wchar_t* sessionPath,
                                             SetEntityAttributeCallback setEntityAttribute,
                                             EnumEntityContentCallback enumEntityContent,
                                             EnumEntityAttributesCallback enumEntityAttributes,
                                             ExportTextureCallback exportTexture,
                                             DestroyPointerCallback destroyPointer, long queueId)
    : d(std::make_unique<Private>(this)) {
    d->sessionPath = sessionPath ? sessionPath : L"";
    d->setEntityAttribute = setEntityAttribute;
    d->enumEntityContent = enumEntityContent;
    d->enumEntityAttributes = enumEntityAttributes;
    d->exportTexture = exportTexture;
    d->destroyPointer = destroyPointer;
    d->channelOptions.segmentBytes = xel::segmentBytesFromEnvironment(xel::kSegmentBytesVariable);
    d->channelOptions.stallLimitMs = xel::stallLimitFromEnvironment(xel::kStallLimitVariable);
    d->channel = std::make_shared<xel::MessageChannel>(&d->relay, queueId, d->channelOptions);
    d->stateThread = std::thread(&Private::stateLoop, d.get());
    d->channel->run();
}

XelRemoteRenderSender::~XelRemoteRenderSender() {
    stopSending();
}

void XelRemoteRenderSender::stopSending() {
    if (d->stopped)
        return;
    d->stopped = true;
    d->renderRunning.store(false);
    d->stopWatch();
    {
        std::lock_guard<std::mutex> guard(d->stateQueueMutex);
        d->stateThreadStop = true;
    }
    d->stateQueueChanged.notify_all();
    d->stateThread.join();
    d->link()->close();  // joins the reader: no call reaches this object afterwards
}

long long XelRemoteRenderSender::startRender(const wchar_t* program, long long mainWindowHandle,
                                             long long parentWindowHandle) {
    const std::string session = QString::fromStdWString(d->sessionPath).toStdString();
    const std::string programPath = QString::fromWCharArray(program ? program : L"").toStdString();
    const std::vector<std::string> arguments = {std::to_string(d->link()->queueId()),
                                                std::to_string(mainWindowHandle),
                                                std::to_string(parentWindowHandle), session};
    const std::vector<std::string> environment = {
        std::string(xel::kStarterPidVariable) + "=" +
        std::to_string(xel::platform::currentProcessId())};
    d->stopWatch();
    d->renderExited.store(false);
    d->renderStalled.store(false);
    // Not Qt's detached start: its new process allocates before it starts the program, which can
    // hang it for good when another thread held the allocator at the copy.
    const std::int64_t pid =
        xel::platform::startDetachedProcess(programPath, arguments, session, environment);
    if (pid <= 0) {
        // No render window will take the channel: nothing of it is left behind.
        qWarning("Render window %s did not start", programPath.c_str());
        d->renderGone.store(true);
        d->link()->close();
        return 0;
    }

    // A render window that ends without "EXIT" (a crash) must not leave the host writing into a
    // segment that nobody drains: its end counts as its "EXIT", and its channel goes with it.
    std::lock_guard<std::mutex> guard(d->watchMutex);
    d->renderGone.store(false);
    d->watchCancelled.store(false);
    d->startedAt = std::chrono::steady_clock::now();
    d->watch = std::make_unique<xel::platform::ProcessWatch>(pid);
    d->watchThread = std::thread([this, watch = d->watch.get()] {
        if (!watch->waitForEnd())
            return;  // cancelled
        d->renderGone.store(true);
        // What it wrote before it ended (its "EXIT", an answer, a request) still arrives.
        const std::shared_ptr<xel::MessageChannel> channel = d->link();
        if (!channel->deliverPeerLeftovers(kLeftoverDeliveryMs,
                                           [this] { return d->watchCancelled.load(); }) &&
            !d->watchCancelled.load() && channel->isRunning())
            qWarning(
                "Render window on queue %d ended; what it wrote last did not all arrive "
                "within %d ms and is dropped",
                channel->queueId(), kLeftoverDeliveryMs);
        onRenderExit();
        channel->close();
    });
    return 0;  // the detached process is not tracked by the process object
}

bool XelRemoteRenderSender::renderWindowGone() const {
    if (d->renderRunning.load())
        return false;
    if (d->renderGone.load() || d->renderExited.load() || d->renderStalled.load())
        return true;
    std::lock_guard<std::mutex> guard(d->watchMutex);
    return !d->watch || d->watch->hasEnded() ||
           std::chrono::steady_clock::now() - d->startedAt >
               std::chrono::milliseconds(kAnnounceLimitMs);
}

bool XelRemoteRenderSender::restartRender(const wchar_t* program, long long mainWindowHandle,
                                          long long parentWindowHandle) {
    if (d->stopped || !renderWindowGone())
        return false;
    {
        // One that lingers (stopped, or silent) goes for good: it is replaced.
        std::lock_guard<std::mutex> guard(d->watchMutex);
        if (d->watch)
            d->watch->terminate();
    }
    d->stopWatch();
    d->renderRunning.store(false);
    std::shared_ptr<xel::MessageChannel> old = d->link();
    old->close();  // before the new one: it frees the names the new one takes
    auto fresh =
        std::make_shared<xel::MessageChannel>(&d->relay, old->queueId(), d->channelOptions);
    {
        std::lock_guard<std::mutex> guard(d->stateMutex);
        d->stateRepliesDue = 0;
    }
    {
        std::lock_guard<std::mutex> guard(d->channelMutex);
        d->channel = fresh;
    }
    fresh->run();
    startRender(program, mainWindowHandle, parentWindowHandle);
    return true;
}

const wchar_t* XelRemoteRenderSender::sessionPath() const {
    return d->sessionPath.c_str();
}

bool XelRemoteRenderSender::isRenderRunning() const {
    return d->renderRunning.load();
}

long XelRemoteRenderSender::queueId() const {
    return d->link()->queueId();
}

void XelRemoteRenderSender::getCurrentState(bool& reserved, bool& loadingModel, bool& closing,
                                            bool& renderWindowVisible, bool& settingsUIVisible,
                                            bool& materialsUIVisible,
                                            bool& productionDialogRequested,
                                            bool& dockedWindowsMode,
                                            long long& renderWindowParent) const {
    std::lock_guard<std::mutex> guard(d->stateMutex);
    const RenderState& s = d->state;
    reserved = s.flags[RenderState::Reserved];
    loadingModel = s.flags[RenderState::LoadingModel];
    closing = s.flags[RenderState::Closing];
    renderWindowVisible = s.flags[RenderState::WindowVisible];
    settingsUIVisible = s.flags[RenderState::SettingsVisible];
    materialsUIVisible = s.flags[RenderState::MaterialsVisible];
    productionDialogRequested = s.flags[RenderState::ProductionDialog];
    dockedWindowsMode = s.flags[RenderState::Docked];
    renderWindowParent = s.parent;
}

void XelRemoteRenderSender::setCurrentState(bool reserved, bool loadingModel, bool closing,
                                            bool renderWindowVisible, bool settingsUIVisible,
                                            bool materialsUIVisible, bool productionDialogRequested,
                                            bool dockedWindowsMode, long long renderWindowParent) {
    RenderState state;
    const bool flags[8] = {reserved,
                           loadingModel,
                           closing,
                           renderWindowVisible,
                           settingsUIVisible,
                           materialsUIVisible,
                           productionDialogRequested,
                           dockedWindowsMode};
    std::copy(std::begin(flags), std::end(flags), state.flags);
    state.parent = renderWindowParent;
    {
        std::lock_guard<std::mutex> guard(d->stateMutex);
        d->state = state;
        if (!d->canSend())
            return;
        // Queued under the state lock, so the render window gets the changes in the order made.
        // The request for the resulting state that follows is counted now: an answer to an
        // earlier request that arrives before it is sent predates this change.
        d->countStateRequest();
        std::lock_guard<std::mutex> queueGuard(d->stateQueueMutex);
        d->stateQueue.push_back(state);
    }
    d->stateQueueChanged.notify_one();
}

namespace {

template <typename Change>
void changeState(XelRemoteRenderSender& sender, Change change) {
    bool f[8];
    long long parent;
    sender.getCurrentState(f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], parent);
    f[RenderState::ProductionDialog] = false;
    if (!change(f, parent))
        return;
    sender.setCurrentState(f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], parent);
}

void setFlag(XelRemoteRenderSender& sender, RenderState::Flag which, bool value) {
    changeState(sender, [&](bool* f, long long&) {
        f[which] = value;
        return true;
    });
}

}  // namespace

bool XelRemoteRenderSender::isLoadingModel() const {
    return d->flag(RenderState::LoadingModel);
}

bool XelRemoteRenderSender::isClosing() const {
    return d->flag(RenderState::Closing);
}

bool XelRemoteRenderSender::renderWindowVisible() const {
    return d->flag(RenderState::WindowVisible);
}

bool XelRemoteRenderSender::settingsUIVisible() const {
    return d->flag(RenderState::SettingsVisible);
}

bool XelRemoteRenderSender::materialsUIVisible() const {
    return d->flag(RenderState::MaterialsVisible);
}

bool XelRemoteRenderSender::transactionInProgress() const {
    return d->transactionDepth.load() > 0;
}

void XelRemoteRenderSender::setLoadingModel(bool loading) {
    changeState(*this, [&](bool* f, long long&) {
        if (f[RenderState::LoadingModel] == loading)
            return false;
        f[RenderState::LoadingModel] = loading;
        return true;
    });
}

void XelRemoteRenderSender::setRenderWindowVisible(bool visible) {
    setFlag(*this, RenderState::WindowVisible, visible);
}

void XelRemoteRenderSender::showSettingsUI(bool visible) {
    setFlag(*this, RenderState::SettingsVisible, visible);
}

void XelRemoteRenderSender::showMaterialsUI(bool visible) {
    setFlag(*this, RenderState::MaterialsVisible, visible);
}

void XelRemoteRenderSender::showProductionDialog() {
    setFlag(*this, RenderState::ProductionDialog, true);
}

void XelRemoteRenderSender::setDockedWindowsMode(bool docked) {
    setFlag(*this, RenderState::Docked, docked);
}

void XelRemoteRenderSender::setRenderWindowParent(long long handle) {
    changeState(*this, [&](bool*, long long& parent) {
        if (parent == handle)
            return false;
        parent = handle;
        return true;
    });
}

void XelRemoteRenderSender::showImagesGallery(bool) {}

bool XelRemoteRenderSender::isProxyEntity(const char*) const {
    return false;
}

void XelRemoteRenderSender::requestRenderExit() {
    if (d->renderRunning.load())
        d->sendPlaceholder(type::kExit);
}

void XelRemoteRenderSender::requestSaveData() {
    if (d->renderRunning.load())
        d->sendPlaceholder(type::kSave);
}

void XelRemoteRenderSender::invalidateRender() {
    if (d->canSend())
        d->sendPlaceholder(type::kRedraw);
}

void XelRemoteRenderSender::echo(const char* text) {
    if (d->canSend())
        d->send(type::kEcho, {FieldValue::str(text)});
}

void XelRemoteRenderSender::exportScene(const char* targetPath) {
    if (targetPath && *targetPath && d->canSend())
        d->send(type::kExport, {FieldValue::str(targetPath)});
}

void XelRemoteRenderSender::sendDictionaryMessage(const char* owner, const char* dictionary,
                                                  const char* key, const char* value) {
    if (d->canSend())
        d->send(type::kDictionaryMessage, {FieldValue::str(owner), FieldValue::str(dictionary),
                                           FieldValue::str(key), FieldValue::str(value)});
}

void XelRemoteRenderSender::setLanguage(const char* language) {
    if (d->canSend())
        d->send(type::kSetLanguage, {FieldValue::str(language)});
}

void XelRemoteRenderSender::generateMaterialMaps(const char* materialName, int m1, int m2, int m3,
                                                 int m4, float mapValue,
                                                 MaterialQualityType quality,
                                                 MaterialImageFormat format,
                                                 MaterialMapsCallback done) {
    d->materialMaps.store(done);
    if (d->canSend())
        d->send(type::kMapsGenerate,
                {FieldValue::i32(m1), FieldValue::i32(m2), FieldValue::i32(m3), FieldValue::i32(m4),
                 FieldValue::f32(mapValue), FieldValue::i32(quality), FieldValue::i32(format),
                 FieldValue::str(materialName)});
}

void XelRemoteRenderSender::addMesh(const char* meshId, const char* entityId, const char* meshLabel,
                                    const float* positions, const float* normals,
                                    const float* frontUVs, const float* backUVs,
                                    const bool* vertexFlags, const int* indices, int indexCount,
                                    int vertexCount, const char* frontMaterial,
                                    const char* backMaterial) {
    if (!d->canSend())
        return;
    const auto v = static_cast<std::uint64_t>(vertexCount);
    const auto i = static_cast<std::uint64_t>(indexCount);
    if (indexCount < 0 || vertexCount < 0 ||
        (v > 0 && !(positions && normals && frontUVs && backUVs && vertexFlags)) ||
        (i > 0 && !indices)) {
        static xel::RefusalCount unreadable;
        xel::warnRefused(unreadable, "XelRemoteRenderSender::addMesh",
                         "a negative count, or a null array for a count above 0");
        return;
    }
    static_assert(sizeof(int) == sizeof(std::int32_t));
    d->send(type::kAddMesh,
            {FieldValue::str(meshId), FieldValue::str(entityId), FieldValue::str(meshLabel),
             FieldValue::f32Array(positions, 3 * v), FieldValue::f32Array(normals, 3 * v),
             FieldValue::f32Array(frontUVs, 2 * v), FieldValue::f32Array(backUVs, 2 * v),
             FieldValue::u8Array(vertexFlags, v),
             FieldValue::i32Array(reinterpret_cast<const std::int32_t*>(indices), i),
             FieldValue::i32(indexCount), FieldValue::str(frontMaterial),
             FieldValue::str(backMaterial)});
}

void XelRemoteRenderSender::addMaterial(const char* materialId, const char* materialName,
                                        const char* detailText, int intValue, float floatValue,
                                        const char* extraText) {
    if (d->canSend())
        d->send(type::kAddMaterial, {FieldValue::str(materialId), FieldValue::str(materialName),
                                     FieldValue::str(detailText), FieldValue::i32(intValue),
                                     FieldValue::f32(floatValue), FieldValue::str(extraText)});
}

namespace {

// Whether the array `values` of a message is given; a null one is refused input, logged.
bool given(const float* values, const char* where) {
    if (values)
        return true;
    static xel::RefusalCount missing;
    xel::warnRefused(missing, where, "a null array where the message needs one");
    return false;
}

}  // namespace

void XelRemoteRenderSender::addGroup(const char* groupId, const char* parentId,
                                     const char* recordLabel, const char* passText,
                                     const float* transform, const char* recordNote) {
    if (d->canSend() && given(transform, "XelRemoteRenderSender::addGroup"))
        d->send(type::kAddGroup,
                {FieldValue::str(groupId), FieldValue::str(parentId), FieldValue::str(recordLabel),
                 FieldValue::str(passText), FieldValue::f32Array(transform, 16),
                 FieldValue::str(recordNote)});
}

void XelRemoteRenderSender::addInstance(const char* instanceId, const char* parentId,
                                        const char* definitionId, const char* recordLabel,
                                        const char* passText, const float* transform,
                                        const char* recordNote) {
    if (d->canSend() && given(transform, "XelRemoteRenderSender::addInstance"))
        d->send(type::kAddInstance, {FieldValue::str(instanceId), FieldValue::str(parentId),
                                     FieldValue::str(definitionId), FieldValue::str(recordLabel),
                                     FieldValue::str(passText), FieldValue::f32Array(transform, 16),
                                     FieldValue::str(recordNote)});
}

void XelRemoteRenderSender::addComponentDef(const char* definitionId, const char* defText,
                                            bool defFlag, const char* defNote) {
    if (d->canSend())
        d->send(type::kAddComponentDef, {FieldValue::str(definitionId), FieldValue::str(defText),
                                         FieldValue::u8(defFlag), FieldValue::str(defNote)});
}

void XelRemoteRenderSender::addLayer(const char* layerId, bool layerFlag, int layerValue,
                                     bool defaultLayer) {
    if (d->canSend())
        d->send(type::kAddLayer, {FieldValue::str(layerId), FieldValue::u8(layerFlag),
                                  FieldValue::i32(layerValue), FieldValue::u8(defaultLayer)});
}

void XelRemoteRenderSender::removeEntity(const char* entityId, const char* parentId,
                                         bool contentTable, bool forUpdate) {
    if (d->canSend())
        d->send(type::kRemoveEntity, {FieldValue::str(entityId), FieldValue::str(parentId),
                                      FieldValue::u8(contentTable), FieldValue::u8(forUpdate)});
}

void XelRemoteRenderSender::removeEntityMeshes(const char* entityId) {
    if (d->canSend())
        d->send(type::kRemoveMeshes, {FieldValue::str(entityId)});
}

void XelRemoteRenderSender::clearSession() {
    if (d->canSend())
        d->send(type::kClearSession, {});
}

void XelRemoteRenderSender::setCamera(float v1, float v2, float v3, float v4, float v5, float v6,
                                      float v7, float v8, float v9, bool flag1, bool flag2,
                                      float v10, float v11, float v12, float v13,
                                      const char* sceneName) {
    if (d->canSend())
        d->send(type::kSetCamera,
                {FieldValue::f32(v1), FieldValue::f32(v2), FieldValue::f32(v3), FieldValue::f32(v4),
                 FieldValue::f32(v5), FieldValue::f32(v6), FieldValue::f32(v7), FieldValue::f32(v8),
                 FieldValue::f32(v9), FieldValue::u8(flag1), FieldValue::u8(flag2),
                 FieldValue::f32(v10), FieldValue::f32(v11), FieldValue::f32(v12),
                 FieldValue::f32(v13), FieldValue::str(sceneName)});
}

void XelRemoteRenderSender::setSceneLight(int p1, float p2, float p3, float p4, float p5, int p6,
                                          float p7, float p8, float p9) {
    if (d->canSend())  // the wire keeps p4 and p5 last
        d->send(type::kSetSunLight,
                {FieldValue::i32(p1), FieldValue::f32(p2), FieldValue::f32(p3), FieldValue::i32(p6),
                 FieldValue::f32(p7), FieldValue::f32(p8), FieldValue::f32(p9), FieldValue::f32(p4),
                 FieldValue::f32(p5)});
}

void XelRemoteRenderSender::setSectionPlane(int planeNumber, bool active, const float* firstVector,
                                            const float* secondVector, bool capsOn, int capsValue) {
    if (d->canSend() && given(firstVector, "XelRemoteRenderSender::setSectionPlane") &&
        given(secondVector, "XelRemoteRenderSender::setSectionPlane"))
        d->send(type::kSetSectionPlane,
                {FieldValue::i32(planeNumber), FieldValue::i32(active ? 1 : 0),
                 FieldValue::f32Array(firstVector, 3), FieldValue::f32Array(secondVector, 3),
                 FieldValue::i32(capsOn ? 1 : 0), FieldValue::i32(capsValue)});
}

void XelRemoteRenderSender::removeSectionPlane(int planeNumber) {
    if (d->canSend())
        d->send(type::kRemoveSectionPlane, {FieldValue::i32(planeNumber)});
}

void XelRemoteRenderSender::setEntityVisible(const char* entityId, bool visible,
                                             const char* recordLabel) {
    if (d->canSend())
        d->send(type::kSetVisible,
                {FieldValue::str(entityId), FieldValue::str(recordLabel), FieldValue::u8(visible)});
}

void XelRemoteRenderSender::beginTransaction(const char* name) {
    if (d->transactionDepth.fetch_add(1) > 0)
        return;
    d->transactionAborted.store(false);
    d->send(type::kBeginTransaction, {FieldValue::rawText(name)});
}

void XelRemoteRenderSender::endTransaction(bool abort) {
    int depth = d->transactionDepth.load();
    while (!d->transactionDepth.compare_exchange_weak(depth, std::max(depth - 1, 0))) {
    }
    if (abort)
        d->transactionAborted.store(true);
    if (depth > 1)
        return;  // an inner end: the outermost one tells the render window
    const bool aborted = d->transactionAborted.exchange(false);
    d->send(type::kEndTransaction, {FieldValue::rawText(aborted ? xel::messages::kAbortText : "")});
}

void SenderRelay::onMessage(const char* type, const void* data, long size) {
    m_sender->dispatch(type, data, size);
}

void XelRemoteRenderSender::onMessage(const char* type, const void* data, long size) {
    dispatch(type, data, size);
}

void XelRemoteRenderSender::dispatch(const char* typeName, const void* data, long size) {
    // A render window counted as stalled that is heard from again runs again, as if it had just
    // announced itself.
    if (d->renderStalled.exchange(false) && !d->renderGone.load() && !d->renderExited.load()) {
        qWarning("Render window on queue %d answers again: counted as running",
                 d->link()->queueId());
        onRenderInit();
        d->requestState();
    }
    const MessageLayout* layout = xel::messages::findLayout(typeName);
    if (!layout)
        return;  // not a message of the catalogue
    if (!d->decoded.decode(*layout, data, static_cast<std::size_t>(size))) {
        static xel::RefusalCount unfit;
        xel::warnRefused(unfit, "The plug-in's render link",
                         "a message from the render window whose fields do not fit its payload");
        return;
    }
    if (const Private::Route* route = Private::routeOf(*layout))
        route->handler(*this, d->decoded);
}

const XelRemoteRenderSender::Private::Route* XelRemoteRenderSender::Private::routeOf(
    const MessageLayout& layout) {
    using S = XelRemoteRenderSender;
    using M = DecodedMessage;
    static const Route routes[] = {
        {&layoutOf(type::kInit),
         [](S& s, const M&) {
             {
                 // A render window that announces itself anew answers no request sent before.
                 std::lock_guard<std::mutex> guard(s.d->stateMutex);
                 s.d->stateRepliesDue = 0;
             }
             if (s.d->canSend())
                 s.d->requestState();
             // The render window holds the channel now: without names, the system frees the
             // channel's memory when both processes have ended, even if neither could clean up.
             s.d->link()->releaseNames();
             std::this_thread::sleep_for(std::chrono::milliseconds(100));
             if (!s.d->renderGone.load())
                 s.onRenderInit();
         }},
        {&layoutOf(type::kExit),
         [](S& s, const M&) {
             s.d->renderExited.store(true);
             s.onRenderExit();
         }},
        {&layoutOf(type::kSaved), [](S& s, const M&) { s.onRenderDataSaved(); }},
        {&layoutOf(type::kState),
         [](S& s, const M& m) {
             using F = field::State;
             std::lock_guard<std::mutex> guard(s.d->stateMutex);
             if (std::chrono::steady_clock::now() - s.d->stateRequestedAt > kStateReplyLimit)
                 s.d->stateRepliesDue = 0;
             if (s.d->stateRepliesDue > 0 && --s.d->stateRepliesDue > 0)
                 return;  // a later request is on its way: its answer will tell
             // The reserved flag is ignored.
             for (std::size_t i = RenderState::LoadingModel; i <= RenderState::Docked; ++i)
                 s.d->state.flags[i] = m.flag(i);
             s.d->state.parent = m.i64(F::kParent);
         }},
        {&layoutOf(type::kEcho),
         [](S& s, const M& m) {
             const std::string_view payload = xel::messages::buildEchoReply(s.d->replyBuilder, m);
             if (s.d->replyBuilder.ok())
                 s.d->link()->sendMessageAsync(type::kEchoResult, payload.data(), payload.size());
         }},
        {&layoutOf(type::kMaterialMaps),
         [](S& s, const M& m) {
             using F = field::MaterialMaps;
             if (MaterialMapsCallback done = s.d->materialMaps.load())
                 done(m.str(F::kMaterialName), true, m.wstr(F::kMap1), m.wstr(F::kMap2),
                      m.wstr(F::kMap3), m.wstr(F::kMap4), m.wstr(F::kMap5), m.wstr(F::kMap6),
                      m.wstr(F::kMap7));
         }},
        {&layoutOf(type::kEnumEntityContent),
         [](S& s, const M& m) {
             if (s.d->enumEntityContent)
                 s.d->enumEntityContent(m.str(field::EnumEntityContent::kEntityId));
         }},
        {&layoutOf(type::kEnumEntityAttributes),
         [](S& s, const M& m) {
             using F = field::EnumEntityAttributes;
             if (s.d->enumEntityAttributes)
                 s.d->enumEntityAttributes(m.str(F::kOwner), m.str(F::kDictionary));
         }},
        {&layoutOf(type::kExportTexture),
         [](S& s, const M& m) {
             using F = field::ExportTexture;
             if (s.d->exportTexture)
                 s.d->exportTexture(m.str(F::kFirst), m.str(F::kSecond));
         }},
        {&layoutOf(type::kSetEntityAttribute),
         [](S& s, const M& m) {
             using F = field::SetEntityAttribute;
             if (s.d->setEntityAttribute)
                 s.d->setEntityAttribute(m.str(F::kOwner), m.str(F::kDictionary), m.str(F::kKey),
                                         m.str(F::kValue));
         }},
        // "echores", "MAPSGEN" and every message meant for the render window have no route: they
        // are read and dropped.
    };
    for (const Route& route : routes) {
        if (route.layout == &layout)
            return &route;
    }
    return nullptr;
}

void XelRemoteRenderSender::onChannelConnected() {}

void XelRemoteRenderSender::onChannelDisconnected() {}

void XelRemoteRenderSender::onError(int, const char*) {}

void XelRemoteRenderSender::onRenderInit() {
    d->renderRunning.store(true);
}

void XelRemoteRenderSender::onRenderExit() {
    d->renderRunning.store(false);
    // Nothing it was asked is answered now.
    std::lock_guard<std::mutex> guard(d->stateMutex);
    d->stateRepliesDue = 0;
}

void XelRemoteRenderSender::renderStalled() {
    const std::shared_ptr<xel::MessageChannel> channel = d->link();
    const bool first = !d->renderStalled.exchange(true);
    if (first)
        qWarning("Render window on queue %d took nothing for %d ms: counted as ended",
                 channel->queueId(), d->channelOptions.stallLimitMs);
    if (d->renderRunning.load())
        onRenderExit();
    // What it has not read stays for it: it may run again, in the middle of reading it.
    channel->abandonPeer(false);
    if (!first)
        return;  // a probe that did not get through: the state thread sends the next
    // Whatever it answers when it runs again tells that it is back: the state thread probes it
    // every half second while it stays silent.
    {
        // Under the lock, so that the state thread cannot miss it between its look and its wait.
        std::lock_guard<std::mutex> guard(d->stateQueueMutex);
    }
    d->stateQueueChanged.notify_one();
}

void XelRemoteRenderSender::releaseChannelNames() {
    d->link()->releaseNames();
}

void XelRemoteRenderSender::onRenderDataSaved() {}
