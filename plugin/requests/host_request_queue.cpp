// The host request queue.
#include "plugin/requests/host_request_queue.h"

#include <QThread>

#include <utility>

#include "XelRemoteRenderSender.h"
#include "plugin/export/attribute_export.h"
#include "plugin/export/render_output.h"
#include "plugin/lifecycle/plugin_state.h"
#include "plugin/session/scene_session.h"

namespace orvanta {
namespace {

QString text(const char* utf8) {
    return QString::fromUtf8(utf8 ? utf8 : "");
}

// Whether `queued`, a pending request, stands for the same work as `fresh`.
bool matches(const HostRequest& queued, const HostRequest& fresh) {
    if (queued.size() != fresh.size())
        return false;
    int compared = queued.size();
    const QString& kind = queued.constFirst();
    if (kind == QLatin1String(request_kind::kSetEntityAttribute) ||
        kind == QLatin1String(request_kind::kDestroyPointer))
        --compared;
    for (int i = 0; i < compared; ++i) {
        if (queued.at(i) != fresh.at(i))
            return false;
    }
    return true;
}

std::atomic<int> g_sessionBusy{0};

const HostCallbacks& host() {
    return pluginState().host;
}

void routeRequest(const HostRequest& request, RequestMode mode) {
    if (postsRequest(mode))
        hostRequestQueue().post(request);
    else
        callHost(request);
}

// Runs a queued set-attribute request, or keeps it for later when it is not ready.
void runSetAttribute(const HostRequest& request, QVector<HostRequest>& deferred) {
    const QByteArray owner = request.value(1).toUtf8();
    if (!setAttributeRequestReady(owner)) {
        deferred.append(request);
        return;
    }
    setEntityAttribute(owner.constData(), request.value(2).toUtf8().constData(),
                       request.value(3).toUtf8().constData(), request.value(4).toUtf8().constData(),
                       RunNow);
}

void runRequest(const HostRequest& request, QVector<HostRequest>& deferred) {
    const QString& kind = request.constFirst();
    if (kind == QLatin1String(request_kind::kDestroyPointer)) {
        destroyPointer(parsePointerText(request.value(1)), RunNow);
    } else if (kind == QLatin1String(request_kind::kEnumEntityAttributes)) {
        enumEntityAttributes(request.value(1).toUtf8().constData(),
                             request.value(2).toUtf8().constData(), RunNow);
    } else if (kind == QLatin1String(request_kind::kEnumEntityContent)) {
        if (const ObrHostEnumEntityContent callback = host().enumEntityContent)
            callback(request.value(1).toUtf8().constData());
    } else if (kind == QLatin1String(request_kind::kExportTexture)) {
        exportTexture(request.value(1).toUtf8().constData(), request.value(2).toUtf8().constData(),
                      RunNow);
    } else if (kind == QLatin1String(request_kind::kSetEntityAttribute)) {
        runSetAttribute(request, deferred);
    } else if (kind == QLatin1String(request_kind::kRememberSceneAttribute)) {
        rememberSceneAttribute(sceneSession(),
                               {request.value(1).toUtf8(), request.value(2).toUtf8(),
                                request.value(3).toUtf8(), request.value(4).toUtf8()});
    }
}

}  // namespace

void HostRequestQueue::post(HostRequest request) {
    if (request.isEmpty())
        return;
    std::lock_guard<std::mutex> guard(m_mutex);
    for (int i = 0; i < m_requests.size(); ++i) {
        if (matches(m_requests.at(i), request)) {
            const HostRequest matched = m_requests.at(i);
            m_requests.removeAll(matched);
            break;
        }
    }
    m_requests.prepend(std::move(request));
    m_size.store(m_requests.size(), std::memory_order_release);
}

bool HostRequestQueue::takeOldest(HostRequest& request) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_requests.isEmpty())
        return false;
    request = m_requests.takeLast();
    m_size.store(m_requests.size(), std::memory_order_release);
    return true;
}

QVector<HostRequest> HostRequestQueue::pending() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_requests;
}

HostRequestQueue& hostRequestQueue() {
    static auto* queue = new HostRequestQueue;  // never destroyed: posts may come while exiting
    return *queue;
}

bool postsRequest(RequestMode mode) {
    if (mode == AlwaysPost)
        return true;
    return mode == PostOffHostThread && QThread::currentThreadId() != pluginState().hostThreadId;
}

void raiseSessionBusy() {
    g_sessionBusy.fetch_add(1);
}

void lowerSessionBusy() {
    g_sessionBusy.fetch_sub(1);
}

int sessionBusyCount() {
    return g_sessionBusy.load();
}

bool setAttributeRequestReady(const QByteArray& owner) {
    if (owner == kExecuteAction || owner.startsWith('%'))
        return true;
    if (sessionBusyCount() > 0)
        return false;
    const XelRemoteRenderSender* sender = renderSender();
    return !(sender && sender->isLoadingModel());
}

void callHost(const HostRequest& request) {
    const QString kind = request.value(0);
    const QByteArray first = request.value(1).toUtf8();
    const QByteArray second = request.value(2).toUtf8();
    const HostCallbacks& callbacks = host();
    if (kind == QLatin1String(request_kind::kEnumEntityContent)) {
        if (callbacks.enumEntityContent)
            callbacks.enumEntityContent(first.constData());
    } else if (kind == QLatin1String(request_kind::kEnumEntityAttributes)) {
        if (callbacks.enumEntityAttributes)
            callbacks.enumEntityAttributes(first.constData(), second.constData());
    } else if (kind == QLatin1String(request_kind::kExportTexture)) {
        if (callbacks.exportTexture)
            callbacks.exportTexture(first.constData(), second.constData());
    } else if (kind == QLatin1String(request_kind::kDestroyPointer)) {
        if (callbacks.destroyPointer)
            callbacks.destroyPointer(parsePointerText(request.value(1)));
    } else if (kind == QLatin1String(request_kind::kSetEntityAttribute)) {
        if (callbacks.setEntityAttribute)
            callbacks.setEntityAttribute(first.constData(), second.constData(),
                                         request.value(3).toUtf8().constData(),
                                         request.value(4).toUtf8().constData());
    }
}

void enumEntityContent(const char* entityId, RequestMode mode) {
    routeRequest({QLatin1String(request_kind::kEnumEntityContent), text(entityId)}, mode);
}

void enumEntityAttributes(const char* owner, const char* dictionary, RequestMode mode) {
    PluginOutput output;
    requestEntityAttributes(sceneSession(), owner ? owner : "", dictionary ? dictionary : "", mode,
                            output.get());
}

void exportTexture(const char* first, const char* second, RequestMode mode) {
    routeRequest({QLatin1String(request_kind::kExportTexture), text(first), text(second)}, mode);
}

void destroyPointer(std::int64_t pointer, RequestMode mode) {
    routeRequest({QLatin1String(request_kind::kDestroyPointer), QString::number(pointer)}, mode);
}

void setEntityAttribute(const char* owner, const char* dictionary, const char* key,
                        const char* value, RequestMode mode) {
    PluginOutput output;
    requestSetEntityAttribute(
        sceneSession(),
        {owner ? owner : "", dictionary ? dictionary : "", key ? key : "", value ? value : ""},
        mode, output.get());
}

void executeCustomAction(const char* action, const char* subject, const char* parameter) {
    setEntityAttribute(kExecuteAction, action, subject, parameter, PostOffHostThread);
}

void checkMessages() {
    HostRequestQueue& queue = hostRequestQueue();
    if (queue.empty())
        return;
    QVector<HostRequest> deferred;
    HostRequest request;
    while (queue.takeOldest(request))
        runRequest(request, deferred);
    for (HostRequest& kept : deferred)
        queue.post(std::move(kept));
}

int pendingMessagesCount() {
    return hostRequestQueue().size();
}

std::int64_t parsePointerText(const QString& text) {
    int i = 0;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    std::uint64_t magnitude = 0;
    for (; i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); ++i)
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(text.at(i).unicode() - '0');
    // Wraps modulo 2^64 like the unsigned arithmetic above, so no input overflows.
    return static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
}

}  // namespace orvanta
